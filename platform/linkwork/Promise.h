#pragma once

#include "platform/linkwork/Namespace.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace Tickerly::Linkwork {

// A shared holder of at most one value, set once; functions registered on it run once the value
// is there, exactly once each.
//
// `Promise` is a handle: copies share one state (the reference-counted promise). Any thread may
// set the value or register functions. A function registered before the value is set runs on
// the thread that sets it, in order of registration; one registered afterwards runs at once on
// the registering thread. Registered functions are released as soon as they have run, so a
// function may hold its owner (or the promise itself) strongly: the cycle ends with delivery.
// A promise that is never set keeps its functions, and whatever they hold, until it goes away.
template <typename T> class Promise {
public:
    using ValueType = T;

    // An open promise; with a value, one that is set already.
    Promise()
        : d(std::make_shared<State>())
    {
    }
    explicit Promise(std::optional<T> value)
        : Promise()
    {
        if (value)
            setValue(std::move(*value));
    }

    // Sets the value and runs the registered functions. Only the first call counts: it returns
    // true, every later call is ignored and returns false.
    bool setValue(T value) const
    {
        // A function may release the last holder of this very handle.
        const std::shared_ptr<State> state = d;
        std::vector<std::function<void(const T&)>> waiting;
        {
            std::lock_guard lock(state->mutex);
            if (state->value)
                return false;
            state->value.emplace(std::move(value));
            waiting.swap(state->continuations);
        }
        // The value never changes once set, so it is read here without the lock.
        for (auto& fn : waiting) {
            fn(*state->value);
            fn = nullptr; // release what it holds before the next one runs
        }
        return true;
    }

    // `setValue` as a completion function for completion-style operations.
    std::function<void(T)> resolver() const
    {
        return [p = *this](T value) { p.setValue(std::move(value)); };
    }

    // Runs `fn` with the value once it is set; at once when it already is.
    void onValue(std::function<void(const T&)> fn) const
    {
        {
            std::lock_guard lock(d->mutex);
            if (!d->value) {
                d->continuations.push_back(std::move(fn));
                return;
            }
        }
        fn(*d->value);
    }

    bool isResolved() const
    {
        std::lock_guard lock(d->mutex);
        return d->value.has_value();
    }

    // A copy of the value, or nothing while the promise is open.
    std::optional<T> value() const
    {
        std::lock_guard lock(d->mutex);
        return d->value;
    }

    // Whether two handles share one promise.
    friend bool operator==(const Promise& a, const Promise& b) { return a.d == b.d; }

private:
    struct State {
        std::mutex mutex;
        std::optional<T> value;
        std::vector<std::function<void(const T&)>> continuations;
    };
    std::shared_ptr<State> d;
};

// A promise of the value folded from `initial` over the values of `promises` with `combine`, in
// the order of the array (not of arrival); set once every promise has its value, on the thread
// that set the last of them (at once when all are set already or the array is empty).
template <typename T, typename U, typename Combine>
Promise<U> reducep(const std::vector<Promise<T>>& promises, U initial, Combine combine)
{
    Promise<U> result;
    if (promises.empty()) {
        result.setValue(std::move(initial));
        return result;
    }
    struct Fold {
        Fold(std::vector<Promise<T>> all, U start, Combine fn)
            : remaining(all.size())
            , promises(std::move(all))
            , initial(std::move(start))
            , combine(std::move(fn))
        {
        }
        std::mutex mutex;
        size_t remaining;
        std::vector<Promise<T>> promises;
        U initial;
        Combine combine;
    };
    auto fold = std::make_shared<Fold>(promises, std::move(initial), std::move(combine));
    for (const auto& promise : promises) {
        promise.onValue([fold, result](const T&) {
            {
                std::lock_guard lock(fold->mutex);
                if (--fold->remaining != 0)
                    return;
            }
            // Every promise is set: fold iteratively, so a long array costs no stack depth.
            U accumulated = std::move(fold->initial);
            for (const auto& p : fold->promises)
                accumulated = fold->combine(std::move(accumulated), *p.value());
            fold->promises.clear();
            result.setValue(std::move(accumulated));
        });
    }
    return result;
}

} // namespace Tickerly::Linkwork
