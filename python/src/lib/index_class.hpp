#pragma once
// What the two vector-index classes share: the instance (one core index and its borrow state),
// the order of work in a method (bind, borrow, extract, convert vectors, run), and every method
// but the few that differ, which each class supplies through its traits:
//
//   using Index;                         the core index type
//   static constexpr const char* kName;  the class name, for messages
//   static constexpr bool kHasUpdate;    whether `update` stands beside `add`
//   static Result<std::vector<ScoredId>> search(const Index&, std::span<const double>, std::uint64_t top_k,
//                                               double threshold);
//   static Result<void> set_precision(Index&, VectorPrecision);
//   static std::vector<std::pair<std::string, std::vector<double>>> entries(const Index&);

#include <Python.h>

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "lib/args.hpp"
#include "lib/borrow.hpp"
#include "lib/entry_points.hpp"
#include "lib/exceptions.hpp"
#include "lib/gil.hpp"
#include "lib/precision.hpp"
#include "lib/vectors.hpp"
#include "vector/scored_id.hpp"

namespace tarnwick::py {

template <class Traits>
class IndexClass {
 public:
  using Index = typename Traits::Index;

  struct Object {
    PyObject_HEAD
    BorrowState borrow;
    Index index;
  };

  // A new instance of `type` that owns `index`.
  static PyResult<PyRef> create(PyTypeObject* type, Index index) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    auto self = checked(alloc(type, 0));
    if (!self) return error_set();
    Object& object = object_of<Object>(self->get());
    new (&object.borrow) BorrowState();
    new (&object.index) Index(std::move(index));
    return self;
  }

