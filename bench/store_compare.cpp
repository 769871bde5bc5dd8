// The store against SQLite, both over files in one tmpfs directory: apply throughput for batches
// of 1, 100 and 10,000 nodes of about 1 KB of JSON data (with and without 384-float vectors), on
// an empty graph and on a graph of 100k nodes with a schema and a unique index; then a cold load
// of 100k nodes from a snapshot and from a write-ahead log alone. SQLite runs in WAL mode with
// synchronous=OFF and NORMAL, one transaction per batch, the same records as JSON text with a
// unique index on the same field. Prints nodes per second and ratios (ours / theirs; above 1 is
// faster for throughput). The compaction section times, apart from SQLite, the snapshot encoding
// and a compaction of 1M nodes of about 200 bytes of data over an in-memory storage, less the
// time spent inside storage calls.
//
//   build/bench/bench/store_compare [directory on tmpfs, default /dev/shm] [apply|load|compact, default all]

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "json/json.hpp"
#include "storage/store/store.hpp"

namespace fs = std::filesystem;
using namespace tarnwick;

namespace {

constexpr std::size_t kDimensions = 384;
constexpr std::size_t kBigGraph = 100'000;

// Whole files in one directory: `write` through a temporary file and a rename, `append` with
// O_APPEND, as a careful backend would do it.
class FileStorage final : public store::Storage {
 public:
  explicit FileStorage(fs::path dir) : dir_(std::move(dir)) {}
  Result<std::optional<Bytes>> read(std::string_view name) override {
    const int fd = ::open(path(name).c_str(), O_RDONLY);
    if (fd < 0) return std::optional<Bytes>();
    Bytes out(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
    const auto n = ::pread(fd, out.data(), out.size(), 0);
    ::close(fd);
    if (n != static_cast<ssize_t>(out.size())) return fail(err::StorageFailure{"short read"});
    return std::optional<Bytes>(std::move(out));
  }
  Result<void> write(std::string_view name, std::span<const std::uint8_t> bytes) override {
    const std::string tmp = path(name) + ".tmp";
    TARNWICK_TRY(put(tmp, O_WRONLY | O_CREAT | O_TRUNC, bytes));
    if (::rename(tmp.c_str(), path(name).c_str()) != 0) return fail(err::StorageFailure{"rename"});
    return {};
  }
  Result<void> append(std::string_view name, std::span<const std::uint8_t> bytes) override {
    return put(path(name), O_WRONLY | O_CREAT | O_APPEND, bytes);
  }
  Result<void> remove(std::string_view name) override {
    ::unlink(path(name).c_str());
    return {};
  }
  Result<bool> exists(std::string_view name) override { return fs::exists(path(name)); }
  Result<void> sync(std::string_view) override { return {}; }
  Result<void> sync_dir() override { return {}; }
  store::StorageCapabilities capabilities() override { return {}; }

 private:
  std::string path(std::string_view name) const { return (dir_ / name).string(); }
  static Result<void> put(const std::string& file, int flags, std::span<const std::uint8_t> bytes) {
    const int fd = ::open(file.c_str(), flags, 0644);
    if (fd < 0) return fail(err::StorageFailure{"open " + file});
    const auto n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    if (n != static_cast<ssize_t>(bytes.size())) return fail(err::StorageFailure{"short write"});
    return {};
  }
  fs::path dir_;
};

// Files held in memory; the time spent inside its calls is summed, so that the store's own time
// can be told apart.
class TimedMemoryStorage final : public store::Storage {
 public:
  double seconds = 0.0;
  std::size_t written = 0;  // bytes of the last whole-file write

  Result<std::optional<Bytes>> read(std::string_view name) override {
    const Timer t(seconds);
    auto it = files_.find(std::string(name));
    if (it == files_.end()) return std::optional<Bytes>();
    return std::optional<Bytes>(it->second);
  }
  Result<void> write(std::string_view name, std::span<const std::uint8_t> bytes) override {
    const Timer t(seconds);
    files_[std::string(name)].assign(bytes.begin(), bytes.end());
    written = bytes.size();
    return {};
  }
  Result<void> append(std::string_view name, std::span<const std::uint8_t> bytes) override {
    const Timer t(seconds);
    Bytes& f = files_[std::string(name)];
    f.insert(f.end(), bytes.begin(), bytes.end());
    return {};
  }
  Result<void> remove(std::string_view name) override {
    files_.erase(std::string(name));
    return {};
  }
  Result<bool> exists(std::string_view name) override { return files_.contains(std::string(name)); }
  Result<void> sync(std::string_view) override { return {}; }
  Result<void> sync_dir() override { return {}; }
  store::StorageCapabilities capabilities() override { return {}; }

