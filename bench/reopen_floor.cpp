// The least work reopening a store can do, to measure a reopen against: read "snapshot.msgpack"
// and "mutations.jsonl" from a store's directory into fresh memory, run a validating JSON parse
// over every log line that keeps its sequence and its two ids and nothing else, and walk the
// snapshot once checking every value's encoding (the MessagePack kit's skip). Nothing is built.
// bench/store_memory.py runs it next to each reopen and prints the reopen's ratio to it.
//
//   (built with -DTARNWICK_BUILD_BENCH=ON, e.g. pip's -C cmake.define.TARNWICK_BUILD_BENCH=ON)
//   build/release/bench/reopen_floor DIRECTORY [repeat, default 1]
//
// Prints one JSON object: the median seconds of `repeat` runs in all and per part, the lines and
// the snapshot bytes checked. Exits non-zero when a line or the snapshot does not check.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "json/parser_detail.hpp"
#include "storage/msgpack/skip.hpp"

namespace {

namespace bj = boost::json;
using namespace tarnwick;

struct File {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

// The whole file in new memory, as a storage object would hand it over; empty when missing.
File read_file(const std::string& path) {
  File f;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return f;
  struct stat st {};
  ::fstat(fd, &st);
  f.size = static_cast<std::size_t>(st.st_size);
  f.bytes = std::make_unique_for_overwrite<char[]>(f.size);
  std::size_t done = 0;
  while (done < f.size) {
    const ssize_t n = ::read(fd, f.bytes.get() + done, f.size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  f.size = done;
  return f;
}

// Keeps a line's top-level "sequence", "operationId" and "transactionId"; everything else is
// only checked by the parser.
struct KeepIds : json::detail::HandlerLimits {
  enum class Key { other, sequence, operation_id, transaction_id };
  int depth = 0;
  Key key = Key::other;
  std::uint64_t sequence = 0;
  std::string operation_id, transaction_id, pending;

  bool on_document_begin(bj::error_code&) { return true; }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_object_begin(bj::error_code&) { return ++depth, true; }
  bool on_object_end(std::size_t, bj::error_code&) { return --depth, true; }
  bool on_array_begin(bj::error_code&) { return ++depth, true; }
  bool on_array_end(std::size_t, bj::error_code&) { return --depth, true; }
  bool on_key_part(bj::string_view s, std::size_t, bj::error_code&) { return pending.append(s), true; }
  bool on_key(bj::string_view s, std::size_t, bj::error_code&) {
    if (depth == 1) {
      pending.append(s);
      key = pending == "sequence"        ? Key::sequence
            : pending == "operationId"   ? Key::operation_id
            : pending == "transactionId" ? Key::transaction_id
                                         : Key::other;
    }
    pending.clear();
    return true;
  }
  bool on_string_part(bj::string_view s, std::size_t, bj::error_code&) {
    if (depth == 1 && key != Key::other) pending.append(s);
    return true;
  }
  bool on_string(bj::string_view s, std::size_t, bj::error_code&) {
    if (depth == 1 && (key == Key::operation_id || key == Key::transaction_id)) {
      pending.append(s);
      (key == Key::operation_id ? operation_id : transaction_id).swap(pending);
    }
    pending.clear();
    return true;
  }
  bool on_number_part(bj::string_view, bj::error_code&) { return true; }
  bool on_int64(std::int64_t i, bj::string_view, bj::error_code&) {
    if (depth == 1 && key == Key::sequence) sequence = static_cast<std::uint64_t>(i);
    return true;
  }
  bool on_uint64(std::uint64_t u, bj::string_view, bj::error_code&) {
    if (depth == 1 && key == Key::sequence) sequence = u;
    return true;
  }
  bool on_double(double, bj::string_view, bj::error_code&) { return true; }
  bool on_bool(bool, bj::error_code&) { return true; }
  bool on_null(bj::error_code&) { return true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }
};

struct Check {
  std::size_t lines = 0;
  std::size_t kept = 0;  // bytes of the ids kept, so that keeping them is not optimized away
  bool ok = true;
};

void check_log(std::string_view log, Check& out) {
  bj::basic_parser<KeepIds> parser(json::detail::parse_options());
  while (!log.empty()) {
    const std::size_t end = std::min(log.find('\n'), log.size());
    if (end > 0) {
      parser.reset();
      bj::error_code ec;
      const std::size_t used = parser.write_some(false, log.data(), end, ec);
      out.ok = out.ok && !ec && used == end;
      const KeepIds& h = parser.handler();
      out.kept += h.operation_id.size() + h.transaction_id.size() + (h.sequence & 1);
      ++out.lines;
    }
    log.remove_prefix(std::min(end + 1, log.size()));
  }
}

bool check_snapshot(const File& f) {
  if (f.size == 0) return true;
  msgpack::Cursor c{{reinterpret_cast<const std::uint8_t*>(f.bytes.get()), f.size}};
  return msgpack::skip_value_status(c) == msgpack::HeaderStatus::Ok && c.pos == f.size;
}

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY [repeat]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  std::vector<double> total, read, log, snapshot;
  Check check;
  std::size_t snapshot_bytes = 0;
  for (int r = 0; r < repeat; ++r) {
    check = {};
    const auto start = std::chrono::steady_clock::now();
    const File snap = read_file(dir + "/snapshot.msgpack");
    const File lines = read_file(dir + "/mutations.jsonl");
    const double read_done = since(start);
    check_log({lines.bytes.get(), lines.size}, check);
    const double log_done = since(start);
    check.ok = check_snapshot(snap) && check.ok;
    const double all_done = since(start);
    snapshot_bytes = snap.size;
    total.push_back(all_done);
    read.push_back(read_done);
    log.push_back(log_done - read_done);
    snapshot.push_back(all_done - log_done);
  }
  std::printf(
      "{\"seconds\": %.6f, \"read\": %.6f, \"log\": %.6f, \"snapshot\": %.6f, \"lines\": %zu, "
      "\"snapshot_bytes\": %zu, \"kept\": %zu}\n",
      median(total), median(read), median(log), median(snapshot), check.lines, snapshot_bytes, check.kept);
  return check.ok ? 0 : 1;
}
