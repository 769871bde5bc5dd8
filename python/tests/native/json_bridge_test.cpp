#include "lib/json_bridge.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

using testing::eval;
using testing::run;
using testing::take_error;

json::Value to_json(std::string_view expression) {
  PyRef object = eval(expression);
  auto value = py_to_json(object.get());
  EXPECT_TRUE(value) << take_error() << "\nfor: " << expression;
  return value ? std::move(*value) : json::Value();
}

std::string to_json_error(std::string_view expression) {
  PyRef object = eval(expression);
  auto value = py_to_json(object.get());
  EXPECT_FALSE(value) << "converted: " << expression;
  return take_error();
}

bool py_equal(const PyRef& a, std::string_view expected_expression) {
  PyRef expected = eval(expected_expression);
  return a && PyObject_RichCompareBool(a.get(), expected.get(), Py_EQ) == 1;
}

TEST(PyToJson, NumbersKeepTheirKind) {
  EXPECT_TRUE(to_json("True").is_bool() && to_json("True").get_bool());
  EXPECT_EQ(to_json("1").kind(), json::Kind::uint64);
  EXPECT_EQ(to_json("-1").kind(), json::Kind::int64);
  EXPECT_EQ(to_json("1.0").kind(), json::Kind::double_);
  EXPECT_TRUE(to_json("float('nan')").is_null());
  EXPECT_TRUE(to_json("-float('inf')").is_null());
  // The whole unsigned 64-bit range stays integral; only beyond it do ints become doubles.
  EXPECT_EQ(to_json("2**63").as_uint64(), std::uint64_t{1} << 63);
  EXPECT_EQ(to_json("2**64 - 1").as_uint64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(to_json("-2**63").as_int64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(to_json("2**64").as_double(), 18446744073709551616.0);
  EXPECT_EQ(to_json("-2**63 - 1").as_double(), -9223372036854775808.0);
  EXPECT_EQ(to_json_error("10**400"), "TarnwickValueError: value is not JSON-compatible");
}

TEST(PyToJson, ObjectsConvertThroughTheirOwnProtocols) {
  EXPECT_EQ(to_json("np.int64(5)").as_uint64(), 5u);
  EXPECT_EQ(to_json("np.uint64(2**64 - 1)").as_uint64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(to_json("np.float32(0.1)").as_double(), static_cast<double>(0.1f));
  const json::Value numpy_true = to_json("np.bool_(True)");
  EXPECT_TRUE(numpy_true.is_bool() && numpy_true.get_bool());
  EXPECT_TRUE(to_json("np.bool_(False)").is_bool());
  EXPECT_EQ(to_json("enum.IntEnum('E', 'A B').B").as_uint64(), 2u);
  EXPECT_EQ(to_json("enum.Enum('S', {'X': 'x'}, type=str).X").as_string(), "x");
  EXPECT_EQ(to_json("decimal.Decimal('1.5')").as_double(), 1.5);
  EXPECT_EQ(to_json("'h\\u00e9'").as_string(), "h\xC3\xA9");
}

TEST(PyToJson, ContainersAndRefusals) {
  EXPECT_EQ(json::print(to_json("(1, 'a', None, [-2.5])")), R"([1,"a",null,[-2.5]])");
  EXPECT_EQ(json::print(to_json("{'b': 1, 'a': [True]}")), R"({"b":1,"a":[true]})");
  for (const char* refused : {"{1, 2}", "b'x'", "bytearray(b'x')", "__import__('types').MappingProxyType({})",
                              "np.array([1.0, 2.0])", "object()", "'\\ud800'"}) {
    EXPECT_EQ(to_json_error(refused), "TarnwickValueError: value is not JSON-compatible") << refused;
  }
}

TEST(PyToJson, InterruptsAndMemoryErrorsPassThroughTheNumberSteps) {
  run("class MemoryErrorKind(MemoryError): pass\n"
      "class bool_:\n"
      "    def __bool__(self): raise KeyboardInterrupt('numpy bool')\n"
      "bool_.__module__ = 'numpy'\n");
  const std::pair<const char*, const char*> cases[] = {
      {"Raises(KeyboardInterrupt('i'), 'index')", "KeyboardInterrupt: i"},
      {"Raises(KeyboardInterrupt('f'), 'float')", "KeyboardInterrupt: f"},
      {"Raises(SystemExit('s'), 'float')", "SystemExit: s"},
      {"Raises(GeneratorExit('g'), 'index')", "GeneratorExit: g"},
      {"Raises(MemoryError('m'), 'index')", "MemoryError: m"},
      {"Raises(MemoryErrorKind('k'), 'float')", "MemoryErrorKind: k"},
      {"bool_()", "KeyboardInterrupt: numpy bool"},
      {"{'a': [1, (Raises(KeyboardInterrupt('deep'), 'float'),)]}", "KeyboardInterrupt: deep"},
      // Every other failure of a step still ends in the conversion's own error.
      {"Raises(ValueError('v'), 'float')", "TarnwickValueError: value is not JSON-compatible"},
      {"Raises(RecursionError('r'), 'index')", "TarnwickValueError: value is not JSON-compatible"},
  };
  for (const auto& [expression, error] : cases) EXPECT_EQ(to_json_error(expression), error) << expression;
}

TEST(PyToJson, DictKeysMustBeText) {
  EXPECT_EQ(to_json_error("{1: 'a'}"), "TypeError: 'int' object cannot be converted to 'PyString'");
  EXPECT_EQ(to_json_error("{'a': [{'b': {2.5: 1}}]}"), "TypeError: 'float' object cannot be converted to 'PyString'");
  // The key is looked at before its value.
  EXPECT_EQ(to_json_error("{3: object()}"), "TypeError: 'int' object cannot be converted to 'PyString'");
  EXPECT_EQ(to_json_error("{'\\ud800': 1}").rfind("UnicodeEncodeError: ", 0), 0u);
}

TEST(PyToJson, DictsAreReadFromTheirStoredEntries) {
  run("class Masked(dict):\n"
      "    def items(self): return [('z', 0)]\n"
      "    def keys(self): return ['z']\n"
      "    def __iter__(self): return iter(['z'])\n"
      "moved = collections.OrderedDict(a=1, b=2)\n"
      "moved.move_to_end('a')\n");
  EXPECT_EQ(json::print(to_json("Masked(a=1, b=2)")), R"({"a":1,"b":2})");
  EXPECT_EQ(json::print(to_json("moved")), R"({"a":1,"b":2})");
}

TEST(PyToJson, ChangesDuringConversionEndItSafely) {
  run("class Grow:\n"
      "    def __init__(self, target): self.target = target\n"
      "    def __float__(self): self.target['added'] = 0; return 1.0\n"
      "class Swap:\n"
      "    def __init__(self, target): self.target = target\n"
      "    def __float__(self): del self.target['x']; self.target['z'] = 3; return 1.0\n"
      "class Append:\n"
      "    def __init__(self, target): self.target = target\n"
      "    def __float__(self): self.target.append(9); return 1.0\n"
      "class Clear:\n"
      "    def __init__(self, target): self.target = target\n"
      "    def __float__(self): self.target.clear(); return 1.0\n"
      "grown = {}\ngrown['x'] = Grow(grown)\ngrown['y'] = 2\n"
      "swapped = {}\nswapped['x'] = Swap(swapped)\nswapped['y'] = 1\n"
      "appended = []\nappended += [Append(appended), 2]\n"
      "cleared = []\ncleared += [Clear(cleared), 2, 3]\n");
  EXPECT_EQ(to_json_error("grown"), "RuntimeError: dictionary changed size during iteration");
  EXPECT_EQ(to_json_error("swapped"), "RuntimeError: dictionary keys changed during iteration");
  // Elements appended meanwhile are not visited; a list that shrinks ends the array.
  EXPECT_EQ(json::print(to_json("appended")), "[1.0,2]");
  EXPECT_EQ(json::print(to_json("cleared")), "[1.0]");
}

TEST(PyToJson, NestingIsBounded) {
  run("def nest(n, wrap):\n"
      "    v = 0\n"
      "    for i in range(n): v = wrap(i, v)\n"
      "    return v\n"
      "in_lists = lambda i, v: [v]\n"
      "mixed = lambda i, v: (v,) if i % 3 == 0 else ({'k': v} if i % 3 == 1 else [v])\n"
      "loop = []\nloop.append(loop)\n"
      "self_dict = {}\nself_dict['me'] = self_dict\n");
  EXPECT_EQ(json::print(to_json("nest(100, in_lists)")), std::string(100, '[') + "0" + std::string(100, ']'));
  EXPECT_TRUE(to_json("nest(100, mixed)").is_array());
  for (const char* too_deep : {"nest(101, in_lists)", "nest(101, mixed)", "loop", "self_dict"}) {
    EXPECT_EQ(to_json_error(too_deep), "TarnwickValueError: value is nested too deeply") << too_deep;
  }
}

TEST(JsonToPy, BuildsEqualPythonValues) {
  auto parsed = json::parse(R"({"b":1,"a":[null,true,-2,2.5,"h\u00e9",{}],"u":18446744073709551615})");
  ASSERT_TRUE(parsed);
  auto object = json_to_py(*parsed);
  ASSERT_TRUE(object) << take_error();
  EXPECT_TRUE(py_equal(*object, "{'b': 1, 'a': [None, True, -2, 2.5, 'h\\u00e9', {}], 'u': 2**64 - 1}"));
  PyRef keys = PyRef::steal(PySequence_List(object->get()));
  EXPECT_TRUE(py_equal(keys, "['b', 'a', 'u']"));
  // The largest unsigned integer comes back as an exact int, not a float.
  PyRef big = PyRef::steal(PyObject_GetItem(object->get(), eval("'u'").get()));
  EXPECT_TRUE(PyLong_CheckExact(big.get()));
}

TEST(JsonToPy, RoundTripsWhatPythonGave) {
  const char* value = "{'n': [1, -1, 2**63, 1.5, True, None, 'x'], 'd': {'e': {}}}";
  auto back = json_to_py(to_json(value));
  ASSERT_TRUE(back) << take_error();
  EXPECT_TRUE(py_equal(*back, value));
}

TEST(JsonToPy, NestingIsBounded) {
  auto nested = [](std::size_t levels) {
    json::Value v = 0;
    for (std::size_t i = 0; i < levels; ++i) v = json::Value(json::Array{std::move(v)});
    return v;
  };
  EXPECT_TRUE(json_to_py(nested(json::kMaxParseDepth)));
  EXPECT_FALSE(json_to_py(nested(json::kMaxParseDepth + 1)));
  EXPECT_EQ(take_error(), "TarnwickValueError: value is nested too deeply");
}

TEST(RecordsFromPy, ReaderMessagesRaiseUnchanged) {
  auto missing = py_to_tarnwick<Node>(eval("{'id': 'n', 'type': 't'}").get());
  EXPECT_FALSE(missing);
  EXPECT_EQ(take_error(), "TarnwickValueError: missing field `insertedAt`");
  // An int field refuses a float, which stays a float through the conversion.
  auto floating = py_to_tarnwick<Node>(eval("{'id': 'n', 'type': 't', 'insertedAt': 1.0, 'updatedAt': 1}").get());
  EXPECT_FALSE(floating);
  EXPECT_EQ(take_error().rfind("TarnwickValueError: invalid type: floating point `1.0`", 0), 0u);
  auto bad_json = py_to_tarnwick<Node>(eval("{'id': 'n', 'data': {1: 2}}").get());
  EXPECT_FALSE(bad_json);
  EXPECT_EQ(take_error(), "TypeError: 'int' object cannot be converted to 'PyString'");

  auto as_dict = py_to_tarnwick<VectorEntry>(eval("{'id': 'vec-a', 'vector': [0.5, 1]}").get());
  auto as_tuple = py_to_tarnwick<VectorEntry>(eval("('vec-a', [0.5, 1])").get());
  ASSERT_TRUE(as_dict && as_tuple) << take_error();
  EXPECT_EQ(*as_dict, *as_tuple);
  EXPECT_EQ(as_dict->vector, (std::vector<double>{0.5, 1.0}));
}

TEST(RecordsFromPy, NodesStopAtTheFirstFailure) {
  run("touched = []\n"
      "class Spy:\n"
      "    def __float__(self): touched.append(1); return 1.0\n"
      "good = {'id': 'a', 'type': 't', 'insertedAt': 1, 'updatedAt': 2, 'data': {'k': 'v'}}\n"
      "items = [good, 42, {'id': 'c', 'type': 't', 'insertedAt': 1, 'updatedAt': 2, 'data': {'s': Spy()}}]\n");
  PyRef items = eval("items");
  std::vector<PyRef> objects;
  for (Py_ssize_t i = 0; i < 3; ++i) objects.push_back(PyRef::borrow(PyList_GetItem(items.get(), i)));
  auto nodes = records_from_py<Node>(objects);
  EXPECT_FALSE(nodes);
  EXPECT_EQ(take_error().rfind("TarnwickValueError: invalid type: integer `42`", 0), 0u);
  EXPECT_TRUE(py_equal(eval("touched"), "[]"));

  objects.resize(1);
  auto one = records_from_py<Node>(objects);
  ASSERT_TRUE(one) << take_error();
  ASSERT_EQ(one->size(), 1u);
  EXPECT_EQ((*one)[0].id, "a");
  EXPECT_EQ(json::print(json::Value((*one)[0].data)), R"({"k":"v"})");
}

}  // namespace
}  // namespace tarnwick::py