 private:
  struct Timer {
    double& total;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    explicit Timer(double& t) : total(t) {}
    ~Timer() { total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
  };
  std::map<std::string, Bytes> files_;
};

// About 1 KB of JSON data per node.
Node make_node(std::size_t i, bool with_vector, std::mt19937_64& rng) {
  static const std::string kBody(700, 'x');
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Node n;
  n.id = "node-" + std::to_string(i);
  n.type = "memory";
  n.data["title"] = "memory number " + std::to_string(i) + " about something worth keeping";
  n.data["key"] = "key-" + std::to_string(i);
  n.data["body"] = kBody;
  n.data["score"] = unit(rng);
  n.data["tags"] = json::Array{"alpha", "beta", "gamma"};
  n.data["source"] = json::Object{{"kind", "chat"}, {"turn", static_cast<std::int64_t>(i % 97)}};
  n.inserted_at = n.updated_at = 1'700'000'000'000 + static_cast<std::int64_t>(i);
  if (with_vector) {
    n.vector.emplace(kDimensions);
    for (double& d : *n.vector) d = unit(rng);
  }
  return n;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

fs::path fresh_dir(const fs::path& root, const std::string& name) {
  fs::path d = root / ("tarnwick-bench-" + name);
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

std::unique_ptr<store::Store> open_store(const fs::path& dir) {
  return std::make_unique<store::Store>(std::make_unique<FileStorage>(dir), store::StoreOptions{});
}

void with_definitions(const fs::path& dir) {
  FileStorage files(dir);
  const std::string schemas = R"({"nodeTypes":[{"nodeType":"memory","requiredFields":["title","key"],)"
                              R"("dataTypes":{"title":"string","score":"number"}}],"edgeTypes":[]})";
  const std::string indexes = R"([{"name":"by_key","fields":["key"],"unique":true}])";
  (void)files.write("schemas.json", {reinterpret_cast<const std::uint8_t*>(schemas.data()), schemas.size()});
  (void)files.write("indexes.json", {reinterpret_cast<const std::uint8_t*>(indexes.data()), indexes.size()});
}

void check(const Result<void>& r) {
  if (!r) {
    std::fprintf(stderr, "store error: %s\n", r.error().text().c_str());
    std::exit(1);
  }
}

// Puts `total` nodes numbered from `first` in batches of `batch`; returns nodes per second.
double store_apply(store::Store& s, std::size_t first, std::size_t total, std::size_t batch, bool vectors) {
  std::mt19937_64 rng(first);
  std::vector<ChangeBatch> batches;
  for (std::size_t i = 0; i < total; i += batch) {
    ChangeBatch b;
    for (std::size_t j = i; j < std::min(total, i + batch); ++j) b.put_nodes.push_back(make_node(first + j, vectors, rng));
    batches.push_back(std::move(b));
  }
  const auto start = std::chrono::steady_clock::now();
  for (const auto& b : batches)
    check(s.apply_with_identity(b, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt));
  return static_cast<double>(total) / seconds_since(start);
}

struct Sqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;

  Sqlite(const fs::path& dir, const char* synchronous) {
    sqlite3_open((dir / "nodes.sqlite").c_str(), &db);
    exec("PRAGMA journal_mode=WAL");
    exec((std::string("PRAGMA synchronous=") + synchronous).c_str());
    exec("CREATE TABLE IF NOT EXISTS nodes(id TEXT PRIMARY KEY, type TEXT NOT NULL, data TEXT NOT NULL, vector BLOB)");
    exec("CREATE UNIQUE INDEX IF NOT EXISTS by_key ON nodes(json_extract(data, '$.key'))");
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO nodes VALUES(?1, ?2, ?3, ?4)", -1, &insert, nullptr);
  }
  ~Sqlite() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  void exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s\n", error);
      std::exit(1);
    }
  }
  // The same records as JSON text, vectors as float32 blobs (less than we store: float64 here).
  void put(const std::vector<Node>& nodes) {
    exec("BEGIN");
    std::string text;
    std::vector<float> blob;
    for (const auto& n : nodes) {
      text.clear();
      json::print(text, json::Value(n.data));
      sqlite3_bind_text(insert, 1, n.id.data(), static_cast<int>(n.id.size()), SQLITE_STATIC);
      sqlite3_bind_text(insert, 2, n.type.data(), static_cast<int>(n.type.size()), SQLITE_STATIC);
      sqlite3_bind_text(insert, 3, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
      if (n.vector) {
        blob.assign(n.vector->begin(), n.vector->end());
        sqlite3_bind_blob(insert, 4, blob.data(), static_cast<int>(blob.size() * sizeof(float)), SQLITE_STATIC);
      } else {
        sqlite3_bind_null(insert, 4);
      }
      if (sqlite3_step(insert) != SQLITE_DONE) {
        std::fprintf(stderr, "sqlite insert: %s\n", sqlite3_errmsg(db));
        std::exit(1);
      }
      sqlite3_reset(insert);
    }
    exec("COMMIT");
  }
};

double sqlite_apply(Sqlite& db, std::size_t first, std::size_t total, std::size_t batch, bool vectors) {
  std::mt19937_64 rng(first);
  std::vector<std::vector<Node>> batches;
  for (std::size_t i = 0; i < total; i += batch) {
    std::vector<Node> b;
    for (std::size_t j = i; j < std::min(total, i + batch); ++j) b.push_back(make_node(first + j, vectors, rng));
    batches.push_back(std::move(b));
  }
  const auto start = std::chrono::steady_clock::now();
  for (const auto& b : batches) db.put(b);
  return static_cast<double>(total) / seconds_since(start);
}

// Every row read back: the columns touched, the JSON parsed into a value as a reader would.
double sqlite_read_all(const fs::path& dir) {
  sqlite3* db = nullptr;
  sqlite3_open((dir / "nodes.sqlite").c_str(), &db);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT id, type, data, vector FROM nodes", -1, &select, nullptr);
  const auto start = std::chrono::steady_clock::now();
  std::size_t rows = 0, bytes = 0;
  while (sqlite3_step(select) == SQLITE_ROW) {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(select, 2));
    auto parsed = json::parse({data, static_cast<std::size_t>(sqlite3_column_bytes(select, 2))});
    bytes += parsed ? parsed->as_object().size() : 0;
    bytes += static_cast<std::size_t>(sqlite3_column_bytes(select, 3));
    ++rows;
  }
  const double secs = seconds_since(start);
  sqlite3_finalize(select);
  sqlite3_close(db);
  if (bytes == 0) std::printf("(no rows read)\n");
  return static_cast<double>(rows) / secs;
}

double cold_load(const fs::path& dir) {
  auto s = open_store(dir);
  const auto start = std::chrono::steady_clock::now();
  check(s->ensure_loaded());
  return static_cast<double>(s->node_count().value()) / seconds_since(start);
}

void report(const char* what, double ours, double theirs_off, double theirs_normal) {
  std::printf("%-44s %10.0f/s   sqlite OFF %10.0f/s  NORMAL %10.0f/s   ratio vs OFF %5.2f  vs NORMAL %5.2f\n", what,
              ours, theirs_off, theirs_normal, ours / theirs_off, ours / theirs_normal);
}

}  // namespace

// About 200 bytes of JSON data per node.
Node small_node(std::size_t i) {
  Node n;
  n.id = "node-" + std::to_string(i);
  n.type = "kind-" + std::to_string(i % 10);
  n.data["email"] = "user" + std::to_string(i) + "@example.org";
  n.data["title"] = "memory number " + std::to_string(i);
  n.data["rank"] = static_cast<std::int64_t>(i);
  n.data["score"] = static_cast<double>(i) / 7.0;
  n.data["tags"] = json::Array{"alpha", "beta"};
  n.data["text"] = std::string(80, 'y');
  n.inserted_at = n.updated_at = 1'700'000'000'000 + static_cast<std::int64_t>(i);
  return n;
}

// The median of `runs` timings, and the first of them, which alone meets memory the process has
// never used.
struct Timings {
  double first = 0.0;
  double median = 0.0;
};
template <class Run>
Timings repeated(int runs, Run run) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(run());
  const double first = times.front();
  std::sort(times.begin(), times.end());
  return {first, times[times.size() / 2]};
}

