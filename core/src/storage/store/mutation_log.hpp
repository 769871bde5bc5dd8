#pragma once
// "mutations.jsonl", the change history: one record per applied batch, each its compact JSON
// text followed by one line feed, in the order appended (or as the last rewrite left them; no
// order of sequence numbers is relied on). Batches append one line; trim and replace rewrite the
// whole file in one write, writing it empty rather than deleting it.
//
// Reading splits at line feeds and skips empty pieces, so blank lines and a missing final line
// feed are harmless, and a carriage return before a line feed is white space to the parser. Only
// the tail can be torn: a last non-empty piece that cannot be read is dropped without an error,
// while a fault in any earlier piece (a piece of blanks included) makes the whole log unreadable.

#include <functional>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "storage/store/mutation_log_scan.hpp"
#include "storage/store/mutation_record.hpp"

namespace tarnwick::store {

// One piece of the file read as a record: parsed, then its packed vectors unpacked, then read;
// the first of the three to fail names the fault, as CorruptData whose detail is the parser's
// message with its position in the piece, the packed vector's full error text
// ("corrupt_data: invalid packed Float32 mutation vector"), or the record reader's message.
Result<MutationRecord> read_mutation_line(std::string_view line);

// The records of a file's content, in file order, each piece parsed once. A fault in any piece
// but the last fails with CorruptData "mutation log: {}", {} the detail `read_mutation_line`
// gives; the last non-empty piece is dropped when it cannot be read, and `tail_dropped` (when
// given) says whether it was.
Result<std::vector<MutationRecord>> read_mutation_log(std::string_view content, bool* tail_dropped = nullptr);

// Is given each record's line and what the readers keep of it.
using LineVisitor = std::function<void(std::string_view line, const LineFacts& facts)>;

// The same walk as `read_mutation_log`, with the same faults, building no record: each piece is
// checked by a `MutationLineScanner`, and only a piece it refuses is read again in full, for the
// fault's text. `each` sees the pieces that read, in file order, including those before a fault.
Result<void> scan_mutation_log(std::string_view content, const LineVisitor& each, bool* tail_dropped = nullptr);

}  // namespace tarnwick::store
