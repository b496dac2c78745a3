#pragma once
// A value or an error. std::expected arrives with C++23; this is the small subset we use.
#include <cassert>
#include <utility>
#include <variant>

namespace lumbrix {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class G>
    Expected(Unexpected<G> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool hasValue() const { return state_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() & { assert(hasValue()); return std::get<0>(state_); }
    const T& value() const& { assert(hasValue()); return std::get<0>(state_); }
    T&& value() && { assert(hasValue()); return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    E& error() & { assert(!hasValue()); return std::get<1>(state_); }
    const E& error() const& { assert(!hasValue()); return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

}  // namespace lumbrix
