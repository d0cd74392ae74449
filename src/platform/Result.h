#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

// The outcome of an operation that may throw: a value or the exception it threw.
template <class T>
class Result {
public:
    static Result success(T value) { return Result(std::move(value)); }
    static Result failure(std::exception_ptr error) { return Result(error); }
    // Runs `work`, catching whatever it throws.
    template <class F>
    static Result capture(F&& work)
    {
        try {
            return success(work());
        } catch (...) {
            return failure(std::current_exception());
        }
    }

    bool ok() const { return m_value.index() == 0; }
    // The value; rethrows the error when there is none.
    const T& value() const
    {
        if (!ok())
            std::rethrow_exception(std::get<1>(m_value));
        return std::get<0>(m_value);
    }
    T take()
    {
        if (!ok())
            std::rethrow_exception(std::get<1>(m_value));
        return std::move(std::get<0>(m_value));
    }
    std::exception_ptr error() const { return ok() ? nullptr : std::get<1>(m_value); }
    // The error as E when it is one, else none.
    template <class E>
    std::optional<E> errorAs() const
    {
        if (ok())
            return std::nullopt;
        try {
            std::rethrow_exception(std::get<1>(m_value));
        } catch (const E& e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    explicit Result(T value) : m_value(std::in_place_index<0>, std::move(value)) {}
    explicit Result(std::exception_ptr error) : m_value(std::in_place_index<1>, error) {}
    std::variant<T, std::exception_ptr> m_value;
};

struct Unit {
    bool operator==(const Unit&) const = default;
};

template <class T>
using Completion = std::function<void(Result<T>)>;
