#pragma once

#include "platform/linkwork/Namespace.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"

#include <QList>

#include <concepts>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace Tickerly::Linkwork {

// The chaining operators of the promise library.
//
// `left >> fn` binds a left side to a function (the library's `=>`). By left side:
//   Promise<Result<T>>   fn(T) runs only on Ok, Error passes through unchanged; fn may give a
//                        value U, nothing (void: Result<Empty>), a Result<U>, a
//                        Promise<Result<U>> (waited for) or an optional<U>, whose nothing
//                        becomes Error(Linkwork::noValueError()). Gives Promise<Result<U>>.
//   Promise<optional<T>> fn(T) runs only when the promised value is there; fn may give a value,
//                        an optional or a Promise<optional<U>>. Gives Promise<optional<U>>.
//   Promise<T>           fn(T) runs with the value; gives Promise<U> (a returned promise is
//                        waited for; void gives Promise<Empty>).
//   optional<T>          fn(T) runs only when a value is there: optional<U> for a value or an
//                        optional; for a promise, that promise (with no value: a promise already
//                        set to nothing or to Error(noValueError())).
//   Result<T>            Ok maps its value (a value, a Result or an optional whose nothing
//                        becomes Error), Error passes through.
//   std::vector / QList  fn applied to every element, order kept; results that are an empty
//                        optional are dropped, so fn giving optional<U> yields a list of U.
//   any other value      fn(value), at once.
// Functions chained onto a promise run where the promise's functions run (see Promise).
//
// `a + b` pairs two values (the library's `++`):
//   optional<A> + optional<B>          optional<pair<A, B>>, nothing unless both are there;
//   A + Promise<optional<B>>           Promise<optional<pair<A, B>>>, nothing when the promised
//                                      value is nothing.
// `+` binds tighter than `>>`; write `(hits + promise) >> make` all the same (-Wparentheses).

namespace Detail {

template <typename T> struct IsPromise : std::false_type {
};
template <typename T> struct IsPromise<Promise<T>> : std::true_type {
};

template <typename T> struct IsResult : std::false_type {
};
template <typename T> struct IsResult<Result<T>> : std::true_type {
};

template <typename T> struct IsOptional : std::false_type {
};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type {
};

template <typename T> struct IsList : std::false_type {
};
template <typename T, typename A> struct IsList<std::vector<T, A>> : std::true_type {
};
template <typename T> struct IsList<QList<T>> : std::true_type {
};

template <typename T>
concept Chained = IsPromise<std::remove_cvref_t<T>>::value || IsResult<std::remove_cvref_t<T>>::
    value || IsOptional<std::remove_cvref_t<T>>::value || IsList<std::remove_cvref_t<T>>::value;

// What a function's result R turns into inside a result chain.
template <typename R> struct ResultValue {
    using type = R;
};
template <> struct ResultValue<void> {
    using type = Empty;
};
template <typename U> struct ResultValue<Result<U>> {
    using type = U;
};
template <typename U> struct ResultValue<Promise<Result<U>>> {
    using type = U;
};
template <typename U> struct ResultValue<std::optional<U>> {
    using type = U;
};

template <typename Out, typename F, typename T>
void deliverResult(const Promise<Result<Out>>& next, F& fn, const T& value)
{
    using R = std::invoke_result_t<F&, const T&>;
    if constexpr (std::is_void_v<R>) {
        fn(value);
        next.setValue(Result<Out>::Ok(Empty {}));
    } else if constexpr (IsResult<R>::value) {
        next.setValue(fn(value));
    } else if constexpr (IsPromise<R>::value) {
        fn(value).onValue([next](const Result<Out>& r) { next.setValue(r); });
    } else if constexpr (IsOptional<R>::value) {
        auto out = fn(value);
        next.setValue(out ? Result<Out>::Ok(std::move(*out)) : Result<Out>::Error(noValueError()));
    } else {
        next.setValue(Result<Out>::Ok(fn(value)));
    }
}

template <typename R> struct OptionalValue {
    using type = R;
};
template <> struct OptionalValue<void> {
    using type = Empty;
};
template <typename U> struct OptionalValue<std::optional<U>> {
    using type = U;
};
template <typename U> struct OptionalValue<Promise<std::optional<U>>> {
    using type = U;
};

template <typename R> struct PlainValue {
    using type = R;
};
template <> struct PlainValue<void> {
    using type = Empty;
};
template <typename U> struct PlainValue<Promise<U>> {
    using type = U;
};

} // namespace Detail

// => : promise of a result into a function of its success value.
template <typename T, typename F>
requires std::invocable<F&, const T&>
auto operator>>(const Promise<Result<T>>& promise, F fn)
{
    using Out = typename Linkwork::Detail::ResultValue<std::invoke_result_t<F&, const T&>>::type;
    Promise<Result<Out>> next;
    promise.onValue([next, fn = std::move(fn)](const Result<T>& r) mutable {
        if (r.isError())
            next.setValue(Result<Out>::Error(r.error()));
        else
            Linkwork::Detail::deliverResult<Out>(next, fn, r.value());
    });
    return next;
}

