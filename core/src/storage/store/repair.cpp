// Back in step after a failed write. A write that failed may still have changed its file (a torn
// append, frames of a batch the caller was told failed, a half-rewritten log), so before the
// store goes on it makes the files say exactly what it will answer from then on:
//   (a) the snapshot from memory; (b) "wal.msgpack" with only the entries memory does not hold,
//   dropping a failed batch append whole; (c) "mutations.jsonl" ended at a line boundary;
//   (d) a reload from the files, as a new store would see them.
// A step that fails leaves memory as it was; the next operation tries again.

#include <algorithm>
#include <limits>

#include "storage/store/mutation_log.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

Result<void> Store::repair() {
  if (loaded_) {
    TARNWICK_TRY(write_snapshot());
    const std::uint64_t keep_from = out_of_step_ == FailedWrite::WalAppend
                                        ? std::numeric_limits<std::uint64_t>::max()
                                        : wal_entries_since_snapshot_;
    TARNWICK_TRY(rewrite_wal_from(keep_from));
  }
  mutation_log_torn_ = true;  // a failed append may have left a piece without its line feed
  TARNWICK_TRY(settle_mutation_log_tail());
  if (loaded_) TARNWICK_TRY(reload());
  out_of_step_ = FailedWrite::None;
  return {};
}

// Loads into a new store over the same backend, so that a failure leaves this one untouched.
// Ids a trim dropped from the log stay known, and the sequence never goes back.
Result<void> Store::reload() {
  Store fresh(std::move(storage_), options_, clock_);
  auto r = fresh.load_files();
  if (!r) {
    storage_ = std::move(fresh.storage_);
    return r;
  }
  fresh.last_sequence_ = std::max(fresh.last_sequence_, last_sequence_);
  fresh.seen_operation_ids_.merge(seen_operation_ids_);
  fresh.seen_transaction_ids_.merge(seen_transaction_ids_);
  *this = std::move(fresh);
  return {};
}

Result<void> Store::settle_mutation_log_tail() {
  if (!mutation_log_torn_) return {};
  TARNWICK_TRY_ASSIGN(auto bytes, storage_->read(kMutationLogFile));
  if (bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    // The last non-empty piece stays, with its line feed, only when it reads as a record.
    const std::size_t end = text.find_last_not_of('\n') + 1;  // 0 when there is no such piece
    const std::size_t start = end == 0 ? 0 : text.rfind('\n', end - 1) + 1;  // npos + 1 is 0
    const std::string_view last = text.substr(start, end - start);
    std::string content(text.substr(0, start));
    if (!last.empty() && read_mutation_line(last)) content.append(last).push_back('\n');
    if (content != text) {
      TARNWICK_TRY(storage_->write(kMutationLogFile, {reinterpret_cast<const std::uint8_t*>(content.data()),
                                                     content.size()}));
    }
  }
  mutation_log_torn_ = false;
  return {};
}

}  // namespace tarnwick::store
