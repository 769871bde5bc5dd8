#include "storage/store/mutation_log_scan.hpp"

#include <boost/json/basic_parser_impl.hpp>

#include <array>
#include <cassert>
#include <cmath>

#include "json/json.hpp"
#include "json/parser_detail.hpp"
#include "storage/store/mutation_record.hpp"
#include "storage/store/vector_packing.hpp"

namespace tarnwick::store {

namespace {

namespace bj = boost::json;

// Where a value stands in the record, as the record reader and the unpacking look at it.
enum class Slot : std::uint8_t {
  record,  // the line's one value
  // The record's fields, in field order (their numbers index `Fields`).
  operation_id,
  sequence,
  transaction_id,
  timestamp,
  operations,
  actor,
  base_revision,
  metadata,
  operation,       // an element of the operations
  operation_type,  // an operation's "operationType"
  payload,         // an object operation's "payload", which may hold a packed vector
  vector,          // that payload's "vector"
  packed_text,     // the packed vector's marker value
  ignored,         // read as any value, or not read at all
};

constexpr std::size_t kFieldCount = 8;
constexpr std::size_t kRequiredFields = 5;
constexpr std::size_t field_number(Slot s) { return static_cast<std::size_t>(s) - static_cast<std::size_t>(Slot::operation_id); }

// The containers whose insides are looked at; every other container is skipped by a count.
enum class Role : std::uint8_t {
  record_object,
  record_array,
  operations,  // unpacked only in an object record
  operation_object,
  operation_array,
  payload_object,
  vector_object,
};

// The deepest nesting looked into: record, operations, operation, payload, vector.
constexpr std::size_t kMaxRoleDepth = 5;

struct Frame {
  Role role = Role::record_object;
  bool unpacks = false;      // operations: whether their packed vectors are unpacked
  Slot key = Slot::ignored;  // objects: the slot of the value after the last key
  std::uint32_t count = 0;   // arrays: elements completed
};

enum class Packed : std::uint8_t { none, good, bad };

// Any double whose imprecise value stays below this is surely below the largest double once
// correctly rounded; only numbers near the limit are read again exactly.
constexpr double kSurelyInRange = 1e308;

constexpr std::array<std::string_view, kFieldCount> kFieldKeys = {
    "operationId", "sequence", "transactionId", "timestamp", "operations", "actor", "baseRevision", "metadata"};

// Every key of every object in a record comes here: the field names differ in length but for
// "sequence" and "metadata", so the length picks the one name to compare.
Slot record_key(std::string_view key) {
  const auto field = [&](Slot s) { return key == kFieldKeys[field_number(s)] ? s : Slot::ignored; };
  switch (key.size()) {
    case 5: return field(Slot::actor);
    case 8: return field(key[0] == 's' ? Slot::sequence : Slot::metadata);
    case 9: return field(Slot::timestamp);
    case 10: return field(Slot::operations);
    case 11: return field(Slot::operation_id);
    case 12: return field(Slot::base_revision);
    case 13: return field(Slot::transaction_id);
    default: return Slot::ignored;
  }
}

Slot record_element(std::uint32_t index) {
  if (index >= kFieldCount) return Slot::ignored;  // the length check refuses the record
  return static_cast<Slot>(static_cast<std::size_t>(Slot::operation_id) + index);
}

bool keeps_text(Slot s) { return s == Slot::operation_id || s == Slot::transaction_id || s == Slot::operation_type; }

// Without an early exit or a flag of type bool, so that the loop runs in vector registers:
// packed vectors are long, and a branch per digit would mispredict between digits and letters.
bool all_hex(std::string_view s) {
  unsigned char bad = 0;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    const unsigned char digit = static_cast<unsigned char>(u - '0') < 10;
    const unsigned char letter = static_cast<unsigned char>((u | 0x20) - 'a') < 6;
    bad |= static_cast<unsigned char>(~(digit | letter) & 1);
  }
  return bad == 0;
}

// A number near the double limit, read again exactly; kept out of line so that the handler's
// number events stay small enough to inline into the parser.
[[gnu::noinline, gnu::cold]] bool in_double_range(std::string& pieces, bj::string_view last, bj::error_code& ec) {
  json::detail::ExactNumbers exact;
  exact.part(bj::string_view(pieces.data(), pieces.size()));
  pieces.clear();
  return exact.double_(last, ec).has_value();
}

class ScanHandler : public json::detail::HandlerLimits {
 public:
  LineFacts facts;
  bool accepted = false;

