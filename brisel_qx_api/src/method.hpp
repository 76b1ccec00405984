// The one template that every Python-callable function, method, constructor
// and attribute getter of the module goes through. A C++ function states what
// it takes and returns; the template binds the call's arguments, checks the
// receiver, borrows it, converts the arguments (FromPython), calls, maps an
// SDK error (client_to_pyerror) and converts the result (ToPython), and lets
// no C++ exception escape. The borrow is released on every path.
//
//   PyMethodDef interface_methods[] = {
//       method<"get_nickname", &Interface::get_nickname>("Gets the nickname..."_doc),
//       method<"set_nickname", &Interface::set_nickname, "nickname">("Sets the nickname..."_doc),
//       {},
//   };
//
// A method is a member function of the C++ value that the object holds, or a
// free function that takes that value first; its PyClass says which class
// that is and how it is borrowed. The documentation starts with the text
// signature built from the names: "set_nickname($self, nickname)\n--\n\n",
// then the docstring; an empty docstring leaves __doc__ None. The function runs
// with the interpreter lock held. Its arguments are plain C++ values whose
// Python owners the call keeps alive, so code inside it may give the lock up
// while it waits for something (GilReleased, lock_releasing_gil) as long as
// it touches no Python object meanwhile.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <functional>
#include <new>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "brisel_qx_api/src/binding.hpp"
#include "brisel_qx_api/src/conversions.hpp"
#include "brisel_qx_api/src/exceptions.hpp"
#include "brisel_qx_api/src/fixed_string.hpp"
#include "brisel_qx_api/src/instance.hpp"
#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {

namespace method_detail {

template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
    using Result = R;
    using Args = std::tuple<A...>;
};
template <class R, class... A>
struct FunctionTraits<R (*)(A...) noexcept> : FunctionTraits<R (*)(A...)> {};

// The receiver and the remaining parameters of a method: a free function
// takes the held value first, a member function is called on it.
template <class F>
struct MethodTraits;
template <class R, class S, class... A>
struct MethodTraits<R (*)(S, A...)> {
    using Self = std::remove_cvref_t<S>;
    using Params = std::tuple<A...>;
};
template <class R, class S, class... A>
struct MethodTraits<R (*)(S, A...) noexcept> : MethodTraits<R (*)(S, A...)> {};
template <class R, class C, class... A>
struct MethodTraits<R (C::*)(A...)> {
    using Self = C;
    using Params = std::tuple<A...>;
};
template <class R, class C, class... A>
struct MethodTraits<R (C::*)(A...) const> : MethodTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct MethodTraits<R (C::*)(A...) noexcept> : MethodTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct MethodTraits<R (C::*)(A...) const noexcept> : MethodTraits<R (C::*)(A...)> {};

template <class T>
struct IsExpected : std::false_type {};
template <class T, class E>
struct IsExpected<std::expected<T, E>> : std::true_type {};

// Python entry points return null with an error set; a C++ exception (only
// allocation failures are expected) becomes one here instead of unwinding
// through the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected C++ exception");
    }
    return nullptr;
}

template <class R>
PyObject* result_to_python(R&& result) {
    using Plain = std::remove_cvref_t<R>;
    if constexpr (IsExpected<Plain>::value) {
        if (!result.has_value()) {
            raise_client_error(std::move(result).error());
            return nullptr;
        }
        if constexpr (std::is_void_v<typename Plain::value_type>) {
            Py_RETURN_NONE;
        } else {
            return ToPython<std::remove_cvref_t<typename Plain::value_type>>::convert(std::move(*result)).release();
        }
    } else {
        return ToPython<Plain>::convert(std::forward<R>(result)).release();
    }
}

template <class Call>
PyObject* call_and_convert(Call&& call) {
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        Py_RETURN_NONE;
    } else {
        return result_to_python(call());
    }
}

// The converted arguments of one call, one after the other in parameter
// order; the first refusal ends the conversion.
template <class Args>
class ConvertedArgs;
template <class... A>
class ConvertedArgs<std::tuple<A...>> {
public:
    static constexpr size_t size = sizeof...(A);
    using Indices = std::index_sequence_for<A...>;

    bool convert(PyObject* const* bound, const char* const* names) { return convert_all(bound, names, Indices{}); }

    template <class F, class... Lead>
    decltype(auto) apply(F function, Lead&... lead) {
        return apply_all(function, Indices{}, lead...);
    }

private:
    template <size_t... I>
    bool convert_all(PyObject* const* bound, const char* const* names, std::index_sequence<I...>) {
        return (convert_one<I>(bound[I], names[I]) && ...);
    }

    template <size_t I>
    bool convert_one(PyObject* object, const char* name) {
        using T = std::tuple_element_t<I, std::tuple<std::remove_cvref_t<A>...>>;
        auto& slot = std::get<I>(values_);
        slot = FromPython<T>::convert(object);
        if (!slot) {
            name_argument_in_type_error(name);
            return false;
        }
        return true;
    }

