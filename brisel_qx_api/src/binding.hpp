// Binding a call's arguments to a method's parameters.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "brisel_qx_api/src/python.hpp"

namespace brisel_qx_api {

// The keyword arguments of one call, in the order the caller gave them: the
// vectorcall form (names tuple, values after the positional ones) or a dict.
// Holds borrowed references only; the call's frame keeps them alive.
class KeywordArgs {
public:
    KeywordArgs() = default;
    KeywordArgs(PyObject* names, PyObject* const* values) : names_(names), values_(values) {}
    // Empty `dict` (null) gives no keywords. False with an error set if a key
    // is not a str.
    static bool from_dict(PyObject* dict, KeywordArgs& out);

    Py_ssize_t size() const;
    PyObject* name(Py_ssize_t index) const;
    PyObject* value(Py_ssize_t index) const;

private:
    PyObject* names_ = nullptr;
    PyObject* const* values_ = nullptr;
    std::vector<std::pair<PyObject*, PyObject*>> from_dict_;
    bool is_dict_ = false;
};

// What a callable is called, for the binding errors: "Class.method()", or
// "function()" when `owner` is null.
struct CallableName {
    const char* owner;
    const char* name;

    std::string full_name() const;
};

// Fills `bound` (one borrowed reference per parameter, in parameter order)
// from `npositional` positional arguments, of which the first
// min(npositional, parameters.size()) are at `positional`, and from the
// keywords. Every parameter is required. False with the TypeError of the
// first rule broken: surplus positional arguments, an unknown keyword, a
// parameter given twice, parameters left without a value.
bool bind_arguments(const CallableName& callable, std::span<const char* const> parameters, PyObject* const* positional,
                    Py_ssize_t npositional, const KeywordArgs& keywords, PyObject** bound);

}  // namespace brisel_qx_api