// The snapshot encoding, a compaction (each after a batch of one node, so that there is
// something to compact) and a load of the snapshot alone, for `total` nodes without vectors, in
// engine time.
void compaction(std::size_t total) {
  constexpr int kRuns = 5;
  auto owned = std::make_unique<TimedMemoryStorage>();
  TimedMemoryStorage& storage = *owned;
  store::StoreOptions no_compaction;
  no_compaction.compact_threshold = ~std::uint64_t{0};
  store::Store s(std::move(owned), no_compaction);
  for (std::size_t i = 0; i < total; i += 10'000) {
    ChangeBatch b;
    for (std::size_t j = i; j < std::min(total, i + 10'000); ++j) b.put_nodes.push_back(small_node(j));
    check(s.apply_with_identity(std::move(b), std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt));
  }
  auto engine_time = [&](auto run) {
    const double inside = storage.seconds;
    const auto start = std::chrono::steady_clock::now();
    check(run());
    return seconds_since(start) - (storage.seconds - inside);
  };
  const Timings encode = repeated(kRuns, [&] { return engine_time([&] { return s.write_snapshot(); }); });
  const double snapshot_bytes = static_cast<double>(storage.written);
  std::size_t extra = total;
  const Timings compact = repeated(kRuns, [&] {
    ChangeBatch one;
    one.put_nodes.push_back(small_node(extra++));
    check(s.apply_with_identity(std::move(one), std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt));
    return engine_time([&] { return s.compact(); });
  });
  std::printf("%-46s %10.3f s  %6.2f GB/s  (%.0f MB; median of %d, first %.3f s)\n",
              ("snapshot encode, " + std::to_string(total) + " nodes").c_str(), encode.median,
              snapshot_bytes / encode.median / 1e9, snapshot_bytes / 1e6, kRuns, encode.first);
  std::printf("%-46s %10.3f s  (median of %d, first %.3f s)\n", ("compact, " + std::to_string(total) + " nodes").c_str(),
              compact.median, kRuns, compact.first);

  auto snapshot = storage.read("snapshot.msgpack").value().value();
  auto fresh = std::make_unique<TimedMemoryStorage>();
  check(fresh->write("snapshot.msgpack", snapshot));
  TimedMemoryStorage& fresh_storage = *fresh;
  store::Store loaded(std::move(fresh), store::StoreOptions{});
  const double inside = fresh_storage.seconds;
  const auto start = std::chrono::steady_clock::now();
  check(loaded.ensure_loaded());
  const double load = seconds_since(start) - (fresh_storage.seconds - inside);
  std::printf("%-46s %10.3f s  %6.0f MB/s\n", ("load of the snapshot alone, " + std::to_string(total) + " nodes").c_str(),
              load, static_cast<double>(snapshot.size()) / load / 1e6);
}

int main(int argc, char** argv) {
  const fs::path root = argc > 1 ? argv[1] : "/dev/shm";
  const std::string only = argc > 2 ? argv[2] : "";
  std::printf("nodes per second; ratio = ours / SQLite (above 1: we are faster)\n");
  if (only.empty() || only == "compact") compaction(1'000'000);
  for (const bool vectors : {false, true}) {
    if (only == "load" || only == "compact") break;
    for (const bool big : {false, true}) {
      for (const std::size_t batch : {std::size_t{1}, std::size_t{100}, std::size_t{10'000}}) {
        const std::size_t total = batch == 1 ? 5'000 : 20'000;
        const fs::path ours = fresh_dir(root, "ours"), off = fresh_dir(root, "off"), normal = fresh_dir(root, "normal");
        auto s = open_store(ours);
        Sqlite db_off(off, "OFF"), db_normal(normal, "NORMAL");
        if (big) {
          with_definitions(ours);
          check(s->ensure_loaded());
          store_apply(*s, 0, kBigGraph, 10'000, vectors);
          sqlite_apply(db_off, 0, kBigGraph, 10'000, vectors);
          sqlite_apply(db_normal, 0, kBigGraph, 10'000, vectors);
        }
        const std::size_t first = big ? kBigGraph : 0;
        const double a = store_apply(*s, first, total, batch, vectors);
        const double b = sqlite_apply(db_off, first, total, batch, vectors);
        const double c = sqlite_apply(db_normal, first, total, batch, vectors);
        const std::string what = "apply, batch " + std::to_string(batch) + (vectors ? ", vectors" : "") +
                                 (big ? ", on 100k + schema + unique" : ", on empty");
        report(what.c_str(), a, b, c);
      }
    }
  }
  for (const bool vectors : {false, true}) {
    if (only == "apply" || only == "compact") break;
    const fs::path ours = fresh_dir(root, "ours"), off = fresh_dir(root, "off"), normal = fresh_dir(root, "normal");
    {
      store::StoreOptions no_compaction;
      no_compaction.compact_threshold = ~std::uint64_t{0};
      store::Store s(std::make_unique<FileStorage>(ours), no_compaction);
      store_apply(s, 0, kBigGraph, 10'000, vectors);
      Sqlite db(off, "OFF");
      sqlite_apply(db, 0, kBigGraph, 10'000, vectors);
    }
    // The log alone, then the snapshot alone (loading folds the log into a snapshot).
    const fs::path copy = fresh_dir(root, "copy");
    fs::copy(ours, copy, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const double from_wal = cold_load(copy);       // and folds it into a snapshot
    const double from_snapshot = cold_load(copy);
    const double rows = sqlite_read_all(off);
    report(vectors ? "cold load 100k from WAL, vectors" : "cold load 100k from WAL", from_wal, rows, rows);
    report(vectors ? "cold load 100k from snapshot, vectors" : "cold load 100k from snapshot", from_snapshot, rows,
           rows);
    fs::remove_all(copy);
  }
  fs::remove_all(root / "tarnwick-bench-ours");
  fs::remove_all(root / "tarnwick-bench-off");
  fs::remove_all(root / "tarnwick-bench-normal");
  return 0;
}
