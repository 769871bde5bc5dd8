// The storage operations the store never issues from NativeStore (exists, sync, sync_dir), and
// the description of a failure, checked on the backend directly.

#include "lib/python_storage.hpp"

#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

using testing::eval;
using testing::run;

PythonStorage storage_of(const char* expression) { return PythonStorage(eval(expression)); }

std::string failure_text(const TarnwickError& error) {
  const auto* failure = error.get_if<err::StorageFailure>();
  return failure != nullptr ? failure->message : error.text();
}

TEST(PythonStorage, ExistsWantsABool) {
  run("class Exists:\n"
      "    def __init__(self, answer): self.answer = answer\n"
      "    def exists(self, path): return self.answer\n");
  EXPECT_EQ(storage_of("Exists(True)").exists("a"), true);
  EXPECT_EQ(storage_of("Exists(False)").exists("a"), false);
  auto one = storage_of("Exists(1)").exists("a");
  ASSERT_FALSE(one);
  EXPECT_EQ(failure_text(one.error()), "TypeError: 'int' object cannot be converted to 'PyBool'");
}

TEST(PythonStorage, SyncIsCalledOnlyWhenPresent) {
  run("class Syncing:\n"
      "    def __init__(self): self.calls = []\n"
      "    def sync(self, *args): self.calls.append(('sync',) + args)\n"
      "    def sync_dir(self, *args): self.calls.append(('sync_dir',) + args)\n"
      "class Broken:\n"
      "    @property\n"
      "    def sync(self): raise ValueError('no')\n"
      "syncing = Syncing()\n");
  PythonStorage present(eval("syncing"));
  EXPECT_TRUE(present.sync("wal.msgpack"));
  EXPECT_TRUE(present.sync_dir());
  EXPECT_TRUE(PyObject_RichCompareBool(eval("syncing.calls").get(),
                                       eval("[('sync', 'wal.msgpack'), ('sync_dir',)]").get(), Py_EQ));
  EXPECT_TRUE(storage_of("object()").sync("a"));
  EXPECT_TRUE(storage_of("object()").sync_dir());
  EXPECT_TRUE(storage_of("Broken()").sync("a"));
  EXPECT_FALSE(PyErr_Occurred());
}

TEST(PythonStorage, WriteAndAppendPassStrAndBytes) {
  run("class Recording:\n"
      "    def __init__(self): self.seen = []\n"
      "    def write(self, path, data): self.seen.append((type(path), type(data), path, data))\n"
      "    append = write\n"
      "recording = Recording()\n");
  PythonStorage storage(eval("recording"));
  const std::uint8_t bytes[] = {0, 255, 'x'};
  EXPECT_TRUE(storage.write("snapshot.msgpack", bytes));
  EXPECT_TRUE(storage.append("wal.msgpack", {}));
  EXPECT_TRUE(PyObject_RichCompareBool(
      eval("recording.seen").get(),
      eval("[(str, bytes, 'snapshot.msgpack', b'\\x00\\xffx'), (str, bytes, 'wal.msgpack', b'')]").get(), Py_EQ));
}

TEST(PythonStorage, KeptExceptionsAreHandedOverOnce) {
  run("class Stopping:\n"
      "    def delete(self, path): raise SystemExit(2)\n");
  PythonStorage storage(eval("Stopping()"));
  auto deleted = storage.remove("a");
  ASSERT_FALSE(deleted);
  EXPECT_EQ(failure_text(deleted.error()), "SystemExit: 2");
  PendingException kept = storage.take_kept();
  ASSERT_TRUE(kept);
  EXPECT_TRUE(PyErr_GivenExceptionMatches(kept.type(), PyExc_SystemExit));
  EXPECT_FALSE(storage.take_kept());
}

}  // namespace
}  // namespace tarnwick::py
