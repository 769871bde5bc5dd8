#include "lib/python_storage.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "lib/args.hpp"
#include "lib/exceptions.hpp"
#include "lib/gil.hpp"
#include "lib/iterate.hpp"
#include "lib/truth.hpp"

namespace tarnwick::py {

namespace {

constexpr std::string_view kStrFailed = "<exception str() failed>";

// The exception's str() as well-formed UTF-8: lone surrogates pass the encoder and every
// ill-formed sequence then reads back as U+FFFD.
std::string exception_text(PyObject* exception) {
  PyRef text = PyRef::steal(PyObject_Str(exception));
  PyRef encoded = text ? PyRef::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass")) : PyRef();
  PyRef clean = encoded ? PyRef::steal(PyUnicode_DecodeUTF8(PyBytes_AsString(encoded.get()),
                                                            PyBytes_Size(encoded.get()), "replace"))
                        : PyRef();
  auto view = clean ? utf8_view(clean.get()) : error_set();
  if (!view) {
    PyErr_Clear();
    return std::string(kStrFailed);
  }
  return std::string(*view);
}

PyResult<PyRef> name_to_py(std::string_view name) {
  return checked(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
}

PyResult<PyRef> data_to_py(std::span<const std::uint8_t> bytes) {
  return checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<Py_ssize_t>(bytes.size())));
}

// A new tuple of the name and, when given, the data.
PyObject* arguments(std::string_view name, const std::span<const std::uint8_t>* data = nullptr) {
  auto text = name_to_py(name);
  if (!text) return nullptr;
  if (data == nullptr) return PyTuple_Pack(1, text->get());
  auto payload = data_to_py(*data);
  if (!payload) return nullptr;
  return PyTuple_Pack(2, text->get(), payload->get());
}

PyResult<std::uint8_t> byte_from_py(PyObject* item) {
  auto index = checked(PyNumber_Index(item));
  if (!index) return error_set();
  int overflow = 0;
  const long n = PyLong_AsLongAndOverflow(index->get(), &overflow);
  if (n == -1 && overflow == 0 && PyErr_Occurred()) return error_set();
  if (overflow > 0 || n > 255) return raise(PyExc_OverflowError, "number too large to fit in target type");
  if (overflow < 0 || n < 0) return raise(PyExc_OverflowError, "number too small to fit in target type");
  return static_cast<std::uint8_t>(n);
}

}  // namespace

PyResult<Bytes> bytes_from_py(PyObject* object) {
  if (PyBytes_CheckExact(object)) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AsString(object));
    return Bytes(data, data + PyBytes_Size(object));
  }
  if (PyByteArray_CheckExact(object)) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyByteArray_AsString(object));
    return Bytes(data, data + PyByteArray_Size(object));
  }
  PY_TRY(require_list_like(object));
  // Only a list's or tuple's real storage sizes the buffer: a claimed `__len__` could ask for
  // any amount of memory before a single item is read.
  Bytes out;
  out.reserve(stored_size(object));
  auto read = for_each_item(object, [&](PyObject* item) -> PyResult<void> {
    auto byte = byte_from_py(item);
    if (!byte) return error_set();
    out.push_back(*byte);
    return {};
  });
  if (!read) return error_set();
  return out;
}

PythonStorage::~PythonStorage() noexcept {
  GilHeld gil;
  kept_ = PendingException();
  lent_ = PyRef();
  object_ = PyRef();
}

TarnwickError PythonStorage::failure() {
  PendingException pending = PendingException::fetch();
  if (!pending) return err::StorageFailure{"SystemError: error return without exception set"};
  std::string message = type_qualname(pending.value()) + ": " + exception_text(pending.value());
  if (pending.must_pass_through() && !kept_) kept_ = std::move(pending);
  return err::StorageFailure{std::move(message)};
}

void PythonStorage::discard() {
  PendingException pending = PendingException::fetch();
  if (pending.must_pass_through() && !kept_) kept_ = std::move(pending);
}

Result<PyRef> PythonStorage::call(const char* method, PyObject* raw_arguments) {
  lent_ = PyRef();
  PyRef owned_arguments = PyRef::steal(raw_arguments);
  if (!owned_arguments) return fail(failure());
  PyRef callable = PyRef::steal(PyObject_GetAttrString(object_.get(), method));
  if (!callable) return fail(failure());
  PyRef result = PyRef::steal(PyObject_Call(callable.get(), owned_arguments.get(), nullptr));
  if (!result) return fail(failure());
  return result;
}

Result<void> PythonStorage::call_if_present(const char* method, PyObject* raw_arguments) {
  PyRef owned_arguments = PyRef::steal(raw_arguments);
  if (!owned_arguments) return fail(failure());
  PyRef probe = PyRef::steal(PyObject_GetAttrString(object_.get(), method));
  if (!probe) {
    discard();
    return {};
  }
  if (auto called = call(method, owned_arguments.release()); !called) return fail(std::move(called).error());
  return {};
}

