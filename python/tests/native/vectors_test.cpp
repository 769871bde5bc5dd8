#include "lib/vectors.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

using testing::eval;
using testing::run;
using testing::take_error;

std::vector<double> vec(std::string_view expression) {
  PyRef object = eval(expression);
  auto values = to_vec(object.get());
  EXPECT_TRUE(values) << take_error() << "\nfor: " << expression;
  return values ? *values : std::vector<double>{};
}

std::string vec_error(std::string_view expression) {
  PyRef object = eval(expression);
  auto values = to_vec(object.get());
  EXPECT_FALSE(values) << "converted: " << expression;
  return take_error();
}

TEST(ToVec, FloatArraysAreCopiedWhenContiguous) {
  EXPECT_EQ(vec("np.array([1.0, 2.0])"), (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(vec("np.array([0.1, -3.5], dtype=np.float32)"),
            (std::vector<double>{static_cast<double>(0.1f), -3.5}));
  EXPECT_EQ(vec("np.zeros(0)"), std::vector<double>{});
  // A reversed view is strided; a Fortran-ordered one-dimensional array is contiguous.
  EXPECT_EQ(vec_error("np.arange(6.0)[::2]"), "TypeError: The given array is not contiguous");
  EXPECT_EQ(vec_error("np.arange(6, dtype=np.float32)[::-1]"), "TypeError: The given array is not contiguous");
  EXPECT_EQ(vec("np.asfortranarray(np.array([4.0, 5.0]))"), (std::vector<double>{4.0, 5.0}));
}

TEST(ToVec, OtherSequencesAreReadItemByItem) {
  EXPECT_EQ(vec("np.array([0, 1, 2])"), (std::vector<double>{0.0, 1.0, 2.0}));
  EXPECT_EQ(vec("np.array([1.5, 2.5], dtype='>f8')"), (std::vector<double>{1.5, 2.5}));
  EXPECT_EQ(vec("np.arange(4.0)[::2].tolist()"), (std::vector<double>{0.0, 2.0}));
  EXPECT_EQ(vec("[1, True, 2.5]"), (std::vector<double>{1.0, 1.0, 2.5}));
  EXPECT_EQ(vec("(np.float32(0.5), decimal.Decimal('0.25'))"), (std::vector<double>{0.5, 0.25}));
  EXPECT_EQ(vec("range(3)"), (std::vector<double>{0.0, 1.0, 2.0}));
  EXPECT_EQ(vec("[]"), std::vector<double>{});
}

TEST(ToVec, EverythingElseIsOneValueError) {
  for (const char* refused : {"'abc'", "['a']", "{'a': 1.0}", "(x for x in [1.0])", "np.array([[1.0, 2.0]])",
                              "np.array(1.0)", "[2**2000]", "None", "1.0"}) {
    EXPECT_EQ(vec_error(refused), "ValueError: vector must be a sequence of floats") << refused;
  }
}

TEST(ToVec, InterruptsAndMemoryErrorsPassThrough) {
  // Two items, then `exc`; asking its length would raise an interrupt.
  run("class Items:\n"
      "    def __init__(self, exc): self.exc = exc\n"
      "    def __len__(self): raise KeyboardInterrupt('len')\n"
      "    def __getitem__(self, i):\n"
      "        if i < 2: return float(i)\n"
      "        raise self.exc\n");
  EXPECT_EQ(vec("Items(IndexError(2))"), (std::vector<double>{0.0, 1.0}));
  const std::pair<const char*, const char*> cases[] = {
      {"[1.0, Raises(KeyboardInterrupt('k'), 'float')]", "KeyboardInterrupt: k"},
      {"(Raises(SystemExit('s'), 'float'),)", "SystemExit: s"},
      {"np.array([1.0, Raises(MemoryError('m'), 'float')], dtype=object)", "MemoryError: m"},
      {"Items(KeyboardInterrupt('item'))", "KeyboardInterrupt: item"},
      {"[Raises(ValueError('v'), 'float')]", "ValueError: vector must be a sequence of floats"},
      {"Items(LookupError('l'))", "ValueError: vector must be a sequence of floats"},
  };
  for (const auto& [expression, error] : cases) EXPECT_EQ(vec_error(expression), error) << expression;
}

TEST(ToVec, AClaimedLengthReservesNothing) {
  run("class Liar:\n"
      "    def __len__(self): return 2**62\n"
      "    def __getitem__(self, i):\n"
      "        if i < 2: return float(i)\n"
      "        raise IndexError(i)\n");
  EXPECT_EQ(vec("Liar()"), (std::vector<double>{0.0, 1.0}));
}

TEST(ResultRows, PairsAndArraysHoldCopies) {
  const std::vector<double> values{1.0, -2.5};
  auto array = f64_array(values);
  ASSERT_TRUE(array) << take_error();
  auto row = pair("id-1", std::move(*array));
  ASSERT_TRUE(row) << take_error();
  PyObject* globals_row = row->get();
  PyRef repr = PyRef::steal(PyObject_Repr(globals_row));
  EXPECT_STREQ(PyUnicode_AsUTF8AndSize(repr.get(), nullptr), "('id-1', array([ 1. , -2.5]))");
  auto scored = score_pair("id-2", 0.75);
  ASSERT_TRUE(scored);
  repr = PyRef::steal(PyObject_Repr(scored->get()));
  EXPECT_STREQ(PyUnicode_AsUTF8AndSize(repr.get(), nullptr), "('id-2', 0.75)");
}

}  // namespace
}  // namespace tarnwick::py
