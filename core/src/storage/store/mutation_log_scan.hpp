#pragma once
// A check of one "mutations.jsonl" line that builds nothing: it accepts exactly the lines that
// `read_mutation_line` reads as a record, and keeps only the fields the log's readers need
// (sequence, timestamp and the two ids). Loading, "latest", paging and verify thereby pay for one
// pass of the parser over each line, not for a tree of values, unpacked vectors and records that
// they would throw away.
//
// The verdict is the full reader's: the same parser with the same options (its depth limit and
// number range included) runs over the text, while the record's shape is followed as the record
// reader and the vector unpacking read it: the later of two equal keys wins, and a packed vector
// is checked as hex without being unpacked. A refused line says nothing of its fault; re-reading
// it with `read_mutation_line` does.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarnwick::store {

// What a log reader keeps of a record.
struct LineFacts {
  std::uint64_t sequence = 0;
  std::int64_t timestamp = 0;
  std::string operation_id;
  std::string transaction_id;
};

class MutationLineScanner {
 public:
  MutationLineScanner();
  ~MutationLineScanner();
  MutationLineScanner(const MutationLineScanner&) = delete;
  MutationLineScanner& operator=(const MutationLineScanner&) = delete;

  // Whether `line` reads as a record. When it does, `facts()` holds the record's fields until
  // the next call.
  bool scan(std::string_view line);
  const LineFacts& facts() const;

 private:
  struct Parser;  // Boost's parser with the handler that follows the record's shape
  std::unique_ptr<Parser> parser_;
};

}  // namespace tarnwick::store