Result<std::optional<Bytes>> PythonStorage::read(std::string_view name) {
  GilHeld gil;
  auto result = call("read", arguments(name));
  if (!result) return fail(std::move(result).error());
  if (result->get() == Py_None) return std::optional<Bytes>();
  auto bytes = bytes_from_py(result->get());
  if (!bytes) return fail(failure());
  return std::optional<Bytes>(std::move(*bytes));
}

Result<std::optional<std::span<const std::uint8_t>>> PythonStorage::read_lent(std::string_view name,
                                                                               Bytes& scratch) {
  using View = std::optional<std::span<const std::uint8_t>>;
  GilHeld gil;
  auto result = call("read", arguments(name));
  if (!result) return fail(std::move(result).error());
  if (result->get() == Py_None) return View();
  if (PyBytes_CheckExact(result->get())) {
    lent_ = std::move(*result);
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AsString(lent_.get()));
    return View(std::span(data, static_cast<std::size_t>(PyBytes_Size(lent_.get()))));
  }
  auto bytes = bytes_from_py(result->get());
  if (!bytes) return fail(failure());
  scratch = std::move(*bytes);
  return View(std::span<const std::uint8_t>(scratch));
}

void PythonStorage::end_loan() {
  GilHeld gil;
  lent_ = PyRef();
}

Result<void> PythonStorage::write(std::string_view name, std::span<const std::uint8_t> bytes) {
  GilHeld gil;
  if (auto result = call("write", arguments(name, &bytes)); !result) return fail(std::move(result).error());
  return {};
}

Result<void> PythonStorage::append(std::string_view name, std::span<const std::uint8_t> bytes) {
  GilHeld gil;
  if (auto result = call("append", arguments(name, &bytes)); !result) return fail(std::move(result).error());
  return {};
}

Result<void> PythonStorage::remove(std::string_view name) {
  GilHeld gil;
  if (auto result = call("delete", arguments(name)); !result) return fail(std::move(result).error());
  return {};
}

Result<bool> PythonStorage::exists(std::string_view name) {
  GilHeld gil;
  auto result = call("exists", arguments(name));
  if (!result) return fail(std::move(result).error());
  auto truth = strict_bool(result->get());
  if (truth && *truth) return **truth;
  if (truth) raise(PyExc_TypeError, "'" + type_qualname(result->get()) + "' object cannot be converted to 'PyBool'");
  return fail(failure());
}

Result<void> PythonStorage::sync(std::string_view name) {
  GilHeld gil;
  return call_if_present("sync", arguments(name));
}

Result<void> PythonStorage::sync_dir() {
  GilHeld gil;
  return call_if_present("sync_dir", PyTuple_New(0));
}

store::StorageCapabilities PythonStorage::capabilities() {
  GilHeld gil;
  store::StorageCapabilities out;
  PyRef mapping = PyRef::steal(PyObject_GetAttrString(object_.get(), "capabilities"));
  if (!mapping) {
    discard();
    return out;
  }
  // The value under `key`, or none (the failure dropped) when it cannot be read.
  auto entry = [&](const char* key) -> PyRef {
    PyRef text = PyRef::steal(PyUnicode_FromString(key));
    PyRef value = text ? PyRef::steal(PyObject_GetItem(mapping.get(), text.get())) : PyRef();
    if (!value) discard();
    return value;
  };
  if (PyRef search = entry("vectorSearch"); search && PyUnicode_Check(search.get())) {
    if (PyUnicode_CompareWithASCIIString(search.get(), "exact") == 0) out.vector_search = store::VectorSearchSupport::Exact;
    if (PyUnicode_CompareWithASCIIString(search.get(), "ann") == 0) out.vector_search = store::VectorSearchSupport::Ann;
  }
  const std::pair<const char*, bool store::StorageCapabilities::*> flags[] = {
      {"atomicBatches", &store::StorageCapabilities::atomic_batches},
      {"transactions", &store::StorageCapabilities::transactions},
      {"fsync", &store::StorageCapabilities::fsync},
      {"secondaryIndexes", &store::StorageCapabilities::secondary_indexes},
      {"snapshots", &store::StorageCapabilities::snapshots},
      {"changeFeed", &store::StorageCapabilities::change_feed},
      {"concurrentWriters", &store::StorageCapabilities::concurrent_writers},
  };
  for (const auto& [key, field] : flags) {
    PyRef value = entry(key);
    if (!value) continue;
    auto truth = strict_bool(value.get());
    if (!truth) discard();
    out.*field = truth && truth->value_or(false);
  }
  return out;
}

}  // namespace tarnwick::py
