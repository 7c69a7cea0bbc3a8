// Result<T, E>: the answer of an operation that can fail, holding either its value or the reason
// it has none, in the manner of LLVM's ErrorOr but with any reason type (an enum, or a struct
// that adds the system's error code, an offset, ...). Header only; nothing here touches the
// operating system.
//
//   Result<int64_t, ReadError> readCount(...) {
//     if (...) return platform::fail(ReadError::Truncated);
//     return count;
//   }
//   const auto count = readCount(...);
//   if (!count) return describe(count.error());
//   use(count.value());
//
// A value converts to a success implicitly; a failure is only ever built through fail() (or a
// Failure<E> spelled out), so even Result<int, int> cannot take the one for the other.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>

namespace platform {

// A reason on its way into a failed Result.
template <class E>
struct Failure {
  E error;
};

// The failure `error`, for returning from a function whose result is a Result<T, E>.
template <class E>
[[nodiscard]] Failure<std::decay_t<E>> fail(E&& error) {
  return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

// The value of an operation that gives nothing back but can fail: Result<Done, E>, whose
// success is `return Done{};`.
struct Done {};

// The code the operating system gave for a failed call: errno on POSIX, GetLastError() on
// Windows. The reason of the platform's Results.
using SystemCode = uint32_t;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  // Success.
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  // Failure, from any reason that converts to E.
  template <class F, class = std::enable_if_t<std::is_convertible_v<F, E>>>
  Result(Failure<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

  // True on success.
  explicit operator bool() const { return state_.index() == 0; }

  // The value. Only on success: asking a failure for its value is a programming error and
  // throws std::bad_variant_access.
  const T& value() const& { return std::get<0>(state_); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }

  // The reason. Only on failure (std::bad_variant_access otherwise).
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

}  // namespace platform
