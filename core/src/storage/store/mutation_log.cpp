#include "storage/store/mutation_log.hpp"

#include <limits>
#include <span>
#include <string>

#include "storage/store/store.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {

namespace {

// Reads every non-empty piece of the content with `read` (a Result<void> of the piece), in order.
// Only the tail can be torn by a crash in the middle of an append: a last piece that fails is
// dropped, any other failure fails the whole log.
template <class Read>
Result<void> read_pieces(std::string_view content, bool* tail_dropped, Read read) {
  if (tail_dropped) *tail_dropped = false;
  while (!content.empty()) {
    const std::size_t end = std::min(content.find('\n'), content.size());
    const std::string_view piece = content.substr(0, end);
    content.remove_prefix(std::min(end + 1, content.size()));
    if (piece.empty()) continue;
    Result<void> r = read(piece);
    if (r) continue;
    if (content.find_first_not_of('\n') == std::string_view::npos) {
      if (tail_dropped) *tail_dropped = true;
      return {};
    }
    return fail(corrupt("mutation log: " + r.error().get_if<err::CorruptData>()->message));
  }
  return {};
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// An age far in the past or future stops at the limit instead of wrapping round.
std::int64_t saturating_sub(std::int64_t a, std::int64_t b) {
  std::int64_t r = 0;
  if (!__builtin_sub_overflow(a, b, &r)) return r;
  return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// The positions of the records a retention policy keeps, given each record's timestamp: the
// newest `mutation_log_max_entries`, each at most `mutation_log_max_age_ms` old at `now`.
std::vector<std::size_t> retained(const std::vector<std::int64_t>& timestamps, const MutationLogRetention& retention,
                                  std::int64_t now) {
  const std::uint64_t total = timestamps.size();
  const std::uint64_t max_entries = retention.mutation_log_max_entries.value_or(total);
  const std::uint64_t first_kept = total > max_entries ? total - max_entries : 0;
  std::vector<std::size_t> kept;
  for (std::uint64_t i = first_kept; i < total; ++i) {
    const auto& max_age = retention.mutation_log_max_age_ms;
    if (!max_age || saturating_sub(now, timestamps[i]) <= *max_age) kept.push_back(i);
  }
  return kept;
}

}  // namespace

Result<MutationRecord> read_mutation_line(std::string_view line) {
  auto value = json::parse(line);
  if (!value) return fail(corrupt(json::with_position(value.error().message, line, value.error().offset)));
  if (auto unpacked = unpack_mutation_vectors(*value); !unpacked) return fail(corrupt(unpacked.error().text()));
  auto record = MutationRecord::deserialize(*value);
  if (!record) return fail(corrupt(record.error().text()));
  return std::move(*record);
}

Result<std::vector<MutationRecord>> read_mutation_log(std::string_view content, bool* tail_dropped) {
  std::vector<MutationRecord> records;
  TARNWICK_TRY(read_pieces(content, tail_dropped, [&](std::string_view piece) -> Result<void> {
    TARNWICK_TRY_ASSIGN(MutationRecord record, read_mutation_line(piece));
    records.push_back(std::move(record));
    return {};
  }));
  return records;
}

Result<void> scan_mutation_log(std::string_view content, const LineVisitor& each, bool* tail_dropped) {
  MutationLineScanner scanner;
  LineFacts read_in_full;
  return read_pieces(content, tail_dropped, [&](std::string_view piece) -> Result<void> {
    if (scanner.scan(piece)) {
      each(piece, scanner.facts());
      return {};
    }
    // The full reader has the last word: it names the fault, or reads what the scan refused.
    TARNWICK_TRY_ASSIGN(MutationRecord record, read_mutation_line(piece));
    read_in_full = {record.sequence, record.timestamp, std::move(record.operation_id),
                    std::move(record.transaction_id)};
    each(piece, read_in_full);
    return {};
  });
}

Result<void> Store::walk_mutation_log_file(const LogWalk& walk) {
  if (closed_) return fail(err::Closed{});
  Bytes scratch;
  TARNWICK_TRY_ASSIGN(auto content, storage_->read_lent(kMutationLogFile, scratch));
  if (!content) return {};
  bool tail_dropped = false;
  auto r = walk({reinterpret_cast<const char*>(content->data()), content->size()}, &tail_dropped);
  // The next append must not land behind a piece that is no whole record.
  mutation_log_torn_ = tail_dropped || (!content->empty() && content->back() != '\n');
  // A log can be the largest file there is: it goes now, not at the backend's next call.
  storage_->end_loan();
  return r;
}

Result<void> Store::scan_mutation_log_file(const LineVisitor& each, const AfterScan& then) {
  return walk_mutation_log_file([&](std::string_view text, bool* tail_dropped) -> Result<void> {
    TARNWICK_TRY(scan_mutation_log(text, each, tail_dropped));
    return then ? then() : Result<void>();
  });
}

Result<std::vector<MutationRecord>> Store::mutation_log() {
  std::vector<MutationRecord> records;
  TARNWICK_TRY(walk_mutation_log_file([&](std::string_view text, bool* tail_dropped) -> Result<void> {
    TARNWICK_TRY_ASSIGN(records, read_mutation_log(text, tail_dropped));
    return {};
  }));
  return records;
}

Result<std::vector<MutationRecord>> Store::mutation_log_since(std::uint64_t sequence) {
  // No limit below the log's length: the page holds every later record.
  return mutation_log_page(sequence, std::numeric_limits<std::uint64_t>::max());
}

Result<std::vector<MutationRecord>> Store::mutation_log_page(std::uint64_t sequence, std::uint64_t limit) {
  // An empty page needs no file, so it answers even on a closed store.
  if (limit == 0) return std::vector<MutationRecord>{};
  std::vector<std::string_view> lines;
  std::vector<MutationRecord> page;
  TARNWICK_TRY(scan_mutation_log_file(
      [&](std::string_view line, const LineFacts& facts) {
        if (lines.size() < limit && facts.sequence > sequence) lines.push_back(line);
      },
      // Records are built only for the lines returned, once every line is known to read.
      [&]() -> Result<void> {
        page.reserve(lines.size());
        for (std::string_view line : lines) {
          TARNWICK_TRY_ASSIGN(MutationRecord record, read_mutation_line(line));
          page.push_back(std::move(record));
        }
        return {};
      }));
  return page;
}

Result<std::uint64_t> Store::latest_mutation_sequence() {
  std::uint64_t last = 0;
  TARNWICK_TRY(scan_mutation_log_file([&](std::string_view, const LineFacts& facts) { last = facts.sequence; }));
  return last;
}

Result<std::uint64_t> Store::mutation_log_length() {
  std::uint64_t records = 0;
  TARNWICK_TRY(scan_mutation_log_file([&](std::string_view, const LineFacts&) { ++records; }));
  return records;
}

Result<void> Store::trim_mutation_log() {
  if (!options_.retention) return {};
  const MutationLogRetention& retention = *options_.retention;
  if (!retention.mutation_log_max_entries && !retention.mutation_log_max_age_ms) return {};
  if (closed_) return fail(err::Closed{});
  if (out_of_step_ != FailedWrite::None) TARNWICK_TRY(repair());
  std::vector<std::string_view> lines;
  std::vector<std::int64_t> timestamps;
  // The kept lines, read again and written anew; none when every line stays.
  std::optional<std::string> content;
  TARNWICK_TRY(scan_mutation_log_file(
      [&](std::string_view line, const LineFacts& facts) {
        lines.push_back(line);
        timestamps.push_back(facts.timestamp);
      },
      [&]() -> Result<void> {
        if (lines.empty()) return {};
        const std::vector<std::size_t> kept = retained(timestamps, retention, clock_());
        if (kept.size() == lines.size()) return {};
        content.emplace();
        for (std::size_t i : kept) {
          TARNWICK_TRY_ASSIGN(const MutationRecord record, read_mutation_line(lines[i]));
          // Kept records come back unpacked and are packed again at today's precision, but only
          // where that loses nothing.
          if (auto line = append_mutation_line(*content, record, vector_precision_, Packing::ExactOnly); !line)
            return fail(corrupt("mutation log: " + line.error().text()));
          *content += '\n';
        }
        return {};
      }));
  if (!content) return {};
  return rewrite_mutation_log(*content, options_.sync_mode == kSyncAfterWrites);
}

Result<void> Store::rewrite_mutation_log(std::string_view content, bool sync) {
  auto r = storage_->write(kMutationLogFile, as_bytes(content));
  if (r) mutation_log_torn_ = false;  // whole lines only, whatever the file ended with before
  if (r && sync) r = storage_->sync(kMutationLogFile);
  if (!r) mark_out_of_step(FailedWrite::Other);
  return r;
}

Result<void> Store::replace_mutation_log(std::span<const MutationRecord> records) {
  TARNWICK_TRY(ensure_loaded());
  TARNWICK_TRY_ASSIGN(const std::uint64_t existing, mutation_log_length());
  if (existing >= 2)
    return fail(err::InvalidArgument{"mutation history replacement is only allowed on a fresh migration destination"});
  for (std::size_t i = 1; i < records.size(); ++i)
    if (records[i].sequence <= records[i - 1].sequence)
      return fail(err::InvalidArgument{"mutation history sequences must be strictly increasing"});
  std::string content;
  for (const MutationRecord& r : records) {
    TARNWICK_TRY(append_mutation_line(content, r, vector_precision_));
    // A packed vector the reader would refuse would make the store unloadable for good.
    TARNWICK_TRY(check_packed_vectors(r));
    content += '\n';
  }
  TARNWICK_TRY(rewrite_mutation_log(content, false));
  last_sequence_ = records.empty() ? 0 : records.back().sequence;
  TextSet operation_ids;
  TextSet transaction_ids;
  for (const MutationRecord& r : records) {
    operation_ids.insert(r.operation_id);
    transaction_ids.insert(r.transaction_id);
  }
  seen_operation_ids_ = std::move(operation_ids);
  seen_transaction_ids_ = std::move(transaction_ids);
  return {};
}

}  // namespace tarnwick::store
