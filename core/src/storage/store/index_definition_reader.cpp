#include "model/text_reader.hpp"
#include "storage/store/definition_readers.hpp"

namespace tarnwick::store {

namespace {

using Def = SecondaryIndexDefinition;

constexpr FieldSpec<Def, TextReader> kFields[] = {
    {"name", true, [](TextReader& in, Def& r) { return assign(r.name, in.read(read_string)); }},
    {"fields", true, [](TextReader& in, Def& r) { return assign(r.fields, read_string_list(in)); }},
    {"nodeType", false,
     [](TextReader& in, Def& r) {
       return assign(r.node_type, read_optional(in, [](TextReader& v) { return v.read(read_string); }));
     }},
    {"unique", false, [](TextReader& in, Def& r) { return assign(r.unique, in.read(read_bool)); }},
    {"sparse", false, [](TextReader& in, Def& r) { return assign(r.sparse, in.read(read_bool)); }},
};
constexpr RecordSpec<Def, TextReader> kSpec{"struct SecondaryIndexDefinition",
                                            "struct SecondaryIndexDefinition with 5 elements", kFields};

}  // namespace

ReadResult<std::vector<SecondaryIndexDefinition>> read_index_definitions(std::string_view text) {
  return read_text(text, [](TextReader& in) {
    return read_list(in, [](TextReader& element) { return read_record(element, kSpec); });
  });
}

}  // namespace tarnwick::store
