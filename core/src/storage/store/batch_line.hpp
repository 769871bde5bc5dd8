#pragma once
// The mutation-log line of an applied batch, printed straight from the batch's records: the same
// bytes as the record whose operations are the batch's, written by append_mutation_line, with
// no JSON value built for any payload. The timestamp is read only after the write-ahead-log
// append, when the batch has been handed to its entries, so the line is printed first with room
// for it and finished once it is known.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/records.hpp"
#include "storage/store/mutation_record.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::store {

// Replaces `out` by the line, line feed included, of the record with the fields of `identity`
// (its operations and timestamp are not read) and the operations of `batch`, each kind's puts
// then its deletes, nodes, edges, vectors; in a float32 store every vector packed. Returns where
// the timestamp goes, for finish_batch_line. Cannot fail: a record's vector holds numbers only.
std::size_t start_batch_line(std::string& out, const MutationRecord& identity, const ChangeBatch& batch,
                             VectorPrecision precision);

// Puts the timestamp in its place and returns the finished line, a view into `out`.
std::string_view finish_batch_line(std::string& out, std::size_t timestamp_at, std::int64_t timestamp);

}  // namespace tarnwick::store
