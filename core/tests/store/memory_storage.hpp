#pragma once
// An in-memory backend for the store tests. It records every call (operation, name, bytes) and
// can be told to fail one call: before any effect, or, for an append, after writing only a
// prefix of the bytes, as a crash in the middle of a write would leave the file. A `write`
// replaces the whole file or fails before any effect, like a backend writing through a
// temporary file and a rename.
// The files and the record live in a shared `Disk`, so a test keeps them after the store that
// owns the backend is gone and can open a new store over the surviving files.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/store/storage.hpp"

namespace tarnwick::test {

struct StorageCall {
  std::string op;  // "read", "write", "append", "delete", "exists", "sync", "sync_dir"
  std::string name;
  Bytes bytes;  // what was passed to write or append
  friend bool operator==(const StorageCall&, const StorageCall&) = default;
};

struct Disk {
  std::map<std::string, Bytes, std::less<>> files;
  std::vector<StorageCall> calls;
  // The 0-based number of the call to fail; calls go on being counted after it.
  std::optional<std::size_t> fail_call;
  // With `fail_call` on an append: how many of its bytes reach the file before it fails.
  std::size_t torn_prefix = 0;
  store::StorageCapabilities capabilities;

  std::string text(const std::string& name) const {
    auto it = files.find(name);
    return it == files.end() ? std::string() : std::string(it->second.begin(), it->second.end());
  }
  void put(const std::string& name, std::string_view content) { files[name] = Bytes(content.begin(), content.end()); }
  // "op name" per call, e.g. "read indexes.json", for comparing call sequences.
  std::vector<std::string> call_names() const {
    std::vector<std::string> out;
    for (const auto& c : calls) out.push_back(c.name.empty() ? c.op : c.op + " " + c.name);
    return out;
  }
};

class MemoryStorage final : public store::Storage {
 public:
  explicit MemoryStorage(std::shared_ptr<Disk> disk) : disk_(std::move(disk)) {}

  Result<std::optional<Bytes>> read(std::string_view name) override {
    TARNWICK_TRY(record("read", name, {}));
    auto it = disk_->files.find(name);
    if (it == disk_->files.end()) return std::optional<Bytes>();
    return std::optional<Bytes>(it->second);
  }
  Result<void> write(std::string_view name, std::span<const std::uint8_t> bytes) override {
    TARNWICK_TRY(record("write", name, bytes));
    disk_->files[std::string(name)] = Bytes(bytes.begin(), bytes.end());
    return {};
  }
  Result<void> append(std::string_view name, std::span<const std::uint8_t> bytes) override {
    const bool failing = disk_->fail_call == disk_->calls.size();
    const auto r = record("append", name, bytes);
    const std::size_t n = failing ? std::min(disk_->torn_prefix, bytes.size()) : bytes.size();
    if (r || n > 0) {
      Bytes& file = disk_->files[std::string(name)];
      file.insert(file.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return r;
  }
  Result<void> remove(std::string_view name) override {
    TARNWICK_TRY(record("delete", name, {}));
    if (auto it = disk_->files.find(name); it != disk_->files.end()) disk_->files.erase(it);
    return {};
  }
  Result<bool> exists(std::string_view name) override {
    TARNWICK_TRY(record("exists", name, {}));
    return disk_->files.contains(name);
  }
  Result<void> sync(std::string_view name) override { return record("sync", name, {}); }
  Result<void> sync_dir() override { return record("sync_dir", "", {}); }
  store::StorageCapabilities capabilities() override { return disk_->capabilities; }

 private:
  Result<void> record(std::string op, std::string_view name, std::span<const std::uint8_t> bytes) {
    const bool failing = disk_->fail_call == disk_->calls.size();
    disk_->calls.push_back({std::move(op), std::string(name), Bytes(bytes.begin(), bytes.end())});
    if (failing) return fail(err::StorageFailure{"injected failure"});
    return {};
  }

  std::shared_ptr<Disk> disk_;
};

}  // namespace tarnwick::test
