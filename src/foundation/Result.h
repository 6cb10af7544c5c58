#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orvel {

// An error that carries its own message text, ready to show to the user.
struct Error {
    std::string message;
    bool operator==(const Error&) const = default;
};

// A value or an error. Errors travel as values; no exception crosses a service boundary.
template <class T, class E = Error>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

// Success without a value, or an error.
template <class E>
class [[nodiscard]] Result<void, E> {
  public:
    Result() = default;
    Result(E error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const E& error() const { return error_; }

  private:
    E error_{};
    bool failed_ = false;
};

}  // namespace orvel
