#include "lib/error_mapping.hpp"

#include <variant>

#include "error/overload.hpp"

namespace tarnwick::py {

PendingError to_pyerr(TarnwickError error) {
  using K = ExceptionKind;
  const auto full_text = [&](K kind) { return PendingError{kind, error.text()}; };
  return std::visit(
      Overload{
          [](const err::InvalidArgument& e) { return PendingError{K::TarnwickValueError, e.message}; },
          [&](const err::DimensionMismatch&) { return full_text(K::TarnwickDimensionError); },
          [](const err::RangeOutOfBounds& e) { return PendingError{K::TarnwickValueError, e.message}; },
          [&](const err::Conflict&) { return full_text(K::ConflictError); },
          [&](const err::ResourceLimit&) { return full_text(K::ResourceLimitError); },
          [&](const err::Closed&) { return full_text(K::TarnwickClosedError); },
          [](const err::FormatVersion& e) { return PendingError{K::TarnwickVersionError, std::to_string(e.version)}; },
          [](const err::CorruptData& e) { return PendingError{K::TarnwickCorruptDataError, e.message}; },
          [](const err::StorageFailure& e) { return PendingError{K::TarnwickStorageError, e.message}; },
          [](const err::NotImplemented& e) { return PendingError{K::NotImplementedError, e.message}; },
      },
      error.variant());
}

}  // namespace tarnwick::py
