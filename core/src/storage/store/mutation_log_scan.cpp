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
std::size_t field_number(Slot s) { return static_cast<std::size_t>(s) - static_cast<std::size_t>(Slot::operation_id); }

enum class Role : std::uint8_t {
  other,  // nothing inside is looked at
  record_object,
  record_array,
  operations,  // unpacked only in an object record
  operation_object,
  operation_array,
  payload_object,
  vector_object,
};

struct Frame {
  Role role = Role::other;
  bool unpacks = false;      // operations: whether their packed vectors are unpacked
  Slot key = Slot::ignored;  // objects: the slot of the value after the last key
  std::uint32_t count = 0;   // arrays: elements completed
};

enum class Packed : std::uint8_t { none, good, bad };

// Any double whose imprecise value stays below this is surely below the largest double once
// correctly rounded; only numbers near the limit are read again exactly.
constexpr double kSurelyInRange = 1e308;

Slot record_key(std::string_view key) {
  static constexpr std::array<std::string_view, kFieldCount> kKeys = {
      "operationId", "sequence", "transactionId", "timestamp", "operations", "actor", "baseRevision", "metadata"};
  for (std::size_t i = 0; i < kKeys.size(); ++i)
    if (kKeys[i] == key) return static_cast<Slot>(static_cast<std::size_t>(Slot::operation_id) + i);
  return Slot::ignored;
}

Slot record_element(std::uint32_t index) {
  if (index >= kFieldCount) return Slot::ignored;  // the length check refuses the record
  return static_cast<Slot>(static_cast<std::size_t>(Slot::operation_id) + index);
}

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

class ScanHandler : public json::detail::HandlerLimits {
 public:
  LineFacts facts;
  bool accepted = false;

  // A line the parser gave up on may have left pieces of a key, string or number behind.
  bool on_document_begin(bj::error_code&) {
    depth_ = 0;
    accepted = false;
    key_.clear();
    number_.clear();
    string_started_ = false;
    return true;
  }
  bool on_document_end(bj::error_code&) { return true; }
  bool on_object_begin(bj::error_code&) { return begin(true), true; }
  bool on_object_end(std::size_t, bj::error_code&) { return end(), true; }
  bool on_array_begin(bj::error_code&) { return begin(false), true; }
  bool on_array_end(std::size_t, bj::error_code&) { return end(), true; }
  bool on_key_part(bj::string_view s, std::size_t, bj::error_code&) { return key_.append(s.data(), s.size()), true; }
  bool on_key(bj::string_view s, std::size_t, bj::error_code&) {
    Frame& f = top();
    if (f.role == Role::other) return key_.clear(), true;
    if (key_.empty()) return f.key = slot_of_key(f.role, {s.data(), s.size()}), true;
    key_.append(s.data(), s.size());
    f.key = slot_of_key(f.role, key_);
    key_.clear();
    return true;
  }
  bool on_string_part(bj::string_view s, std::size_t, bj::error_code&) {
    if (!ignoring()) string_part(s);
    return true;
  }
  bool on_string(bj::string_view s, std::size_t, bj::error_code&) {
    if (ignoring()) return true;
    string_part(s);
    string_started_ = false;
    string_value();
    return true;
  }
  bool on_number_part(bj::string_view s, bj::error_code&) { return number_.append(s.data(), s.size()), true; }
  bool on_int64(std::int64_t i, bj::string_view s, bj::error_code&) {
    // "-0" is the double -0.0, which no integer field takes.
    const char first = number_.empty() ? (s.empty() ? '0' : s[0]) : number_[0];
    number_.clear();
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
    if (!(std::fabs(d) < kSurelyInRange)) {
      json::detail::ExactNumbers exact;
      exact.part(bj::string_view(number_.data(), number_.size()));
      if (!exact.double_(s, ec)) return number_.clear(), false;
    }
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
  bool ignoring() const { return depth_ > 0 && frames_[depth_ - 1].role == Role::other; }

  Slot current() {
    if (depth_ == 0) return Slot::record;
    Frame& f = top();
    switch (f.role) {
      case Role::other: return Slot::ignored;
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
      case Role::other:
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

  void set_field(Slot s, bool ok) { fields_[field_number(s)] = Field{true, ok}; }
  void operations_fail() { fields_[field_number(Slot::operations)].ok = false; }

  void begin(bool object) {
    if (ignoring()) return push(Role::other);
    const Slot slot = current();
    switch (slot) {
      case Slot::record:
        fields_ = {};
        return push(object ? Role::record_object : Role::record_array);
      case Slot::operations:
        set_field(slot, !object);
        if (object) return push(Role::other);
        return push(Role::operations, top().role == Role::record_object);
      case Slot::operation:
        operation_ = {};
        return push(object ? Role::operation_object : Role::operation_array, top().unpacks);
      case Slot::payload:
        operation_.payload_given = true;
        operation_.packed = Packed::none;
        return push(object ? Role::payload_object : Role::other);
      case Slot::vector:
        operation_.packed = Packed::none;
        return push(object ? Role::vector_object : Role::other);
      case Slot::packed_text: operation_.packed = Packed::none; return push(Role::other);
      case Slot::operation_type: operation_.type_ok = false; return push(Role::other);
      case Slot::operation_id:
      case Slot::sequence:
      case Slot::transaction_id:
      case Slot::timestamp:
      case Slot::actor:
      case Slot::base_revision: set_field(slot, false); return push(Role::other);
      case Slot::metadata: set_field(slot, true); return push(Role::other);
      case Slot::ignored: return push(Role::other);
    }
  }

  void end() {
    const Frame f = top();
    --depth_;
    switch (f.role) {
      case Role::record_object:
      case Role::record_array: accepted = record_reads(f.role == Role::record_object || f.count <= kFieldCount); break;
      case Role::operation_object: end_operation(f.unpacks); break;
      case Role::operation_array:
        if (f.count != 2 || !operation_.type_ok) operations_fail();
        break;
      case Role::other:
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

  // The pieces of a string, unescaped; only the values kept or checked are looked at.
  void string_part(bj::string_view s) {
    const Slot slot = current();
    if (!string_started_) {
      string_started_ = true;
      text_.clear();
      hex_length_ = 0;
      hex_ok_ = true;
    }
    if (slot == Slot::operation_id || slot == Slot::transaction_id || slot == Slot::operation_type) {
      text_.append(s.data(), s.size());
    } else if (slot == Slot::packed_text) {
      hex_length_ += s.size();
      hex_ok_ = hex_ok_ && all_hex({s.data(), s.size()});
    }
  }

  void string_value() {
    const Slot slot = current();
    if (slot == Slot::operation_id) facts.operation_id = text_;
    if (slot == Slot::transaction_id) facts.transaction_id = text_;
    if (slot == Slot::operation_type) operation_.carries_vector = carries_vector(text_);
    if (slot == Slot::packed_text) operation_.packed = hex_ok_ && hex_length_ % 8 == 0 ? Packed::good : Packed::bad;
    scalar(Scalar::string);
  }

  void scalar(Scalar kind) {
    if (ignoring()) return;
    const Slot slot = current();
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

  std::array<Frame, json::kMaxParseDepth + 1> frames_{};
  std::size_t depth_ = 0;
  std::array<Field, kFieldCount> fields_{};
  Operation operation_;
  std::string key_;     // the pieces of a key split by escapes
  std::string text_;    // the pieces of a string kept or compared
  std::string number_;  // the pieces of a number split across input
  bool string_started_ = false;
  std::size_t hex_length_ = 0;
  bool hex_ok_ = true;
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
