#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "storage/store/mutation_log.hpp"
#include "storage/store/store.hpp"
#include "store/memory_storage.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::store {
namespace {

using test::Disk;
using test::MemoryStorage;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
const std::string kLog(kMutationLogFile);

std::int64_t g_now = 0;
std::int64_t test_clock() { return g_now; }

std::string line(std::uint64_t sequence, std::int64_t timestamp = 0, std::string_view ops = "[]") {
  return R"({"operationId":"o)" + std::to_string(sequence) + R"(","sequence":)" + std::to_string(sequence) +
         R"(,"transactionId":"t)" + std::to_string(sequence) + R"(","timestamp":)" + std::to_string(timestamp) +
         R"(,"operations":)" + std::string(ops) + "}";
}

MutationLogRetention limits(std::optional<std::uint64_t> max_entries, std::optional<std::int64_t> max_age) {
  MutationLogRetention r;
  r.mutation_log_max_entries = max_entries;
  r.mutation_log_max_age_ms = max_age;
  return r;
}

StoreOptions options(std::optional<MutationLogRetention> retention, std::optional<VectorPrecision> precision = {},
                     std::uint8_t sync_mode = 1) {
  StoreOptions o;
  o.retention = retention;
  o.vector_precision = precision;
  o.sync_mode = sync_mode;
  return o;
}

struct Fixture {
  std::shared_ptr<Disk> disk = std::make_shared<Disk>();
  Store store;
  explicit Fixture(std::string_view log, StoreOptions options = {})
      : store(std::make_unique<MemoryStorage>(disk), std::move(options), test_clock) {
    if (log.data()) disk->put(kLog, log);
  }
};

std::vector<std::uint64_t> sequences(const Result<std::vector<MutationRecord>>& records) {
  std::vector<std::uint64_t> out;
  for (const MutationRecord& r : *records) out.push_back(r.sequence);
  return out;
}

TEST(MutationLogRead, PiecesAndTheTornTail) {
  const std::string a = line(1), b = line(2);
  const struct {
    std::string content;
    std::vector<std::uint64_t> read;
    const char* error;  // the detail after "mutation log: "
  } cases[] = {
      {"", {}, nullptr},
      {"\n\n\n", {}, nullptr},
      {a + "\n" + b, {1, 2}, nullptr},
      {"\n" + a + "\r\n\n" + b + "\r\n", {1, 2}, nullptr},
      {a + "\n" + b.substr(0, 20) + "\n\n", {1}, nullptr},
      {a + "\n   \n", {1}, nullptr},
      {a + "\n[\"o\",9,\"t\",1]\n", {1}, nullptr},
      {b.substr(0, 20) + "\n" + a + "\n", {}, "EOF while parsing a value at line 1 column 20"},
      {"   \n" + a + "\n", {}, "EOF while parsing a value at line 1 column 3"},
      {a + "x\n" + a + "\n", {}, "trailing characters at line 1 column "},
      {R"({"sequence":1})" "\n" + a, {}, "missing field `operationId`"},
      {line(1, 0, R"([{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"3f80000"}}}])") + "\n" + a,
       {}, "corrupt_data: invalid packed Float32 mutation vector"},
      // The order of the steps decides: a packed-vector fault wins over a shape fault.
      {R"({"operations":[{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"g"}}}]})" "\n" + a,
       {}, "corrupt_data: invalid packed Float32 mutation vector"},
      {R"(["o",1,"t",1,[],null,null,null])" "\n" + a, {1, 1}, nullptr},
  };
  for (const auto& c : cases) {
    auto records = read_mutation_log(c.content);
    if (!c.error) {
      ASSERT_TRUE(records) << c.content << ": " << records.error().text();
      EXPECT_EQ(sequences(records), c.read) << c.content;
      continue;
    }
    ASSERT_FALSE(records) << c.content;
    const auto* corrupt_data = records.error().get_if<err::CorruptData>();
    ASSERT_TRUE(corrupt_data);
    EXPECT_TRUE(corrupt_data->message.starts_with(std::string("mutation log: ") + c.error)) << corrupt_data->message;
  }
}

TEST(MutationLogRead, SincePageAndLatestFollowFileOrder) {
  Fixture f(line(5) + "\n" + line(0) + "\n" + line(9) + "\n" + line(7) + "\n" + line(3).substr(0, 9));
  EXPECT_EQ(sequences(f.store.mutation_log()), (std::vector<std::uint64_t>{5, 0, 9, 7}));
  EXPECT_EQ(sequences(f.store.mutation_log_since(0)), (std::vector<std::uint64_t>{5, 9, 7}));
  EXPECT_EQ(sequences(f.store.mutation_log_since(6)), (std::vector<std::uint64_t>{9, 7}));
  EXPECT_EQ(sequences(f.store.mutation_log_page(0, 2)), (std::vector<std::uint64_t>{5, 9}));
  EXPECT_EQ(sequences(f.store.mutation_log_page(6, 1)), (std::vector<std::uint64_t>{9}));
  EXPECT_EQ(f.store.latest_mutation_sequence(), 7u);
  EXPECT_EQ(f.disk->call_names(), std::vector<std::string>(6, "read " + kLog));
  EXPECT_FALSE(f.store.loaded());
  Fixture absent({});
  EXPECT_EQ(absent.store.latest_mutation_sequence(), 0u);
}

// The error text, or "ok".
template <class T>
std::string outcome(const Result<T>& r) {
  return r ? "ok" : r.error().text();
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
    Fixture f(line(1), options(limits(0, {})));
    ASSERT_TRUE(f.store.close());
    EXPECT_EQ(operation(f.store), "closed: operation on a closed store");
    EXPECT_TRUE(f.disk->calls.empty());
  }
  // Answered without the file: an empty page, and a trim with nothing to enforce.
  Fixture f(line(1));
  ASSERT_TRUE(f.store.close());
  EXPECT_EQ(f.store.mutation_log_page(0, 0), std::vector<MutationRecord>{});
  EXPECT_TRUE(f.store.trim_mutation_log());
  Fixture no_limits(line(1), options(limits({}, {})));
  ASSERT_TRUE(no_limits.store.close());
  EXPECT_TRUE(no_limits.store.trim_mutation_log());
  EXPECT_TRUE(f.disk->calls.empty() && no_limits.disk->calls.empty());
}

