#pragma once
// The backend a store writes through: whole named byte files. The store passes it only the five
// names below and relies on exactly this: `read` tells an absent file from an empty one; `write`
// leaves the file holding exactly the given bytes (a backend that cannot do so must fail without
// changing the file); `append` adds at the end. Every backend error is handed to the store's
// caller unchanged; the store retries nothing.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "error/error.hpp"
#include "storage/msgpack/bytes.hpp"

namespace tarnwick::store {

inline constexpr std::string_view kSnapshotFile = "snapshot.msgpack";
inline constexpr std::string_view kWalFile = "wal.msgpack";
inline constexpr std::string_view kMutationLogFile = "mutations.jsonl";
inline constexpr std::string_view kSchemasFile = "schemas.json";
inline constexpr std::string_view kIndexesFile = "indexes.json";

enum class VectorSearchSupport : std::uint8_t { None, Exact, Ann };

// What a backend declares about itself; the store acts on none of it, only hands it out.
struct StorageCapabilities {
  bool atomic_batches = false;
  bool transactions = false;
  bool fsync = false;
  bool secondary_indexes = false;
  bool snapshots = false;
  bool change_feed = false;
  bool concurrent_writers = false;
  VectorSearchSupport vector_search = VectorSearchSupport::None;
  friend bool operator==(const StorageCapabilities&, const StorageCapabilities&) = default;
};

// Operations in slot order. `exists` is never called by the store; `sync` and `sync_dir` only
// when the store was built to sync after its writes.
class Storage {
 public:
  virtual ~Storage() = default;
  // None when no file of that name exists.
  virtual Result<std::optional<Bytes>> read(std::string_view name) = 0;
  // The same bytes without a copy where the backend can lend them: they stay valid until the
  // backend's next call or its end. A backend that cannot lend them reads them into `scratch`,
  // which the caller owns, and the view is over that.
  virtual Result<std::optional<std::span<const std::uint8_t>>> read_lent(std::string_view name, Bytes& scratch) {
    TARNWICK_TRY_ASSIGN(auto bytes, read(name));
    if (!bytes) return std::optional<std::span<const std::uint8_t>>();
    scratch = std::move(*bytes);
    return std::optional(std::span<const std::uint8_t>(scratch));
  }
  // Ends the loan of what `read_lent` last lent, as the backend's next call would, so that a
  // large file need not outlive its reading.
  virtual void end_loan() {}
  virtual Result<void> write(std::string_view name, std::span<const std::uint8_t> bytes) = 0;
  virtual Result<void> append(std::string_view name, std::span<const std::uint8_t> bytes) = 0;
  // Afterwards `read` of the name gives none.
  virtual Result<void> remove(std::string_view name) = 0;
  virtual Result<bool> exists(std::string_view name) = 0;
  virtual Result<void> sync(std::string_view name) = 0;
  virtual Result<void> sync_dir() = 0;
  virtual StorageCapabilities capabilities() = 0;
};

}  // namespace tarnwick::store
