#include "model/records.hpp"
#include "model/text_reader.hpp"
#include "storage/store/definition_readers.hpp"

namespace tarnwick::store {

namespace {

using NodeDef = NodeTypeDefinition;
using EdgeDef = EdgeTypeDefinition;

ReadResult<std::optional<std::string>> optional_string(TextReader& in) {
  return read_optional(in, [](TextReader& v) { return v.read(read_string); });
}

constexpr FieldSpec<NodeDef, TextReader> kNodeFields[] = {
    {"nodeType", true, [](TextReader& in, NodeDef& r) { return assign(r.node_type, in.read(read_string)); }},
    {"requiredFields", false,
     [](TextReader& in, NodeDef& r) { return assign(r.required_fields, read_string_list(in)); }},
    {"dataTypes", false, [](TextReader& in, NodeDef& r) { return assign(r.data_types, read_string_map(in)); }},
    {"memoryClass", false,
     [](TextReader& in, NodeDef& r) {
       return assign(r.memory_class, read_optional(in, [](TextReader& v) { return v.read(read_memory_class); }));
     }},
};
constexpr RecordSpec<NodeDef, TextReader> kNodeSpec{"struct NodeTypeDefinition",
                                                    "struct NodeTypeDefinition with 4 elements", kNodeFields};

constexpr FieldSpec<EdgeDef, TextReader> kEdgeFields[] = {
    {"edgeType", true, [](TextReader& in, EdgeDef& r) { return assign(r.edge_type, in.read(read_string)); }},
    {"sourceTypes", false, [](TextReader& in, EdgeDef& r) { return assign(r.source_types, read_string_list(in)); }},
    {"targetTypes", false, [](TextReader& in, EdgeDef& r) { return assign(r.target_types, read_string_list(in)); }},
    {"requiredFields", false,
     [](TextReader& in, EdgeDef& r) { return assign(r.required_fields, read_string_list(in)); }},
    {"dataTypes", false, [](TextReader& in, EdgeDef& r) { return assign(r.data_types, read_string_map(in)); }},
    {"cardinality", false, [](TextReader& in, EdgeDef& r) { return assign(r.cardinality, optional_string(in)); }},
};
constexpr RecordSpec<EdgeDef, TextReader> kEdgeSpec{"struct EdgeTypeDefinition",
                                                    "struct EdgeTypeDefinition with 6 elements", kEdgeFields};

constexpr FieldSpec<SchemaMetadata, TextReader> kMetadataFields[] = {
    {"nodeTypes", true,
     [](TextReader& in, SchemaMetadata& r) {
       return assign(r.node_types, read_list(in, [](TextReader& v) { return read_record(v, kNodeSpec); }));
     }},
    {"edgeTypes", true,
     [](TextReader& in, SchemaMetadata& r) {
       return assign(r.edge_types, read_list(in, [](TextReader& v) { return read_record(v, kEdgeSpec); }));
     }},
};
constexpr RecordSpec<SchemaMetadata, TextReader> kMetadataSpec{
    "struct SchemaMetadata", "struct SchemaMetadata with 2 elements", kMetadataFields};

}  // namespace

ReadResult<SchemaMetadata> read_schema_metadata(std::string_view text) {
  return read_text(text, [](TextReader& in) { return read_record(in, kMetadataSpec); });
}

}  // namespace tarnwick::store
