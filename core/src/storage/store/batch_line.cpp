#include "storage/store/batch_line.hpp"

#include <charconv>
#include <cstring>
#include <span>

#include "json/text_writer.hpp"
#include "model/record_json.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {

namespace {

// Room for the longest timestamp, "-9223372036854775808".
constexpr std::size_t kTimestampRoom = 20;

// Records as text, with each vector in the store's form.
class LineWriter : public json::TextWriter {
 public:
  LineWriter(std::string& out, VectorPrecision precision) : TextWriter(out), precision_(precision) {}

  void doubles(std::span<const double> values) {
    switch (precision_) {
      case VectorPrecision::Float64: TextWriter::doubles(values); return;
      case VectorPrecision::Float32: write_packed_vector(next_value(), values); return;
    }
  }

 private:
  VectorPrecision precision_;
};

void begin_operation(LineWriter& w, std::string_view type) {
  w.begin_object();
  w.key("operationType");
  w.string(type);
  w.key("payload");
}

template <class Record>
void put_operations(LineWriter& w, std::string_view type, const std::vector<Record>& records) {
  for (const Record& r : records) {
    begin_operation(w, type);
    write_json(w, r);
    w.end_object();
  }
}

void delete_operations(LineWriter& w, std::string_view type, const std::vector<std::string>& ids) {
  for (const std::string& id : ids) {
    begin_operation(w, type);
    w.begin_object();
    w.key("id");
    w.string(id);
    w.end_object();
    w.end_object();
  }
}

}  // namespace

std::size_t start_batch_line(std::string& out, const MutationRecord& identity, const ChangeBatch& batch,
                             VectorPrecision precision) {
  out.clear();
  write_record_head(out, identity);
  const std::size_t timestamp_at = out.size();
  out.append(kTimestampRoom, ' ');
  out += ",\"operations\":";
  LineWriter w(out, precision);
  w.begin_array();
  put_operations(w, "putNode", batch.put_nodes);
  delete_operations(w, "deleteNode", batch.delete_node_ids);
  put_operations(w, "putEdge", batch.put_edges);
  delete_operations(w, "deleteEdge", batch.delete_edge_ids);
  put_operations(w, "putVector", batch.put_vectors);
  delete_operations(w, "deleteVector", batch.delete_vector_ids);
  w.end_array();
  write_record_tail(out, identity);
  out += '\n';
  return timestamp_at;
}

std::string_view finish_batch_line(std::string& out, std::size_t timestamp_at, std::int64_t timestamp) {
  char digits[kTimestampRoom];
  const std::size_t length = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, timestamp).ptr - digits);
  // The digits end where the room ends; the head moves up against them.
  const std::size_t unused = kTimestampRoom - length;
  std::memcpy(out.data() + timestamp_at + unused, digits, length);
  std::memmove(out.data() + unused, out.data(), timestamp_at);
  return std::string_view(out).substr(unused);
}

}  // namespace tarnwick::store
