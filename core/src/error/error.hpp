#pragma once
// The one error value of the core. Every fallible core function returns Result<T>;
// nothing is thrown. Each variant prints as "<code>: <detail>".

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace tarnwick {

namespace err {
// A caller handed in a value that breaks a rule: an empty id, a non-finite number, a bad option.
struct InvalidArgument { std::string message; };
// Two vectors that must have one length do not.
struct DimensionMismatch { std::uint64_t expected; std::uint64_t got; };
// A number or timestamp lies outside its allowed range.
struct RangeOutOfBounds { std::string message; };
// A record's revision differs from the one the caller expected. Nothing produces it today.
struct Conflict { std::string record; std::uint64_t expected; std::uint64_t actual; };
// A query or operation would exceed one of its configured limits.
struct ResourceLimit { std::string name; std::uint64_t limit; };
// The store was closed; every operation that reads or changes it fails.
struct Closed {};
// A stored file carries a format version this build cannot read.
struct FormatVersion { std::uint64_t version; };
// A stored file or record cannot be decoded.
struct CorruptData { std::string message; };
// The storage backend failed; the message says how.
struct StorageFailure { std::string message; };
// The operation exists but this build does not offer it.
struct NotImplemented { std::string message; };
}  // namespace err

class TarnwickError {
 public:
  using Variant = std::variant<err::InvalidArgument, err::DimensionMismatch, err::RangeOutOfBounds,
                               err::Conflict, err::ResourceLimit, err::Closed, err::FormatVersion,
                               err::CorruptData, err::StorageFailure, err::NotImplemented>;

  // Built directly from one variant's payload, so call sites read `err::Closed{}`.
  template <class V>
    requires std::is_constructible_v<Variant, V&&>
  TarnwickError(V&& v) : v_(std::forward<V>(v)) {}  // NOLINT(google-explicit-constructor)

  const Variant& variant() const { return v_; }
  template <class V> const V* get_if() const { return std::get_if<V>(&v_); }

  // The snake_case code, e.g. "invalid_argument".
  std::string_view code() const;
  // The full display text: the code, ": " and the detail.
  std::string text() const;

  friend bool operator==(const TarnwickError&, const TarnwickError&) = default;

 private:
  Variant v_;
};

template <class T = void>
using Result = std::expected<T, TarnwickError>;

// `return fail(err::InvalidArgument{"..."});` from any function returning Result<T>.
inline std::unexpected<TarnwickError> fail(TarnwickError e) { return std::unexpected(std::move(e)); }

// The error of a file or record that cannot be decoded.
inline TarnwickError corrupt(std::string message) { return err::CorruptData{std::move(message)}; }

}  // namespace tarnwick

// Propagates the error of a Result expression; the value of the expression is discarded.
#define TARNWICK_TRY(expr)                                        \
  do {                                                            \
    if (auto tarnwick_try_r = (expr); !tarnwick_try_r)            \
      return std::unexpected(std::move(tarnwick_try_r).error());  \
  } while (false)

#define TARNWICK_CONCAT_INNER(a, b) a##b
#define TARNWICK_CONCAT(a, b) TARNWICK_CONCAT_INNER(a, b)

// `TARNWICK_TRY_ASSIGN(auto x, expr);` declares (or assigns) the value of a Result expression,
// or propagates its error. The temporary is named after the line, so several may share a scope.
#define TARNWICK_TRY_ASSIGN(lhs, expr) TARNWICK_TRY_ASSIGN_IMPL(TARNWICK_CONCAT(tarnwick_try_, __LINE__), lhs, expr)
#define TARNWICK_TRY_ASSIGN_IMPL(tmp, lhs, expr)         \
  auto tmp = (expr);                                     \
  if (!tmp) return std::unexpected(std::move(tmp).error()); \
  lhs = std::move(*tmp)
