#pragma once
// Which Python exception each core error becomes, and with what message. Kept free of the
// interpreter so the mapping is decided (and tested) without one; exceptions.hpp raises it.

#include <cstdint>
#include <string>

#include "error/error.hpp"

namespace tarnwick::py {

// The module's nine exception types, in the order the module adds them, then the one
// built-in type a core error can become.
enum class ExceptionKind : std::uint8_t {
  TarnwickError,
  TarnwickValueError,
  TarnwickDimensionError,
  TarnwickClosedError,
  TarnwickVersionError,
  TarnwickCorruptDataError,
  TarnwickStorageError,
  ConflictError,
  ResourceLimitError,
  NotImplementedError,
};
inline constexpr std::size_t kModuleExceptionCount = 9;

// A Python exception not yet made: its type and its one str argument.
struct PendingError {
  ExceptionKind kind;
  std::string message;
};

// Consumes the core error. Messages are either the variant's own text, the full display text,
// or (for a format version) the bare number, so callers can tell the variants apart by type.
PendingError to_pyerr(TarnwickError error);

}  // namespace tarnwick::py
