#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "storage/store/mutation_log.hpp"
#include "storage/store/store.hpp"
#include "store/memory_storage.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::store {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
const std::string kLog(kMutationLogFile), kRead = "read " + kLog, kWrite = "write " + kLog;
using Calls = std::vector<std::string>;

std::int64_t g_now = 0;
std::int64_t test_clock() { return g_now; }

std::string line(std::uint64_t seq, std::int64_t timestamp = 0, std::string_view ops = "[]") {
  const std::string s = std::to_string(seq);
  return R"({"operationId":"o)" + s + R"(","sequence":)" + s + R"(,"transactionId":"t)" + s + R"(","timestamp":)" +
         std::to_string(timestamp) + R"(,"operations":)" + std::string(ops) + "}";
}

StoreOptions options(std::optional<std::uint64_t> max_entries, std::optional<std::int64_t> max_age,
                     std::optional<VectorPrecision> precision = {}, std::uint8_t sync_mode = 1) {
  StoreOptions o;
  if (max_entries || max_age) o.retention = MutationLogRetention{max_entries, max_age};
  o.vector_precision = precision;
  o.sync_mode = sync_mode;
  return o;
}

struct Fixture {
  std::shared_ptr<test::Disk> disk = std::make_shared<test::Disk>();
  Store store;
  explicit Fixture(std::string_view log, StoreOptions options = {})
      : store(std::make_unique<test::MemoryStorage>(disk), std::move(options), test_clock) {
    if (log.data()) disk->put(kLog, log);  // a null view: no file
  }
};

std::vector<std::uint64_t> sequences(const Result<std::vector<MutationRecord>>& records) {
  std::vector<std::uint64_t> out;
  for (const MutationRecord& r : *records) out.push_back(r.sequence);
  return out;
}

// The error text, or "ok".
template <class T>
std::string outcome(const Result<T>& r) {
  return r ? "ok" : r.error().text();
}

TEST(MutationLogRead, PiecesAndTheTornTail) {
  const std::string a = line(1), b = line(2), torn = line(2).substr(0, 20);
  const std::string bad_hex = line(1, 0, R"([{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"3f80000"}}}])");
  const struct {
    std::string content;
    std::vector<std::uint64_t> read;
    const char* error;  // the start of the detail after "mutation log: "
  } cases[] = {
      {"\n\n\n", {}, nullptr},
      {"\n" + a + "\r\n\n" + b, {1, 2}, nullptr},
      {a + "\n" + torn + "\n\n", {1}, nullptr},
      {a + "\n   \n", {1}, nullptr},
      {R"(["o",3,"t",1,[]])" "\n" + bad_hex, {3}, nullptr},
      {torn + "\n" + a, {}, "EOF while parsing a value at line 1 column 20"},
      {"   \n" + a, {}, "EOF while parsing a value at line 1 column 3"},
      {R"({"sequence":1})" "\n" + a, {}, "missing field `operationId`"},
      {bad_hex + "\n" + a, {}, "corrupt_data: invalid packed Float32 mutation vector"},
      // Unpacking comes before reading the record, so its fault is the one named.
      {R"({"operations":[{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"g"}}}]})" "\n" + a,
       {}, "corrupt_data: invalid packed Float32 mutation vector"},
  };
  for (const auto& c : cases) {
    auto records = read_mutation_log(c.content);
    if (c.error) {
      ASSERT_FALSE(records) << c.content;
      EXPECT_TRUE(outcome(records).starts_with(std::string("corrupt_data: mutation log: ") + c.error)) << outcome(records);
    } else {
      EXPECT_EQ(sequences(records), c.read) << c.content;
    }
  }
}

TEST(MutationLogRead, SincePageAndLatestFollowFileOrder) {
  Fixture f(line(5) + "\n" + line(0) + "\n" + line(9) + "\n" + line(7) + "\n" + line(3).substr(0, 9));
  EXPECT_EQ(sequences(f.store.mutation_log_since(0)), (std::vector<std::uint64_t>{5, 9, 7}));
  EXPECT_EQ(sequences(f.store.mutation_log_since(6)), (std::vector<std::uint64_t>{9, 7}));
  EXPECT_EQ(sequences(f.store.mutation_log_page(0, 2)), (std::vector<std::uint64_t>{5, 9}));
  EXPECT_EQ(sequences(f.store.mutation_log_page(6, 1)), (std::vector<std::uint64_t>{9}));
  EXPECT_EQ(f.store.latest_mutation_sequence(), 7u);
  EXPECT_EQ(f.disk->call_names(), Calls(5, kRead));
  EXPECT_FALSE(f.store.loaded());
  Fixture absent({});
  EXPECT_EQ(absent.store.latest_mutation_sequence(), 0u);
}

