#pragma once
// The log readers that build no record against the one that builds every record, on one log's
// content: each piece gets the same verdict and the same fields from `MutationLineScanner` as
// from `read_mutation_line`; the whole log the same error text or the same pieces and torn tail
// from `scan_mutation_log` as from `read_mutation_log`; and a store over it the same load
// counters, latest sequence, page, count and trimmed file. Shared by the libFuzzer target and the
// tests, so that every input the fuzzer once kept runs in every build.

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "storage/store/mutation_log.hpp"
#include "storage/store/store.hpp"
#include "storage/store/vector_packing.hpp"
#include "store/memory_storage.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::test {

// Empty when the two agree on the line; what differs otherwise.
inline std::string line_disagreement(store::MutationLineScanner& scanner, std::string_view line) {
  const bool scanned = scanner.scan(line);
  const auto full = store::read_mutation_line(line);
  if (scanned != full.has_value()) return scanned ? "scan accepts a refused line" : "scan refuses a read line";
  if (!full) return {};
  const store::LineFacts& f = scanner.facts();
  if (f.sequence != full->sequence || f.timestamp != full->timestamp || f.operation_id != full->operation_id ||
      f.transaction_id != full->transaction_id)
    return "scan keeps other fields";
  return {};
}

inline std::string outcome_text(const Result<void>& r) { return r ? "ok" : r.error().text(); }

// The records the full reader reads, as facts, with the error text ("ok" when none) and the tail.
struct LogReading {
  std::string outcome;
  bool tail_dropped = false;
  std::vector<std::uint64_t> sequences;
  std::vector<std::int64_t> timestamps;
  std::vector<std::string> ids;  // operation id then transaction id, per record

  bool operator==(const LogReading&) const = default;
};

inline LogReading read_in_full(std::string_view content) {
  LogReading out;
  auto records = store::read_mutation_log(content, &out.tail_dropped);
  out.outcome = records ? "ok" : records.error().text();
  if (!records) return out;
  for (const store::MutationRecord& r : *records) {
    out.sequences.push_back(r.sequence);
    out.timestamps.push_back(r.timestamp);
    out.ids.push_back(r.operation_id);
    out.ids.push_back(r.transaction_id);
  }
  return out;
}

inline LogReading read_by_scan(std::string_view content) {
  LogReading out;
  const auto r = store::scan_mutation_log(
      content,
      [&](std::string_view, const store::LineFacts& f) {
        out.sequences.push_back(f.sequence);
        out.timestamps.push_back(f.timestamp);
        out.ids.push_back(f.operation_id);
        out.ids.push_back(f.transaction_id);
      },
      &out.tail_dropped);
  out.outcome = outcome_text(r);
  if (!r) {
    out.sequences.clear();  // what `each` saw before the fault is no reading
    out.timestamps.clear();
    out.ids.clear();
  }
  return out;
}

// What the store's operations built on the scan give, against the records the full reader reads.
inline std::string store_disagreement(std::string_view content, const LogReading& full) {
  auto disk = std::make_shared<Disk>();
  disk->put(std::string(store::kMutationLogFile), content);
  store::Store s(std::make_unique<MemoryStorage>(disk), store::StoreOptions{});
  const bool ok = full.outcome == "ok";
  const auto all = s.mutation_log();
  if ((all ? "ok" : all.error().text()) != full.outcome) return "mutation_log";
  const auto expect = [&](const auto& r, const auto& value) { return r ? ok && *r == value : r.error().text() == full.outcome; };
  if (!expect(s.latest_mutation_sequence(), full.sequences.empty() ? 0 : full.sequences.back())) return "latest";
  if (!expect(s.mutation_log_length(), full.sequences.size())) return "length";
  // The page that starts after the first record and stops before the last.
  const std::uint64_t after = full.sequences.empty() ? 0 : full.sequences.front();
  std::vector<store::MutationRecord> page;
  if (all)
    for (const store::MutationRecord& r : *all)
      if (r.sequence > after && page.size() + 1 < all->size()) page.push_back(r);
  if (!expect(s.mutation_log_page(after, all && !all->empty() ? all->size() - 1 : 1), page)) return "page";
  if (all && !all->empty()) {
    // A trim that drops the first record writes the others again.
    std::string kept;
    for (std::size_t i = 1; i < all->size(); ++i) {
      (void)store::append_mutation_line(kept, (*all)[i], VectorPrecision::Float64, store::Packing::ExactOnly);
      kept += '\n';
    }
    auto trimmed = std::make_shared<Disk>();
    trimmed->put(std::string(store::kMutationLogFile), content);
    store::StoreOptions options;
    options.retention = store::MutationLogRetention{all->size() - 1, std::nullopt};
    store::Store t(std::make_unique<MemoryStorage>(trimmed), options);
    const auto& file = trimmed->files[std::string(store::kMutationLogFile)];
    if (!t.trim_mutation_log() || std::string_view(reinterpret_cast<const char*>(file.data()), file.size()) != kept)
      return "trim";
  }
  const auto loaded = s.ensure_loaded();
  if (outcome_text(loaded) != full.outcome) return "load";
  if (!loaded) return {};
  using Access = store::StoreTestAccess;
  if (Access::last_sequence(s) != (full.sequences.empty() ? 0 : full.sequences.back())) return "load sequence";
  std::set<std::string> operations, transactions;
  for (std::size_t i = 0; i < full.ids.size(); i += 2) {
    operations.insert(full.ids[i]);
    transactions.insert(full.ids[i + 1]);
  }
  const auto same = [](const auto& seen, const std::set<std::string>& ids) {
    return seen.size() == ids.size() && std::ranges::all_of(ids, [&](const std::string& id) { return seen.contains(id); });
  };
  if (!same(Access::seen_operation_ids(s), operations) || !same(Access::seen_transaction_ids(s), transactions))
    return "load ids";
  return {};
}

// Every disagreement on one log's content, one line each; empty when all agree.
inline std::string log_disagreement(std::string_view content) {
  std::string out;
  store::MutationLineScanner scanner;
  for (std::size_t start = 0; start <= content.size();) {
    const std::size_t end = std::min(content.find('\n', start), content.size());
    if (end > start) {
      const std::string d = line_disagreement(scanner, content.substr(start, end - start));
      if (!d.empty()) out += d + "\n";
    }
    start = end + 1;
  }
  const LogReading full = read_in_full(content);
  if (!(read_by_scan(content) == full)) out += "scan_mutation_log\n";
  if (const std::string d = store_disagreement(content, full); !d.empty()) out += "store " + d + "\n";
  return out;
}

}  // namespace tarnwick::test
