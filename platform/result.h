#pragma once
// One way for a step that can fail to say so: a Result<T> holds the value or
// an Error, which carries what kind of failure it was (callers branch on the
// kind: a busy database is not a damaged one) and the reason as one line for
// the user. It replaces optional-plus-reason-out-parameter, bool-plus-
// errorString and -1 conventions; what the caller prints stays its own.

#include <cassert>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace teloria {

enum class ErrorKind {
    NotFound, // no such file or row
    Refused,  // there, but not ours or not allowed: left untouched
    Damaged,  // ours, but broken
    Busy,     // held by another process past the time-out
    Io,       // the system failed a read or write
    BadInput, // the caller's text or file does not follow its layout
};

struct Error {
    ErrorKind kind = ErrorKind::Io;
    std::string reason; // one line, no outside markup

    bool operator==(const Error&) const = default;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value)
        : state_(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Error error)
        : state_(std::in_place_index<1>, std::move(error))
    {
    }
    // A value of a type T is made from ("text" for a std::string).
    template <class U>
        requires(std::is_constructible_v<T, U &&> && !std::is_same_v<std::remove_cvref_t<U>, T>
                 && !std::is_same_v<std::remove_cvref_t<U>, Error> && !std::is_same_v<std::remove_cvref_t<U>, Result>)
    Result(U&& value)
        : state_(std::in_place_index<0>, T(std::forward<U>(value)))
    {
    }

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() &
    {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const&
    {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() &&
    {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const
    {
        assert(!ok());
        return std::get<1>(state_);
    }

    // Equal when both hold equal values or equal errors.
    bool operator==(const Result&) const = default;
    friend bool operator==(const Result& result, const T& value) { return result.ok() && result.value() == value; }

private:
    std::variant<T, Error> state_;
};

// A step that gives nothing back but can fail.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : error_(std::move(error))
        , failed_(true)
    {
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const
    {
        assert(failed_);
        return error_;
    }

private:
    Error error_;
    bool failed_ = false;
};

} // namespace teloria