// => : promise of an optional into a function of its value.
template <typename T, typename F>
requires std::invocable<F&, const T&>
auto operator>>(const Promise<std::optional<T>>& promise, F fn)
{
    using R = std::invoke_result_t<F&, const T&>;
    using Out = typename Linkwork::Detail::OptionalValue<R>::type;
    Promise<std::optional<Out>> next;
    promise.onValue([next, fn = std::move(fn)](const std::optional<T>& value) mutable {
        if (!value) {
            next.setValue(std::nullopt);
        } else if constexpr (std::is_void_v<R>) {
            fn(*value);
            next.setValue(Empty {});
        } else if constexpr (Linkwork::Detail::IsPromise<R>::value) {
            fn(*value).onValue([next](const std::optional<Out>& out) { next.setValue(out); });
        } else {
            next.setValue(std::optional<Out>(fn(*value)));
        }
    });
    return next;
}

// => : promise of a plain value into a function of it.
template <typename T, typename F>
requires(!Linkwork::Detail::IsResult<T>::value && !Linkwork::Detail::IsOptional<T>::value
    && std::invocable<F&, const T&>) auto
operator>>(const Promise<T>& promise, F fn)
{
    using R = std::invoke_result_t<F&, const T&>;
    using Out = typename Linkwork::Detail::PlainValue<R>::type;
    Promise<Out> next;
    promise.onValue([next, fn = std::move(fn)](const T& value) mutable {
        if constexpr (std::is_void_v<R>) {
            fn(value);
            next.setValue(Empty {});
        } else if constexpr (Linkwork::Detail::IsPromise<R>::value) {
            fn(value).onValue([next](const Out& out) { next.setValue(out); });
        } else {
            next.setValue(fn(value));
        }
    });
    return next;
}

// => : optional into a function that runs only when a value is there.
template <typename T, typename F>
requires std::invocable<F&, const T&>
auto operator>>(const std::optional<T>& value, F fn)
{
    using R = std::invoke_result_t<F&, const T&>;
    if constexpr (std::is_void_v<R>) {
        if (value)
            fn(*value);
    } else if constexpr (Linkwork::Detail::IsOptional<R>::value) {
        return value ? fn(*value) : R();
    } else if constexpr (Linkwork::Detail::IsPromise<R>::value) {
        using P = typename R::ValueType;
        if constexpr (Linkwork::Detail::IsOptional<P>::value) {
            return value ? fn(*value) : R(P());
        } else if constexpr (Linkwork::Detail::IsResult<P>::value) {
            return value ? fn(*value) : R(P::Error(Linkwork::noValueError()));
        } else {
            return value ? std::optional<R>(fn(*value)) : std::optional<R>();
        }
    } else {
        return value ? std::optional<R>(fn(*value)) : std::optional<R>();
    }
}

// => : result into a function of its success value.
template <typename T, typename F>
requires std::invocable<F&, const T&>
auto operator>>(const Result<T>& result, F fn)
{
    using R = std::invoke_result_t<F&, const T&>;
    using Out = typename Linkwork::Detail::ResultValue<R>::type;
    static_assert(!Linkwork::Detail::IsPromise<R>::value, "chain a promise of a result instead");
    if (result.isError())
        return Result<Out>::Error(result.error());
    if constexpr (std::is_void_v<R>) {
        fn(result.value());
        return Result<Out>::Ok(Empty {});
    } else if constexpr (Linkwork::Detail::IsResult<R>::value) {
        return fn(result.value());
    } else if constexpr (Linkwork::Detail::IsOptional<R>::value) {
        auto out = fn(result.value());
        return out ? Result<Out>::Ok(std::move(*out))
                   : Result<Out>::Error(Linkwork::noValueError());
    } else {
        return Result<Out>::Ok(fn(result.value()));
    }
}

// => : array into a function applied to every element, in order.
template <typename List, typename F>
requires Linkwork::Detail::IsList<std::remove_cvref_t<List>>::value && std::invocable<F&,
    const typename std::remove_cvref_t<List>::value_type&> auto
operator>>(const List& list, F fn)
{
    using T = typename std::remove_cvref_t<List>::value_type;
    using R = std::invoke_result_t<F&, const T&>;
    if constexpr (std::is_void_v<R>) {
        for (const auto& element : list)
            fn(element);
    } else if constexpr (Linkwork::Detail::IsOptional<R>::value) {
        std::vector<typename R::value_type> out;
        for (const auto& element : list) {
            if (auto mapped = fn(element))
                out.push_back(std::move(*mapped));
        }
        return out;
    } else {
        std::vector<R> out;
        out.reserve(static_cast<size_t>(list.size()));
        for (const auto& element : list)
            out.push_back(fn(element));
        return out;
    }
}

// => : any other value into a function, applied at once.
template <typename T, typename F>
requires(!Linkwork::Detail::Chained<T> && std::invocable<F&, const T&>) decltype(auto) operator>>(
    const T& value, F fn)
{
    return fn(value);
}

// ++ : two optionals into an optional pair.
template <typename A, typename B>
std::optional<std::pair<A, B>> operator+(const std::optional<A>& a, const std::optional<B>& b)
{
    if (a && b)
        return std::pair<A, B>(*a, *b);
    return std::nullopt;
}

// ++ : a plain value and a promise of an optional into a promise of an optional pair.
template <typename A, typename B>
requires(!Linkwork::Detail::Chained<A>) Promise<std::optional<std::pair<A, B>>>
operator+(const A& a, const Promise<std::optional<B>>& b)
{
    Promise<std::optional<std::pair<A, B>>> next;
    b.onValue([next, a](const std::optional<B>& value) {
        next.setValue(
            value ? std::optional<std::pair<A, B>>(std::pair<A, B>(a, *value)) : std::nullopt);
    });
    return next;
}

} // namespace Tickerly::Linkwork
