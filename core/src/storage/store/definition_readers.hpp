#pragma once
// Reading the two definition files from their JSON text into records, shape only: the rules the
// definitions must then pass are the store's (definition_files.cpp). Errors are reading errors
// placed at a line and column (model/text_reader.hpp).
//
// "indexes.json": an array of SecondaryIndexDefinition records.
// "schemas.json": {"nodeTypes": [NodeTypeDefinition...], "edgeTypes": [EdgeTypeDefinition...]}.
// Each record is an object or an array of its field values in field order; in an object a key
// given twice is refused, except inside "dataTypes", where the later path wins.

#include <string_view>
#include <vector>

#include "model/reader.hpp"
#include "storage/store/index_definition.hpp"
#include "storage/store/schema_definitions.hpp"

namespace tarnwick::store {

struct SchemaMetadata {
  std::vector<NodeTypeDefinition> node_types;
  std::vector<EdgeTypeDefinition> edge_types;
};

ReadResult<std::vector<SecondaryIndexDefinition>> read_index_definitions(std::string_view text);
ReadResult<SchemaMetadata> read_schema_metadata(std::string_view text);

}  // namespace tarnwick::store