  // A line the parser gave up on may have left pieces of a key, string or number behind.
  bool on_document_begin(bj::error_code&) {
    depth_ = 0;
    skip_depth_ = 0;
    accepted = false;
    key_.clear();
    text_.clear();
    number_.clear();
    hex_length_ = 0;
    hex_bad_ = false;
    return true;
  }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_object_begin(bj::error_code&) { return begin(true), true; }
  bool on_object_end(std::size_t, bj::error_code&) { return end(), true; }
  bool on_array_begin(bj::error_code&) { return begin(false), true; }
  bool on_array_end(std::size_t, bj::error_code&) { return end(), true; }
  // Pieces come where an escape splits a key or a string (and every few KiB of a long escaped
  // one); the last piece comes with the key or string itself.
  bool on_key_part(bj::string_view s, std::size_t, bj::error_code&) {
    if (!skipping()) key_.append(s.data(), s.size());
    return true;
  }
  bool on_key(bj::string_view s, std::size_t, bj::error_code&) {
    if (skipping()) return true;
    Frame& f = top();
    if (key_.empty()) return f.key = slot_of_key(f.role, {s.data(), s.size()}), true;
    key_.append(s.data(), s.size());
    f.key = slot_of_key(f.role, key_);
    key_.clear();
    return true;
  }
  bool on_string_part(bj::string_view s, std::size_t, bj::error_code&) {
    if (skipping()) return true;
    const Slot slot = current();
    if (keeps_text(slot)) text_.append(s.data(), s.size());
    if (slot == Slot::packed_text) hex_part(s);
    return true;
  }
  bool on_string(bj::string_view s, std::size_t, bj::error_code&) {
    if (skipping()) return true;
    const Slot slot = current();
    if (keeps_text(slot)) {
      if (text_.empty()) {
        string_value(slot, {s.data(), s.size()});
      } else {
        text_.append(s.data(), s.size());
        string_value(slot, text_);
        text_.clear();
      }
    }
    if (slot == Slot::packed_text) {
      hex_part(s);
      operation_.packed = !hex_bad_ && hex_length_ % 8 == 0 ? Packed::good : Packed::bad;
      hex_length_ = 0;
      hex_bad_ = false;
    }
    return scalar(slot, Scalar::string), true;
  }
  bool on_number_part(bj::string_view s, bj::error_code&) { return number_.append(s.data(), s.size()), true; }
  bool on_int64(std::int64_t i, bj::string_view s, bj::error_code&) {
    // "-0" is the double -0.0, which no integer field takes.
    const char first = number_.empty() ? (s.empty() ? '0' : s[0]) : number_[0];
    number_.clear();
    if (skipping()) return true;
    if (i == 0 && first == '-') return scalar(Scalar::double_), true;
    if (i < 0) return negative_ = i, scalar(Scalar::negative), true;
    integer_ = static_cast<std::uint64_t>(i);
    return scalar(Scalar::small_unsigned), true;
  }
  bool on_uint64(std::uint64_t u, bj::string_view, bj::error_code&) {
    number_.clear();
    integer_ = u;
    return scalar(Scalar::large_unsigned), true;
  }
  bool on_double(double d, bj::string_view s, bj::error_code& ec) {
    if (!(std::fabs(d) < kSurelyInRange) && !in_double_range(number_, s, ec)) return false;
    number_.clear();
    return scalar(Scalar::double_), true;
  }
  bool on_bool(bool, bj::error_code&) { return scalar(Scalar::other), true; }
  bool on_null(bj::error_code&) { return scalar(Scalar::null), true; }
  bool on_comment_part(bj::string_view, bj::error_code&) { return true; }
  bool on_comment(bj::string_view, bj::error_code&) { return true; }