TEST(MutationLogRead, ClosedStoreRuleForEachOperation) {
  const std::function<std::string(Store&)> operations[] = {
      [](Store& s) { return outcome(s.mutation_log()); },
      [](Store& s) { return outcome(s.mutation_log_since(0)); },
      [](Store& s) { return outcome(s.mutation_log_page(0, 1)); },
      [](Store& s) { return outcome(s.latest_mutation_sequence()); },
      [](Store& s) { return outcome(s.trim_mutation_log()); },
      [](Store& s) { return outcome(s.replace_mutation_log({})); },
  };
  for (const auto& operation : operations) {
    Fixture f(line(1), options(0, {}));
    ASSERT_TRUE(f.store.close());
    EXPECT_EQ(operation(f.store), "closed: operation on a closed store");
    EXPECT_TRUE(f.disk->calls.empty());
  }
  // Answered without the file: an empty page, and a trim with no limit to enforce.
  Fixture f(line(1));
  ASSERT_TRUE(f.store.close());
  EXPECT_EQ(outcome(f.store.mutation_log_page(0, 0)), "ok");
  EXPECT_EQ(outcome(f.store.trim_mutation_log()), "ok");
  EXPECT_TRUE(f.disk->calls.empty());
}

TEST(MutationLogTrim, ByCountByAgeAndBoth) {
  const struct {
    std::optional<std::uint64_t> max_entries;
    std::optional<std::int64_t> max_age;
    std::int64_t now;
    std::vector<std::int64_t> timestamps;  // of records 1, 2, ...
    std::vector<std::uint64_t> kept;
  } cases[] = {
      {3, {}, 0, {0, 0, 0, 0, 0}, {3, 4, 5}},
      {0, {}, 0, {0, 0}, {}},
      {10, {}, 0, {0, 0}, {1, 2}},
      {{}, 1000, 2000, {1000, 999, 3000}, {1, 3}},
      // Ages far out of range stop at the limits instead of wrapping round.
      {{}, 1000, 2000, {kMin, 2000}, {2}},
      {{}, kMax - 1, kMax, {kMin, 1}, {2}},
      {{}, -5, -2, {kMax, 2, 3}, {1, 3}},
      {2, 1000, 2000, {2000, 500, 1500}, {3}},
  };
  for (const auto& c : cases) {
    std::string log, expected;
    for (std::size_t i = 0; i < c.timestamps.size(); ++i) log += line(i + 1, c.timestamps[i]) + "\n";
    for (std::uint64_t s : c.kept) expected += line(s, c.timestamps[s - 1]) + "\n";
    Fixture f(log, options(c.max_entries, c.max_age));
    g_now = c.now;
    ASSERT_TRUE(f.store.trim_mutation_log());
    EXPECT_EQ(f.disk->text(kLog), expected);
    // Written only when a record is dropped.
    EXPECT_EQ(f.disk->call_names(), c.kept.size() == c.timestamps.size() ? Calls{kRead} : (Calls{kRead, kWrite}));
  }
}

TEST(MutationLogTrim, RepacksOnlyWhatLosesNothingAndSyncsInSyncMode) {
  const std::string ops = R"([{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"7fc000003f000000"}}},)"
                          R"({"operationType":"putVector","payload":{"vector":[0.1]}}])";
  const std::string log = line(1) + "\n" + line(2, 0, ops) + "\n";
  Fixture f(log, options(1, {}, VectorPrecision::Float32, kSyncAfterWrites));
  ASSERT_TRUE(f.store.trim_mutation_log());
  EXPECT_EQ(f.disk->text(kLog), line(2, 0, ops) + "\n");
  EXPECT_EQ(f.disk->call_names(), (Calls{kRead, kWrite, "sync " + kLog}));
  EXPECT_FALSE(f.store.loaded());
  // A store that asks for no precision writes the same history back as arrays.
  Fixture plain(log, options(1, {}));
  ASSERT_TRUE(plain.store.trim_mutation_log());
  EXPECT_EQ(plain.disk->text(kLog), line(2, 0, R"([{"operationType":"putVector","payload":{"vector":[null,0.5]}},)"
                                                R"({"operationType":"putVector","payload":{"vector":[0.1]}}])") + "\n");
}