  static void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Object& object = object_of<Object>(self);
    object.index.~Index();
    object.borrow.~BorrowState();
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
  }

  static Py_ssize_t length(PyObject* self) {
    return guarded_size([&]() -> PyResult<Py_ssize_t> {
      Object& object = object_of<Object>(self);
      auto borrowed = object.borrow.read();
      if (!borrowed) return error_set();
      return static_cast<Py_ssize_t>(object.index.len());
    });
  }

  // `add` of both classes and `update` of HnswIndex: one body, named by `Method` in messages.
  template <const char* Method>
  static PyResult<PyRef> add(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"id", true}, {"vector", true}};
    auto bound = bind<2>({Traits::kName, Method, kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.write();
    if (!borrowed) return error_set();
    auto id = str_arg((*bound)[0], "id");
    if (!id) return error_set();
    auto values = to_vec((*bound)[1]);
    if (!values) return error_set();
    if (auto added = self.index.add(*id, *values); !added) return raise_core(std::move(added).error());
    return none();
  }

  // Every vector is converted before the first is added; the first core error stops the run,
  // keeping the pairs added before it.
  static PyResult<PyRef> add_many(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"ids", true}, {"vectors", true}};
    auto bound = bind<2>({Traits::kName, "add_many", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.write();
    if (!borrowed) return error_set();
    auto ids = str_list_arg((*bound)[0], "ids");
    if (!ids) return error_set();
    auto objects = list_arg((*bound)[1], "vectors");
    if (!objects) return error_set();
    if (ids->size() != objects->size()) {
      return raise(ExceptionKind::TarnwickValueError, "ids and vectors length mismatch: " +
                                                          std::to_string(ids->size()) + " != " +
                                                          std::to_string(objects->size()));
    }
    // One block for all values: no allocation per vector stays behind once the index holds them.
    std::vector<double> values;
    std::vector<std::size_t> ends;
    ends.reserve(objects->size());
    for (const PyRef& object : *objects) {
      auto converted = to_vec(object.get());
      if (!converted) return error_set();
      values.insert(values.end(), converted->begin(), converted->end());
      ends.push_back(values.size());
    }
    std::size_t begin = 0;
    for (std::size_t i = 0; i < ids->size(); ++i) {
      const std::span<const double> vector(values.data() + begin, ends[i] - begin);
      if (auto added = self.index.add((*ids)[i], vector); !added) return raise_core(std::move(added).error());
      begin = ends[i];
    }
    return none();
  }

  static PyResult<PyRef> remove(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"id", true}};
    auto bound = bind<1>({Traits::kName, "remove", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.write();
    if (!borrowed) return error_set();
    auto id = str_arg((*bound)[0], "id");
    if (!id) return error_set();
    self.index.remove(*id);
    return none();
  }

  static PyResult<PyRef> remove_many(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"ids", true}};
    auto bound = bind<1>({Traits::kName, "remove_many", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.write();
    if (!borrowed) return error_set();
    auto ids = str_list_arg((*bound)[0], "ids");
    if (!ids) return error_set();
    if constexpr (requires { self.index.remove_many(std::span<const std::string>(*ids)); }) {
      self.index.remove_many(*ids);
    } else {
      for (const std::string& id : *ids) self.index.remove(id);
    }
    return none();
  }

  // The search runs without the interpreter lock while the read borrow is held, so other
  // threads go on and a writer on this instance fails at once instead of waiting.
  static PyResult<PyRef> query(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"vector", true}, {"top_k", true}, {"threshold", false}};
    auto bound = bind<3>({Traits::kName, "query", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.read();
    if (!borrowed) return error_set();
    auto top_k = u64_arg((*bound)[1], "top_k");
    if (!top_k) return error_set();
    double threshold = 0.0;
    if ((*bound)[2] != nullptr) {
      auto given = f64_arg((*bound)[2], "threshold");
      if (!given) return error_set();
      threshold = *given;
    }
    auto values = to_vec((*bound)[0]);
    if (!values) return error_set();
    auto hits = without_gil([&] { return Traits::search(self.index, *values, *top_k, threshold); });
    if (!hits) return raise_core(std::move(hits).error());
    auto list = checked(PyList_New(static_cast<Py_ssize_t>(hits->size())));
    if (!list) return error_set();
    for (std::size_t i = 0; i < hits->size(); ++i) {
      auto row = score_pair((*hits)[i].id, (*hits)[i].score);
      if (!row) return error_set();
      PyList_SetItem(list->get(), static_cast<Py_ssize_t>(i), row->release());
    }
    return list;
  }

  static PyResult<PyRef> clear(Object& self) {
    auto borrowed = self.borrow.write();
    if (!borrowed) return error_set();
    self.index.clear();
    return none();
  }

  static PyResult<PyRef> set_precision(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"vector_precision", true}};
    auto bound = bind<1>({Traits::kName, "set_precision", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.write();
    if (!borrowed) return error_set();
    auto text = str_arg((*bound)[0], "vector_precision");
    if (!text) return error_set();
    auto precision = precision_from_text(*text);
    if (!precision) return error_set();
    if (auto changed = Traits::set_precision(self.index, *precision); !changed) {
      return raise_core(std::move(changed).error());
    }
    return none();
  }

  static PyResult<PyRef> has(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"id", true}};
    auto bound = bind<1>({Traits::kName, "has", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.read();
    if (!borrowed) return error_set();
    auto id = str_arg((*bound)[0], "id");
    if (!id) return error_set();
    return PyRef::borrow(self.index.has(*id) ? Py_True : Py_False);
  }

  static PyResult<PyRef> get(Object& self, FastArgs args) {
    static constexpr Parameter kParameters[] = {{"id", true}};
    auto bound = bind<1>({Traits::kName, "get", kParameters}, args);
    if (!bound) return error_set();
    auto borrowed = self.borrow.read();
    if (!borrowed) return error_set();
    auto id = str_arg((*bound)[0], "id");
    if (!id) return error_set();
    auto values = self.index.get(*id);
    if (!values) return none();
    return f64_array(*values);
  }

  static PyResult<PyRef> entries(Object& self) {
    auto borrowed = self.borrow.read();
    if (!borrowed) return error_set();
    const auto rows = Traits::entries(self.index);
    auto list = checked(PyList_New(static_cast<Py_ssize_t>(rows.size())));
    if (!list) return error_set();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      auto array = f64_array(rows[i].second);
      if (!array) return error_set();
      auto row = pair(rows[i].first, std::move(*array));
      if (!row) return error_set();
      PyList_SetItem(list->get(), static_cast<Py_ssize_t>(i), row->release());
    }
    return list;
  }

  // The method table, ending in its sentinel; HnswIndex adds `update` after `add`.
  static PyMethodDef* methods() {
    static std::vector<PyMethodDef> table = [] {
      std::vector<PyMethodDef> rows;
      rows.push_back(fastcall_method<Object, &add<kAdd>>("add", "add($self, id, vector)\n--\n\n"));
      if constexpr (Traits::kHasUpdate) {
        rows.push_back(fastcall_method<Object, &add<kUpdate>>("update", "update($self, id, vector)\n--\n\n"));
      }
      rows.push_back(fastcall_method<Object, &add_many>("add_many", "add_many($self, ids, vectors)\n--\n\n"));
      rows.push_back(fastcall_method<Object, &remove>("remove", "remove($self, id)\n--\n\n"));
      rows.push_back(fastcall_method<Object, &remove_many>("remove_many", "remove_many($self, ids)\n--\n\n"));
      rows.push_back(
          fastcall_method<Object, &query>("query", "query($self, vector, top_k, threshold=0.0)\n--\n\n"));
      rows.push_back(noargs_method<Object, &clear>("clear", "clear($self)\n--\n\n"));
      rows.push_back(fastcall_method<Object, &set_precision>("set_precision",
                                                             "set_precision($self, vector_precision)\n--\n\n"));
      rows.push_back(fastcall_method<Object, &has>("has", "has($self, id)\n--\n\n"));
      rows.push_back(fastcall_method<Object, &get>("get", "get($self, id)\n--\n\n"));
      rows.push_back(noargs_method<Object, &entries>("entries", "entries($self)\n--\n\n"));
      rows.push_back({nullptr, nullptr, 0, nullptr});
      return rows;
    }();
    return table.data();
  }

  // The slots of the class besides its constructor and docstring.
  static std::vector<PyType_Slot> slots() {
    return {{Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
            {Py_tp_methods, methods()},
            {Py_mp_length, reinterpret_cast<void*>(&length)}};
  }

 private:
  static constexpr char kAdd[] = "add";
  static constexpr char kUpdate[] = "update";
  static_assert(std::is_nothrow_move_constructible_v<Index>, "an instance is built in place without unwinding");
};

}  // namespace tarnwick::py