 private:
  enum class Scalar : std::uint8_t { null, string, negative, small_unsigned, large_unsigned, double_, other };
  struct Field {
    bool given = false;
    bool ok = false;
  };
  struct Operation {
    bool type_ok = false;  // given as a string
    bool carries_vector = false;
    bool payload_given = false;
    Packed packed = Packed::none;
  };

  Frame& top() { return frames_[depth_ - 1]; }
  // Inside a value nothing looks into: most values lie deep in payloads and metadata.
  bool skipping() const { return skip_depth_ > 0; }

  // The slot of the value that starts next, outside skipped values.
  Slot current() {
    if (depth_ == 0) return Slot::record;
    Frame& f = top();
    switch (f.role) {
      case Role::record_object:
      case Role::operation_object:
      case Role::payload_object:
      case Role::vector_object: return f.key;
      case Role::record_array: return record_element(f.count);
      case Role::operations: return Slot::operation;
      case Role::operation_array: return f.count == 0 ? Slot::operation_type : Slot::ignored;
    }
    return Slot::ignored;
  }

  static Slot slot_of_key(Role role, std::string_view key) {
    switch (role) {
      case Role::record_object: return record_key(key);
      case Role::operation_object:
        if (key == "operationType") return Slot::operation_type;
        return key == "payload" ? Slot::payload : Slot::ignored;
      case Role::payload_object: return key == "vector" ? Slot::vector : Slot::ignored;
      case Role::vector_object: return key == kPackedVectorKey ? Slot::packed_text : Slot::ignored;
      case Role::record_array:
      case Role::operations:
      case Role::operation_array: return Slot::ignored;
    }
    return Slot::ignored;
  }

  void push(Role role, bool unpacks = false) {
    assert(depth_ < frames_.size());
    frames_[depth_++] = Frame{role, unpacks};
  }
  // The container that starts here is passed over, its insides only counted.
  void skip() { skip_depth_ = 1; }

  void set_field(Slot s, bool ok) { fields_[field_number(s)] = Field{true, ok}; }
  void operations_fail() { fields_[field_number(Slot::operations)].ok = false; }

  void begin(bool object) {
    if (skipping()) {
      ++skip_depth_;
      return;
    }
    const Slot slot = current();
    switch (slot) {
      case Slot::record:
        fields_ = {};
        return push(object ? Role::record_object : Role::record_array);
      case Slot::operations:
        set_field(slot, !object);
        if (object) return skip();
        return push(Role::operations, top().role == Role::record_object);
      case Slot::operation:
        operation_ = {};
        return push(object ? Role::operation_object : Role::operation_array, top().unpacks);
      case Slot::payload:
        operation_.payload_given = true;
        operation_.packed = Packed::none;
        if (object) return push(Role::payload_object);
        return skip();
      case Slot::vector:
        operation_.packed = Packed::none;
        if (object) return push(Role::vector_object);
        return skip();
      case Slot::packed_text: operation_.packed = Packed::none; return skip();
      case Slot::operation_type: operation_.type_ok = false; return skip();
      case Slot::operation_id:
      case Slot::sequence:
      case Slot::transaction_id:
      case Slot::timestamp:
      case Slot::actor:
      case Slot::base_revision: set_field(slot, false); return skip();
      case Slot::metadata: set_field(slot, true); return skip();
      case Slot::ignored: return skip();
    }
  }

  void end() {
    if (skipping()) {
      if (--skip_depth_ == 0) value_done();
      return;
    }
    // Field by field: a copy of the whole frame would wait on the narrower stores to its key.
    const Frame& f = top();
    const Role role = f.role;
    const bool unpacks = f.unpacks;
    const std::uint32_t count = f.count;
    --depth_;
    switch (role) {
      case Role::record_object:
      case Role::record_array: accepted = record_reads(role == Role::record_object || count <= kFieldCount); break;
      case Role::operation_object: end_operation(unpacks); break;
      case Role::operation_array:
        if (count != 2 || !operation_.type_ok) operations_fail();
        break;
      case Role::operations:
      case Role::payload_object:
      case Role::vector_object: break;
    }
    value_done();
  }

