#include "lib/error_mapping.hpp"

#include <gtest/gtest.h>

namespace tarnwick::py {
namespace {

using K = ExceptionKind;

void expect_mapped(TarnwickError error, K kind, const std::string& message) {
  const PendingError mapped = to_pyerr(std::move(error));
  EXPECT_EQ(mapped.kind, kind) << message;
  EXPECT_EQ(mapped.message, message);
}

TEST(ErrorMapping, MessageVariantsRaiseTheirBareMessage) {
  expect_mapped(err::InvalidArgument{"node id must not be empty"}, K::TarnwickValueError, "node id must not be empty");
  expect_mapped(err::RangeOutOfBounds{"confidence must lie in [0, 1]"}, K::TarnwickValueError,
                "confidence must lie in [0, 1]");
  expect_mapped(err::CorruptData{"truncated msgpack"}, K::TarnwickCorruptDataError, "truncated msgpack");
  expect_mapped(err::StorageFailure{"OSError: disk full"}, K::TarnwickStorageError, "OSError: disk full");
  expect_mapped(err::NotImplemented{"sync"}, K::NotImplementedError, "sync");
  // Non-ASCII text passes unchanged.
  expect_mapped(err::InvalidArgument{"id \xC3\xA9t\xC3\xA9"}, K::TarnwickValueError, "id \xC3\xA9t\xC3\xA9");
}

TEST(ErrorMapping, StructuredVariantsRaiseTheirFullText) {
  expect_mapped(err::DimensionMismatch{3, 2}, K::TarnwickDimensionError,
                "dimension_mismatch: expected 3 dimensions, got 2");
  expect_mapped(err::Closed{}, K::TarnwickClosedError, "closed: operation on a closed store");
  expect_mapped(err::ResourceLimit{"maxResultSize", 100}, K::ResourceLimitError,
                "resource_limit: maxResultSize exceeded limit 100");
  // The revision the record has comes first, then the one expected.
  expect_mapped(err::Conflict{"node-a", 4, 7}, K::ConflictError, "conflict: record node-a has revision 7, expected 4");
}

TEST(ErrorMapping, FormatVersionRaisesTheBareNumber) {
  expect_mapped(err::FormatVersion{3}, K::TarnwickVersionError, "3");
  expect_mapped(err::FormatVersion{0}, K::TarnwickVersionError, "0");
  expect_mapped(err::FormatVersion{18446744073709551615ull}, K::TarnwickVersionError, "18446744073709551615");
}

}  // namespace
}  // namespace tarnwick::py