TEST(MutationLogTrim, ByCountByAgeAndBoth) {
  const struct {
    std::optional<std::uint64_t> max_entries;
    std::optional<std::int64_t> max_age;
    std::int64_t now;
    std::vector<std::int64_t> timestamps;  // of records 1, 2, ...
    std::vector<std::uint64_t> kept;       // empty with `writes` false: nothing written
    bool writes;
  } cases[] = {
      {3, {}, 0, {0, 0, 0, 0, 0}, {3, 4, 5}, true},
      {0, {}, 0, {0, 0}, {}, true},
      {10, {}, 0, {0, 0}, {}, false},
      {{}, 1000, 2000, {1000, 999, 3000}, {1, 3}, true},
      {{}, 1000, 2000, {kMin, 2000}, {2}, true},
      {{}, kMax - 1, kMax, {kMin, 1}, {2}, true},
      {{}, -5, -2, {kMax, 2, 3}, {1, 3}, true},
      {{}, 1000, 0, {0}, {}, false},
      {2, 1000, 2000, {2000, 500, 1500}, {3}, true},
  };
  for (const auto& c : cases) {
    std::string log;
    for (std::size_t i = 0; i < c.timestamps.size(); ++i) log += line(i + 1, c.timestamps[i]) + "\n";
    Fixture f(log, options(limits(c.max_entries, c.max_age)));
    g_now = c.now;
    ASSERT_TRUE(f.store.trim_mutation_log());
    if (!c.writes) {
      EXPECT_EQ(f.disk->call_names(), std::vector<std::string>{"read " + kLog});
      continue;
    }
    EXPECT_EQ(f.disk->call_names(), (std::vector<std::string>{"read " + kLog, "write " + kLog}));
    std::string expected;
    for (std::uint64_t s : c.kept) expected += line(s, c.timestamps[s - 1]) + "\n";
    EXPECT_EQ(f.disk->text(kLog), expected);
  }
}

