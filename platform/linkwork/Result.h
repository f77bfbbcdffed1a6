#pragma once

#include "platform/linkwork/Namespace.h"
#include "platform/foundation/base/Error.h"
#include "tickerlylinkwork_export.h"

#include <utility>
#include <variant>

namespace Tickerly::Linkwork {

// The success value of a result that carries none.
using Empty = std::monostate;

// Holds the success value of a result.
template <typename T> struct Box {
    T value;
};

// The outcome of an operation that can fail: `Ok` with a boxed value, or `Error` with an error.
// A plain value; thread-safe as its value type is.
template <typename T> class Result {
public:
    using ValueType = T;

    static Result Ok(T value) { return Result(Box<T> { std::move(value) }); }
    static Result Ok(Box<T> box) { return Result(std::move(box)); }
    static Result Error(Tickerly::Foundation::Error error) { return Result(std::move(error)); }

    bool isOk() const { return m_state.index() == 0; }
    bool isError() const { return !isOk(); }

    // The success value; only for an Ok result.
    const T& value() const& { return std::get<0>(m_state).value; }
    T&& value() && { return std::move(std::get<0>(m_state).value); }
    const Box<T>& box() const { return std::get<0>(m_state); }
    // The error; only for an Error result.
    const Tickerly::Foundation::Error& error() const { return std::get<1>(m_state); }

private:
    explicit Result(Box<T> box)
        : m_state(std::in_place_index<0>, std::move(box))
    {
    }
    explicit Result(Tickerly::Foundation::Error error)
        : m_state(std::in_place_index<1>, std::move(error))
    {
    }

    std::variant<Box<T>, Tickerly::Foundation::Error> m_state;
};

// The error a mapping that gives no value turns into (`Result` and promise chains).
inline constexpr int NoValueErrorCode = 1;
TICKERLYLINKWORK_EXPORT Tickerly::Foundation::Error noValueError();

} // namespace Tickerly::Linkwork