    template <class F, size_t... I, class... Lead>
    decltype(auto) apply_all(F function, std::index_sequence<I...>, Lead&... lead) {
        return std::invoke(function, lead..., std::move(*std::get<I>(values_))...);
    }

    std::tuple<std::optional<std::remove_cvref_t<A>>...> values_;
};

template <class F>
PyCFunction as_py_cfunction(F* function) {
    // The interpreter calls through the type that ml_flags names.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Without parameters the interpreter itself refuses every argument.
template <class Entry, size_t NParameters>
PyMethodDef method_def(const char* name, const char* doc) {
    if constexpr (NParameters == 0) {
        return {name, as_py_cfunction(&Entry::noargs), METH_NOARGS, doc};
    } else {
        return {name, as_py_cfunction(&Entry::fastcall), METH_FASTCALL | METH_KEYWORDS, doc};
    }
}

inline void raise_borrowed(BorrowKind kind) {
    PyErr_SetString(PyExc_RuntimeError,
                    kind == BorrowKind::Exclusive ? already_borrowed_text : already_mutably_borrowed_text);
}

// Checks that `self` is an object of T's class, borrows it as Kind and runs
// `body` on the value it holds; the borrow ends when `body` returns.
template <class T, BorrowKind Kind, class Body>
PyObject* with_receiver(PyObject* self, Body&& body) {
    PyTypeObject* type = PyClass<T>::type();
    if (type == nullptr) {
        return nullptr;
    }
    if (!PyObject_TypeCheck(self, type)) {
        raise_not_instance(self, PyClass<T>::name);
        return nullptr;
    }
    Instance<T>* instance = instance_of<T>(self);
    Borrow<Kind> borrow(instance->borrow);
    if (!borrow.held()) {
        raise_borrowed(Kind);
        return nullptr;
    }
    return body(instance->value);
}

// Binds a vectorcall-style call (METH_FASTCALL | METH_KEYWORDS) into `bound`.
template <size_t N>
bool bind_fastcall(const CallableName& callable, const std::array<const char*, N>& parameters, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames, std::array<PyObject*, N>& bound) {
    return bind_arguments(callable, parameters, args, nargs, KeywordArgs(kwnames, args + nargs), bound.data());
}

// A module-level function: no receiver, nothing borrowed.
template <FixedString Name, auto Fn, FixedString... Params>
struct FunctionEntry {
    using Args = typename FunctionTraits<decltype(Fn)>::Args;
    using Converted = ConvertedArgs<Args>;
    static_assert(Converted::size == sizeof...(Params), "one parameter name per argument");
    static constexpr std::array<const char*, sizeof...(Params)> parameters{Params.text...};

    static PyObject* fastcall(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
        return guarded([&]() -> PyObject* {
            std::array<PyObject*, sizeof...(Params)> bound{};
            if (!bind_fastcall({nullptr, Name.text}, parameters, args, nargs, kwnames, bound)) {
                return nullptr;
            }
            return run(bound.data());
        });
    }
    static PyObject* noargs(PyObject* /*module*/, PyObject* /*unused*/) noexcept {
        return guarded([]() -> PyObject* { return run(nullptr); });
    }

private:
    static PyObject* run(PyObject* const* bound) {
        Converted converted;
        if (!converted.convert(bound, parameters.data())) {
            return nullptr;
        }
        return call_and_convert([&]() -> decltype(auto) { return converted.apply(Fn); });
    }
};

// A method: the receiver is checked and borrowed as its class says, for the
// whole call, before any argument is converted.
template <FixedString Name, auto Fn, FixedString... Params>
struct MethodEntry {
    using Self = typename MethodTraits<decltype(Fn)>::Self;
    using Converted = ConvertedArgs<typename MethodTraits<decltype(Fn)>::Params>;
    static_assert(ModuleClass<Self>, "a method belongs to, or takes first, the value its object holds");
    static_assert(Converted::size == sizeof...(Params), "one parameter name per argument");
    static constexpr std::array<const char*, sizeof...(Params)> parameters{Params.text...};

    static PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded([&]() -> PyObject* {
            std::array<PyObject*, sizeof...(Params)> bound{};
            if (!bind_fastcall({PyClass<Self>::name, Name.text}, parameters, args, nargs, kwnames, bound)) {
                return nullptr;
            }
            return run(self, bound.data());
        });
    }
    static PyObject* noargs(PyObject* self, PyObject* /*unused*/) noexcept {
        return guarded([&]() -> PyObject* { return run(self, nullptr); });
    }

private:
    static PyObject* run(PyObject* self, PyObject* const* bound) {
        return with_receiver<Self, PyClass<Self>::borrow>(self, [&](Self& value) -> PyObject* {
            Converted converted;
            if (!converted.convert(bound, parameters.data())) {
                return nullptr;
            }
            return call_and_convert([&]() -> decltype(auto) { return converted.apply(Fn, value); });
        });
    }
};

