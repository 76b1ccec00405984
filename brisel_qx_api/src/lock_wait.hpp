// How a call that finds its device busy waits for the device's lock.
#pragma once

namespace brisel_qx_api {

// Makes every wait for a device connection's lock give up the interpreter
// lock while it waits. Without this, a Python thread that calls an interface
// of a device in the middle of a firmware update would block holding the
// interpreter lock, and the update's Python callbacks could never run again.
// Idempotent; called by every module execution.
void install_lock_wait_hook();

}  // namespace brisel_qx_api
