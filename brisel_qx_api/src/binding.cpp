#include "brisel_qx_api/src/binding.hpp"

namespace brisel_qx_api {
namespace {

constexpr Py_ssize_t not_found = -1;

Py_ssize_t parameter_index(std::span<const char* const> parameters, PyObject* keyword) {
    for (size_t i = 0; i < parameters.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, parameters[i]) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return not_found;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_name_list(const std::vector<const char*>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) {
                text += ',';
            }
            text += i + 1 == names.size() ? " and " : " ";
        }
        text += '\'';
        text += names[i];
        text += '\'';
    }
    return text;
}

}  // namespace

bool KeywordArgs::from_dict(PyObject* dict, KeywordArgs& out) {
    out = KeywordArgs();
    out.is_dict_ = true;
    if (dict == nullptr) {
        return true;
    }
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            return false;
        }
        out.from_dict_.emplace_back(key, value);
    }
    return true;
}

Py_ssize_t KeywordArgs::size() const {
    if (is_dict_) {
        return static_cast<Py_ssize_t>(from_dict_.size());
    }
    return names_ == nullptr ? 0 : PyTuple_Size(names_);
}

PyObject* KeywordArgs::name(Py_ssize_t index) const {
    return is_dict_ ? from_dict_[static_cast<size_t>(index)].first : PyTuple_GetItem(names_, index);
}

PyObject* KeywordArgs::value(Py_ssize_t index) const {
    return is_dict_ ? from_dict_[static_cast<size_t>(index)].second : values_[index];
}

std::string CallableName::full_name() const {
    std::string text;
    if (owner != nullptr) {
        text += owner;
        text += '.';
    }
    text += name;
    text += "()";
    return text;
}

bool bind_arguments(const CallableName& callable, std::span<const char* const> parameters, PyObject* const* positional,
                    Py_ssize_t npositional, const KeywordArgs& keywords, PyObject** bound) {
    const auto nparameters = static_cast<Py_ssize_t>(parameters.size());
    if (npositional > nparameters) {
        // "arguments" also for one parameter: the text as the module has always raised it.
        PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                     callable.full_name().c_str(), nparameters, npositional, npositional == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < nparameters; ++i) {
        bound[i] = i < npositional ? positional[i] : nullptr;
    }

    const Py_ssize_t nkeywords = keywords.size();
    for (Py_ssize_t k = 0; k < nkeywords; ++k) {
        if (parameter_index(parameters, keywords.name(k)) == not_found) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", callable.full_name().c_str(),
                         keywords.name(k));
            return false;
        }
    }
    for (Py_ssize_t k = 0; k < nkeywords; ++k) {
        const Py_ssize_t index = parameter_index(parameters, keywords.name(k));
        if (bound[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", callable.full_name().c_str(),
                         parameters[static_cast<size_t>(index)]);
            return false;
        }
        bound[index] = keywords.value(k);
    }

    std::vector<const char*> missing;
    for (Py_ssize_t i = 0; i < nparameters; ++i) {
        if (bound[i] == nullptr) {
            missing.push_back(parameters[static_cast<size_t>(i)]);
        }
    }
    if (!missing.empty()) {
        PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", callable.full_name().c_str(),
                     missing.size(), missing.size() == 1 ? "" : "s", quoted_name_list(missing).c_str());
        return false;
    }
    return true;
}

}  // namespace brisel_qx_api