// tp_new of a constructible class: Fn makes the value the new object holds.
template <auto Fn, FixedString... Params>
struct ConstructorEntry {
    using Args = typename FunctionTraits<decltype(Fn)>::Args;
    using Made = std::remove_cvref_t<typename FunctionTraits<decltype(Fn)>::Result>;
    using Converted = ConvertedArgs<Args>;
    static_assert(ModuleClass<Made>, "a constructor returns the value its object holds");
    static_assert(Converted::size == sizeof...(Params), "one parameter name per argument");
    static constexpr std::array<const char*, sizeof...(Params)> parameters{Params.text...};

    static PyObject* call(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
        return guarded([&]() -> PyObject* {
            const Py_ssize_t nargs = PyTuple_Size(args);
            std::array<PyObject*, sizeof...(Params)> positional{};
            for (Py_ssize_t i = 0; i < nargs && i < static_cast<Py_ssize_t>(positional.size()); ++i) {
                positional[static_cast<size_t>(i)] = PyTuple_GetItem(args, i);
            }
            KeywordArgs keywords;
            if (!KeywordArgs::from_dict(kwargs, keywords)) {
                return nullptr;
            }
            std::array<PyObject*, sizeof...(Params)> bound{};
            if (!bind_arguments({PyClass<Made>::name, "__new__"}, parameters, positional.data(), nargs, keywords,
                                bound.data())) {
                return nullptr;
            }
            Converted converted;
            if (!converted.convert(bound.data(), parameters.data())) {
                return nullptr;
            }
            return new_instance_of<Made>(type, converted.apply(Fn)).release();
        });
    }
};

// An attribute getter: Field is a data member of the held value, or a
// function of it; each read converts anew under a shared borrow.
template <auto Field>
struct GetterEntry {
    static PyObject* get(PyObject* self, void* /*closure*/) noexcept {
        return guarded([&]() -> PyObject* {
            using Owner = typename Access::Owner;
            return with_receiver<Owner, BorrowKind::Shared>(
                self, [](const Owner& value) { return result_to_python(Access::read(value)); });
        });
    }

private:
    template <class F>
    struct AccessOf;
    template <class M, class T>
    struct AccessOf<M T::*> {
        using Owner = T;
        static const M& read(const T& value) { return value.*Field; }
    };
    template <class R, class T>
    struct AccessOf<R (*)(const T&)> {
        using Owner = T;
        static R read(const T& value) { return Field(value); }
    };
    using Access = AccessOf<decltype(Field)>;
};

// "name(first, second)\n--\n\n": the interpreter shows the part in
// parentheses as __text_signature__ and the rest as __doc__.
template <FixedString Name, FixedString... Parts>
constexpr auto signature_head() {
    constexpr size_t separators = sizeof...(Parts) == 0 ? 0 : sizeof...(Parts) - 1;
    constexpr std::string_view end = ")\n--\n\n";
    FixedString<Name.size() + 1 + (Parts.size() + ... + 0) + 2 * separators + end.size() + 1> head;
    size_t length = 0;
    auto put = [&](std::string_view part) {
        for (const char c : part) {
            head.text[length++] = c;
        }
    };
    put(Name.view());
    put("(");
    size_t index = 0;
    ((put(index++ == 0 ? "" : ", "), put(Parts.view())), ...);
    put(end);
    return head;
}

// Head and docstring as one text with a fixed address, made by the compiler.
template <FixedString Head, FixedString Body>
inline constexpr auto documentation = Head + Body;

}  // namespace method_detail

// A module function: "name(params)\n--\n\n" and the docstring.
template <FixedString Name, auto Fn, FixedString... Params, FixedString Body>
PyMethodDef function(Doc<Body>) {
    using Entry = method_detail::FunctionEntry<Name, Fn, Params...>;
    constexpr auto head = method_detail::signature_head<Name, Params...>();
    return method_detail::method_def<Entry, sizeof...(Params)>(Name.text,
                                                               method_detail::documentation<head, Body>.text);
}

// A method of the class whose value Fn belongs to or takes first:
// "name($self, params)\n--\n\n" and the docstring.
template <FixedString Name, auto Fn, FixedString... Params, FixedString Body>
PyMethodDef method(Doc<Body>) {
    using Entry = method_detail::MethodEntry<Name, Fn, Params...>;
    constexpr auto head = method_detail::signature_head<Name, "$self", Params...>();
    return method_detail::method_def<Entry, sizeof...(Params)>(Name.text,
                                                               method_detail::documentation<head, Body>.text);
}

// The tp_new slot of a class whose objects Fn makes.
template <auto Fn, FixedString... Params>
void* constructor() {
    return reinterpret_cast<void*>(&method_detail::ConstructorEntry<Fn, Params...>::call);
}

// A read-only attribute, without docstring of its own.
template <FixedString Name, auto Field>
PyGetSetDef getter() {
    return {Name.text, &method_detail::GetterEntry<Field>::get, nullptr, "", nullptr};
}

}  // namespace brisel_qx_api
