#include <gtest/gtest.h>

#include "error/error.hpp"

namespace tarnwick {
namespace {

TEST(ErrorText, EveryVariantPrintsCodeColonDetail) {
  EXPECT_EQ(TarnwickError(err::InvalidArgument{"node id must not be empty"}).text(),
            "invalid_argument: node id must not be empty");
  EXPECT_EQ(TarnwickError(err::DimensionMismatch{3, 4}).text(), "dimension_mismatch: expected 3 dimensions, got 4");
  EXPECT_EQ(TarnwickError(err::RangeOutOfBounds{"x"}).text(), "range_out_of_bounds: x");
  // The actual revision comes first in the text although `expected` comes first in the payload.
  EXPECT_EQ(TarnwickError(err::Conflict{"rec-1", 2, 5}).text(), "conflict: record rec-1 has revision 5, expected 2");
  EXPECT_EQ(TarnwickError(err::ResourceLimit{"maxResultSize", 10}).text(),
            "resource_limit: maxResultSize exceeded limit 10");
  EXPECT_EQ(TarnwickError(err::Closed{}).text(), "closed: operation on a closed store");
  EXPECT_EQ(TarnwickError(err::Closed{}).text().size(), 35u);
  EXPECT_EQ(TarnwickError(err::FormatVersion{3}).text(), "format_version: unsupported version 3");
  EXPECT_EQ(TarnwickError(err::CorruptData{"bad"}).text(), "corrupt_data: bad");
  EXPECT_EQ(TarnwickError(err::StorageFailure{""}).text(), "storage: ");
  EXPECT_EQ(TarnwickError(err::NotImplemented{"x"}).text(), "not_implemented: x");
  EXPECT_EQ(TarnwickError(err::DimensionMismatch{18446744073709551615ull, 0}).text(),
            "dimension_mismatch: expected 18446744073709551615 dimensions, got 0");
}

TEST(ErrorText, MessagesArePrintedUnchanged) {
  EXPECT_EQ(TarnwickError(err::CorruptData{"a: \"b\"\nc"}).text(), "corrupt_data: a: \"b\"\nc");
}

TEST(ErrorResult, TryPropagatesTheFirstError) {
  auto inner = [](bool ok) -> Result<int> {
    if (!ok) return fail(err::Closed{});
    return 7;
  };
  auto outer = [&](bool ok) -> Result<> {
    TARNWICK_TRY(inner(ok));
    return {};
  };
  EXPECT_TRUE(outer(true));
  ASSERT_FALSE(outer(false));
  EXPECT_EQ(outer(false).error().code(), "closed");
}

}  // namespace
}  // namespace tarnwick