  void end_operation(bool unpacks) {
    if (!operation_.type_ok || !operation_.payload_given) operations_fail();
    if (unpacks && operation_.type_ok && operation_.carries_vector && operation_.packed == Packed::bad)
      operations_fail();
  }

  bool record_reads(bool length_ok) const {
    if (!length_ok) return false;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      if (i < kRequiredFields && !fields_[i].given) return false;
      if (fields_[i].given && !fields_[i].ok) return false;
    }
    return true;
  }

  void value_done() {
    if (depth_ > 0) ++top().count;
  }

  void hex_part(bj::string_view s) {
    hex_length_ += s.size();
    hex_bad_ |= !all_hex({s.data(), s.size()});
  }

  // A whole string kept or compared, unescaped.
  void string_value(Slot slot, std::string_view text) {
    if (slot == Slot::operation_id) facts.operation_id.assign(text);
    if (slot == Slot::transaction_id) facts.transaction_id.assign(text);
    if (slot == Slot::operation_type) operation_.carries_vector = carries_vector(text);
  }

  void scalar(Scalar kind) {
    if (!skipping()) scalar(current(), kind);
  }

  void scalar(Slot slot, Scalar kind) {
    const bool unsigned_ = kind == Scalar::small_unsigned || kind == Scalar::large_unsigned;
    switch (slot) {
      case Slot::record: accepted = false; break;
      case Slot::operation_id:
      case Slot::transaction_id: set_field(slot, kind == Scalar::string); break;
      case Slot::actor: set_field(slot, kind == Scalar::string || kind == Scalar::null); break;
      case Slot::sequence:
        set_field(slot, unsigned_);
        facts.sequence = integer_;
        break;
      case Slot::timestamp:
        set_field(slot, kind == Scalar::small_unsigned || kind == Scalar::negative);
        facts.timestamp = timestamp_of(kind);
        break;
      case Slot::base_revision: set_field(slot, unsigned_ || kind == Scalar::null); break;
      case Slot::metadata: set_field(slot, true); break;
      case Slot::operations:
        set_field(slot, false);
        break;
      case Slot::operation: operations_fail(); break;
      case Slot::operation_type: operation_.type_ok = kind == Scalar::string; break;
      case Slot::payload:
        operation_.payload_given = true;
        operation_.packed = Packed::none;
        break;
      case Slot::vector: operation_.packed = Packed::none; break;
      case Slot::packed_text:
        if (kind != Scalar::string) operation_.packed = Packed::none;
        break;
      case Slot::ignored: break;
    }
    value_done();
  }

  std::int64_t timestamp_of(Scalar kind) const {
    return kind == Scalar::negative ? negative_ : static_cast<std::int64_t>(integer_);
  }

  std::array<Frame, kMaxRoleDepth> frames_{};
  std::size_t depth_ = 0;       // frames in use
  std::size_t skip_depth_ = 0;  // containers open inside the value being skipped
  std::array<Field, kFieldCount> fields_{};
  Operation operation_;
  std::string key_;     // the pieces of a key split by escapes
  std::string text_;    // the pieces of a string kept or compared
  std::string number_;  // the pieces of a number split across input
  std::size_t hex_length_ = 0;  // of the packed vector's text so far
  bool hex_bad_ = false;
  std::uint64_t integer_ = 0;
  std::int64_t negative_ = 0;
};

}  // namespace

struct MutationLineScanner::Parser {
  bj::basic_parser<ScanHandler> parser{json::detail::parse_options()};
};

MutationLineScanner::MutationLineScanner() : parser_(std::make_unique<Parser>()) {}
MutationLineScanner::~MutationLineScanner() = default;

bool MutationLineScanner::scan(std::string_view line) {
  auto& p = parser_->parser;
  p.reset();
  bj::error_code ec;
  const std::size_t used = p.write_some(false, line.data(), line.size(), ec);
  return !ec && used == line.size() && p.handler().accepted;
}

const LineFacts& MutationLineScanner::facts() const { return parser_->parser.handler().facts; }

}  // namespace tarnwick::store