TEST(MutationLogTrim, RepacksOnlyWhatLosesNothingAndSyncsInSyncMode) {
  const std::string ops = R"([{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"7fc000003f000000"}}},)"
                          R"({"operationType":"putVector","payload":{"vector":[0.1]}}])";
  Fixture f(line(1) + "\n" + line(2, 0, ops) + "\n",
            options(limits(1, {}), VectorPrecision::Float32, kSyncAfterWrites));
  ASSERT_TRUE(f.store.trim_mutation_log());
  EXPECT_EQ(f.disk->text(kLog), line(2, 0, ops) + "\n");
  EXPECT_EQ(f.disk->call_names(), (std::vector<std::string>{"read " + kLog, "write " + kLog, "sync " + kLog}));
  EXPECT_FALSE(f.store.loaded());
  // A store not asking for float32 writes the same history back as arrays.
  Fixture plain(line(1) + "\n" + line(2, 0, ops) + "\n", options(limits(1, {})));
  ASSERT_TRUE(plain.store.trim_mutation_log());
  EXPECT_EQ(plain.disk->text(kLog),
            line(2, 0, R"([{"operationType":"putVector","payload":{"vector":[null,0.5]}},)"
                       R"({"operationType":"putVector","payload":{"vector":[0.1]}}])") + "\n");
}

MutationRecord record(std::uint64_t sequence, std::string_view ops = "[]") {
  json::Value v = *json::parse(line(sequence, 0, ops));
  return *MutationRecord::deserialize(v);
}

// A store ready for replace: loaded, with ids it has seen.
Fixture loaded_store(std::string_view log, VectorPrecision precision = VectorPrecision::Float64) {
  Fixture f(log, options({}, precision, kSyncAfterWrites));
  StoreTestAccess::loaded(f.store) = true;
  StoreTestAccess::seen_operation_ids(f.store).insert("before");
  StoreTestAccess::last_sequence(f.store) = 40;
  return f;
}

TEST(MutationLogReplace, ChecksInOrderAndWritesNothingOnFailure) {
  const std::string non_number = R"([{"operationType":"putNode","payload":{"vector":["x"]}}])";
  const std::string bad_packed = R"([{"operationType":"putNode","payload":{"vector":{"__tarnwick_f32_hex":"zz"}}}])";
  const struct {
    std::string log;
    std::vector<MutationRecord> records;
    VectorPrecision precision;
    const char* error;
  } cases[] = {
      {line(1) + "\n" + line(2), {record(3), record(3)}, VectorPrecision::Float64,
       "invalid_argument: mutation history replacement is only allowed on a fresh migration destination"},
      {line(1), {record(3, non_number), record(3)}, VectorPrecision::Float32,
       "invalid_argument: mutation history sequences must be strictly increasing"},
      {"", {record(4), record(3)}, VectorPrecision::Float64,
       "invalid_argument: mutation history sequences must be strictly increasing"},
      {"", {record(1), record(2, non_number)}, VectorPrecision::Float32,
       "corrupt_data: mutation vector contains a non-number"},
      {"", {record(1, bad_packed)}, VectorPrecision::Float64, "corrupt_data: invalid packed Float32 mutation vector"},
      {"", {record(1, bad_packed)}, VectorPrecision::Float32, "corrupt_data: invalid packed Float32 mutation vector"},
  };
  for (const auto& c : cases) {
    Fixture f = loaded_store(c.log, c.precision);
    EXPECT_EQ(outcome(f.store.replace_mutation_log(c.records)), c.error);
    EXPECT_EQ(f.disk->call_names(), std::vector<std::string>{"read " + kLog});
    EXPECT_EQ(StoreTestAccess::last_sequence(f.store), 40u);
    EXPECT_TRUE(StoreTestAccess::seen_operation_ids(f.store).contains("before"));
  }
}

TEST(MutationLogReplace, InstallsTheHistoryAndItsIds) {
  const std::string with_null = R"([{"operationType":"putVector","payload":{"vector":[null,1.0]}}])";
  Fixture f = loaded_store(line(7) + "\n", VectorPrecision::Float32);
  const std::vector<MutationRecord> records = {record(0), record(1, with_null)};
  ASSERT_TRUE(f.store.replace_mutation_log(records));
  EXPECT_EQ(f.disk->text(kLog),
            line(0) + "\n" +
                line(1, 0, R"([{"operationType":"putVector","payload":{"vector":{"__tarnwick_f32_hex":"7fc000003f800000"}}}])") +
                "\n");
  EXPECT_EQ(f.disk->call_names(), (std::vector<std::string>{"read " + kLog, "write " + kLog}));
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
