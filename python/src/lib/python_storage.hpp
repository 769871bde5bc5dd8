#pragma once
// The store's backend over the caller's Python storage object: each file operation becomes a
// method call with the file name as a str and the data as bytes. Any exception the object
// raises becomes a storage failure whose text is the exception type's `__qualname__`, ": " and
// the exception's str(); an exception that must pass through (see PendingException) is also
// kept, so that the NativeStore method raises it itself once the store has given up.
//
// Lifetime and locks: the backend holds one strong reference to the object until it is
// destroyed, and one to the bytes object `read_lent` last lent until its next call or
// `end_loan`. Every call into Python takes the interpreter lock around itself (nothing to do when
// the caller holds it, as NativeStore methods always do). The kept exception is touched only
// under the interpreter lock and the owning NativeStore's mutex.

#include <Python.h>

#include "lib/pending_exception.hpp"
#include "lib/py_ref.hpp"
#include "storage/store/storage.hpp"

namespace tarnwick::py {

class PythonStorage final : public store::Storage {
 public:
  explicit PythonStorage(PyRef object) : object_(std::move(object)) {}
  // noexcept like every Storage: a forced unwind out of the storage object's finalizer ends the
  // process here, which only a store dropped on a daemon thread at interpreter exit can meet.
  ~PythonStorage() noexcept override;
  PythonStorage(const PythonStorage&) = delete;
  PythonStorage& operator=(const PythonStorage&) = delete;

  Result<std::optional<Bytes>> read(std::string_view name) override;
  // An exact bytes object is lent as it is; the reference is dropped at the next call.
  Result<std::optional<std::span<const std::uint8_t>>> read_lent(std::string_view name, Bytes& scratch) override;
  void end_loan() override;
  Result<void> write(std::string_view name, std::span<const std::uint8_t> bytes) override;
  Result<void> append(std::string_view name, std::span<const std::uint8_t> bytes) override;
  Result<void> remove(std::string_view name) override;
  Result<bool> exists(std::string_view name) override;
  Result<void> sync(std::string_view name) override;
  Result<void> sync_dir() override;
  // Reads the object's `capabilities` attribute (never calls it); whatever cannot be read is
  // false, or none for vectorSearch.
  store::StorageCapabilities capabilities() override;

  // The first exception kept since the last call, handed over; empty when none was kept.
  PendingException take_kept() { return std::move(kept_); }

 private:
  // The pending exception as a storage failure; one that must pass through is kept as well.
  TarnwickError failure();
  // Drops the pending exception, keeping it when it must pass through.
  void discard();
  // Calls `method` with the given argument tuple (stolen); the result, or the failure.
  Result<PyRef> call(const char* method, PyObject* arguments);
  // Calls an optional method: an object without it (any lookup failure) succeeds uncalled.
  Result<void> call_if_present(const char* method, PyObject* arguments);

  PyRef object_;
  PendingException kept_;
  PyRef lent_;  // the bytes object `read_lent` last lent
};

// The bytes of what a `read` returned: bytes and bytearray in one copy; any other sequence of
// ints from 0 to 255 (a str refused) item by item.
PyResult<Bytes> bytes_from_py(PyObject* object);

}  // namespace tarnwick::py
