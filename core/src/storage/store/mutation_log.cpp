#include "storage/store/mutation_log.hpp"

#include <limits>
#include <span>
#include <string>

#include "storage/store/store.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {

namespace {

std::vector<std::string_view> non_empty_pieces(std::string_view content) {
  std::vector<std::string_view> pieces;
  while (!content.empty()) {
    const std::size_t end = std::min(content.find('\n'), content.size());
    if (end > 0) pieces.push_back(content.substr(0, end));
    content.remove_prefix(std::min(end + 1, content.size()));
  }
  return pieces;
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

// The records a retention policy keeps: the newest `mutation_log_max_entries`, each at most
// `mutation_log_max_age_ms` old at `now`.
std::vector<const MutationRecord*> retained(const std::vector<MutationRecord>& records,
                                            const MutationLogRetention& retention, std::int64_t now) {
  const std::uint64_t total = records.size();
  const std::uint64_t max_entries = retention.mutation_log_max_entries.value_or(total);
  const std::uint64_t first_kept = total > max_entries ? total - max_entries : 0;
  std::vector<const MutationRecord*> kept;
  for (std::uint64_t i = first_kept; i < total; ++i) {
    const MutationRecord& r = records[i];
    const auto& max_age = retention.mutation_log_max_age_ms;
    if (!max_age || saturating_sub(now, r.timestamp) <= *max_age) kept.push_back(&r);
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
  const std::vector<std::string_view> pieces = non_empty_pieces(content);
  if (tail_dropped) *tail_dropped = false;
  std::vector<MutationRecord> records;
  records.reserve(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    auto record = read_mutation_line(pieces[i]);
    if (record) {
      records.push_back(std::move(*record));
      continue;
    }
    // Only the tail can be torn by a crash in the middle of an append.
    if (i + 1 == pieces.size()) {
      if (tail_dropped) *tail_dropped = true;
      break;
    }
    return fail(corrupt("mutation log: " + record.error().get_if<err::CorruptData>()->message));
  }
  return records;
}

Result<std::vector<MutationRecord>> Store::mutation_log() {
  if (closed_) return fail(err::Closed{});
  TARNWICK_TRY_ASSIGN(const std::optional<Bytes> content, storage_->read(kMutationLogFile));
  if (!content) return std::vector<MutationRecord>{};
  bool tail_dropped = false;
  auto records = read_mutation_log({reinterpret_cast<const char*>(content->data()), content->size()}, &tail_dropped);
  // The next append must not land behind a piece that is no whole record.
  mutation_log_torn_ = tail_dropped || (!content->empty() && content->back() != '\n');
  return records;
}

Result<std::vector<MutationRecord>> Store::mutation_log_since(std::uint64_t sequence) {
  // No limit below the log's length: the page holds every later record.
  return mutation_log_page(sequence, std::numeric_limits<std::uint64_t>::max());
}

Result<std::vector<MutationRecord>> Store::mutation_log_page(std::uint64_t sequence, std::uint64_t limit) {
  // An empty page needs no file, so it answers even on a closed store.
  if (limit == 0) return std::vector<MutationRecord>{};
  TARNWICK_TRY_ASSIGN(std::vector<MutationRecord> records, mutation_log());
  std::vector<MutationRecord> page;
  for (MutationRecord& r : records) {
    if (page.size() == limit) break;
    if (r.sequence > sequence) page.push_back(std::move(r));
  }
  return page;
}

Result<std::uint64_t> Store::latest_mutation_sequence() {
  TARNWICK_TRY_ASSIGN(const std::vector<MutationRecord> records, mutation_log());
  return records.empty() ? 0 : records.back().sequence;
}

Result<void> Store::trim_mutation_log() {
  if (!options_.retention) return {};
  const MutationLogRetention& retention = *options_.retention;
  if (!retention.mutation_log_max_entries && !retention.mutation_log_max_age_ms) return {};
  if (closed_) return fail(err::Closed{});
  if (out_of_step_ != FailedWrite::None) TARNWICK_TRY(repair());
  TARNWICK_TRY_ASSIGN(const std::vector<MutationRecord> records, mutation_log());
  if (records.empty()) return {};
  const std::vector<const MutationRecord*> kept = retained(records, retention, clock_());
  if (kept.size() == records.size()) return {};
  std::string content;
  for (const MutationRecord* r : kept) {
    // Kept records come back unpacked and are packed again at today's precision, but only
    // where that loses nothing.
    if (auto line = append_mutation_line(content, *r, vector_precision_, Packing::ExactOnly); !line)
      return fail(corrupt("mutation log: " + line.error().text()));
    content += '\n';
  }
  return rewrite_mutation_log(content, options_.sync_mode == kSyncAfterWrites);
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
  TARNWICK_TRY_ASSIGN(const std::vector<MutationRecord> existing, mutation_log());
  if (existing.size() >= 2)
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
