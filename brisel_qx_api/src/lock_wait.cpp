#include "brisel_qx_api/src/lock_wait.hpp"

#include "brisel_qx_api/src/gil.hpp"
#include "qx_sdk_client/src/device_connection.hpp"

namespace brisel_qx_api {
namespace {

// The SDK calls this only when another thread holds the connection's lock.
// Every SDK call of a Python thread is made by a method with the interpreter
// lock held, so such a thread gives it up here; threads the interpreter does
// not know (the scan's worker, which only ever locks connections it has just
// made) have no interpreter lock to give up.
void wait_without_interpreter_lock(void (*wait)(void* wait_context), void* wait_context) {
    if (PyGILState_GetThisThreadState() == nullptr) {
        wait(wait_context);
        return;
    }
    GilReleased released;
    wait(wait_context);
}

}  // namespace

void install_lock_wait_hook() { qx_sdk_client::device::set_lock_wait_hook(&wait_without_interpreter_lock); }

}  // namespace brisel_qx_api