MutationRecord record(std::uint64_t sequence, std::string_view ops = "[]") {
  json::Value v = *json::parse(line(sequence, 0, ops));
  return *MutationRecord::deserialize(v);
}

// A loaded store that has seen ids and sequences of its own.
Fixture loaded_store(std::string_view log, VectorPrecision precision = VectorPrecision::Float64) {
  Fixture f(log, options({}, {}, precision, kSyncAfterWrites));
  StoreTestAccess::loaded(f.store) = true;
  StoreTestAccess::seen_operation_ids(f.store).insert("before");
  StoreTestAccess::last_sequence(f.store) = 40;
  return f;
}

TEST(MutationLogReplace, ChecksInOrderAndWritesNothingOnFailure) {
  const std::string non_number = R"([{"operationType":"putNode","payload":{"vector":["x"]}}])";
  const std::string bad_packed = R"([{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"zz"}}}])";
  const auto F32 = VectorPrecision::Float32, F64 = VectorPrecision::Float64;
  const struct {
    std::string log;
    std::vector<MutationRecord> records;
    VectorPrecision precision;
    const char* error;
  } cases[] = {
      {line(1) + "\n" + line(2), {record(3), record(3)}, F64,
       "invalid_argument: mutation history replacement is only allowed on a fresh migration destination"},
      {line(1), {record(3, non_number), record(3)}, F32,
       "invalid_argument: mutation history sequences must be strictly increasing"},
      {"", {record(1), record(2, non_number)}, F32, "corrupt_data: mutation vector contains a non-number"},
      {"", {record(1, bad_packed)}, F64, "corrupt_data: invalid packed Float32 mutation vector"},
      {"", {record(1, bad_packed)}, F32, "corrupt_data: invalid packed Float32 mutation vector"},
  };
  for (const auto& c : cases) {
    Fixture f = loaded_store(c.log, c.precision);
    EXPECT_EQ(outcome(f.store.replace_mutation_log(c.records)), c.error);
    EXPECT_EQ(f.disk->call_names(), Calls{kRead});
    EXPECT_EQ(StoreTestAccess::last_sequence(f.store), 40u);
    EXPECT_TRUE(StoreTestAccess::seen_operation_ids(f.store).contains("before"));
  }
}

TEST(MutationLogReplace, InstallsTheHistoryAndItsIds) {
  Fixture f = loaded_store(line(7) + "\n", VectorPrecision::Float32);
  const std::vector<MutationRecord> records = {
      record(0), record(1, R"([{"operationType":"putVector","payload":{"vector":[null,1.0]}}])")};
  ASSERT_TRUE(f.store.replace_mutation_log(records));
  EXPECT_EQ(f.disk->text(kLog),
            line(0) + "\n" +
                line(1, 0, R"([{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"7fc000003f800000"}}}])") +
                "\n");
  EXPECT_EQ(f.disk->call_names(), (Calls{kRead, kWrite}));  // no sync, whatever the mode
  EXPECT_EQ(StoreTestAccess::last_sequence(f.store), 1u);
  EXPECT_EQ(StoreTestAccess::seen_operation_ids(f.store), (TextSet{"o0", "o1"}));
  EXPECT_EQ(StoreTestAccess::seen_transaction_ids(f.store), (TextSet{"t0", "t1"}));
  EXPECT_EQ(f.store.mutation_log(), records);

  Fixture empty = loaded_store({});
  ASSERT_TRUE(empty.store.replace_mutation_log({}));
  EXPECT_EQ(empty.disk->files.at(kLog), Bytes{});
  EXPECT_EQ(StoreTestAccess::last_sequence(empty.store), 0u);
  EXPECT_TRUE(StoreTestAccess::seen_operation_ids(empty.store).empty());
}

}  // namespace
}  // namespace tarnwick::store
