#pragma once
// A record's field names as Python strs, interned once for the process (under the interpreter
// lock, like every call here) and never released. Keys of dicts written in Python source are
// the same objects, so the direct reader matches them by pointer, and the dicts handed back
// share them instead of making a str per key.

#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::py {

template <std::size_t N>
class FieldNames {
 public:
  constexpr explicit FieldNames(std::array<std::string_view, N> texts) : texts_(texts) {}

  // False with the interpreter's exception pending (MemoryError).
  bool load() {
    if (strs_[N - 1] != nullptr) return true;
    for (std::size_t i = 0; i < N; ++i) {
      if (strs_[i] == nullptr) strs_[i] = PyUnicode_InternFromString(std::string(texts_[i]).c_str());
      if (strs_[i] == nullptr) return false;
    }
    return true;
  }

  // Loaded names only.
  PyObject* str(std::size_t field) const { return strs_[field]; }
  std::string_view text(std::size_t field) const { return texts_[field]; }

  // The field an interned key is, or N.
  std::size_t by_pointer(PyObject* key) const {
    for (std::size_t i = 0; i < N; ++i)
      if (strs_[i] == key) return i;
    return N;
  }

  // The field a key's text names, or N.
  std::size_t by_text(std::string_view key) const {
    for (std::size_t i = 0; i < N; ++i)
      if (texts_[i] == key) return i;
    return N;
  }

 private:
  std::array<std::string_view, N> texts_;
  std::array<PyObject*, N> strs_{};
};

// Field order is the records' own, which is also the key order of the dicts handed back.
enum NodeField : std::size_t {
  kNodeId, kNodeType, kNodeData, kNodeVector, kNodeInsertedAt, kNodeUpdatedAt, kNodeRevision, kNodeActivation,
  kNodeMemoryClass, kNodeConfidence, kNodeSource, kNodeObservedAt, kNodeDerivedFrom, kNodeSupersedes,
  kNodeContradicts, kNodeFields,
};
inline FieldNames<kNodeFields> node_names{{"id", "type", "data", "vector", "insertedAt", "updatedAt", "revision",
                                           "activation", "memoryClass", "confidence", "source", "observedAt",
                                           "derivedFrom", "supersedes", "contradicts"}};

enum EdgeField : std::size_t {
  kEdgeId, kEdgeSource, kEdgeTarget, kEdgeType, kEdgeData, kEdgeCreatedAt, kEdgeRevision, kEdgeFields,
};
inline FieldNames<kEdgeFields> edge_names{{"id", "source", "target", "type", "data", "createdAt", "revision"}};

enum ActivationField : std::size_t {
  kActivationScore, kActivationImportance, kActivationReinforcementCount, kActivationLastMeaningful,
  kActivationInhibition, kActivationLastInhibitedAt, kActivationContext, kActivationFields,
};
inline FieldNames<kActivationFields> activation_names{{"score", "importance", "reinforcementCount",
                                                       "lastMeaningfulActivation", "inhibition", "lastInhibitedAt",
                                                       "context"}};

enum ContextField : std::size_t { kContextScore, kContextLastMeaningful, kContextFields };
inline FieldNames<kContextFields> context_names{{"score", "lastMeaningfulActivation"}};

enum VectorEntryField : std::size_t { kVectorEntryId, kVectorEntryVector, kVectorEntryFields };
inline FieldNames<kVectorEntryFields> vector_entry_names{{"id", "vector"}};

}  // namespace tarnwick::py
