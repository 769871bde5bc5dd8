#pragma once
// `Msg`: one MessagePack value as a tree. The plain, obviously correct form of the codec;
// the snapshot and log hot paths stream records without it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "storage/msgpack/bytes.hpp"

namespace tarnwick::msgpack {

class Msg {
 public:
  enum class Kind : std::uint8_t { Nil, Bool, Int, Float, Bin, Str, Array, Map };
  using Array = std::vector<Msg>;
  // A map is a list of pairs: it keeps file order, repeated keys and keys of any kind.
  using Map = std::vector<std::pair<Msg, Msg>>;

  // An integer. Values above the signed range are flagged unsigned, so that they keep their
  // value; every other value is held signed, which makes each integer's form unique.
  struct Int {
    std::uint64_t bits = 0;
    bool is_unsigned = false;

    // The value when it fits a signed 64-bit integer.
    std::optional<std::int64_t> to_i64() const;
    // The value when it is not negative.
    std::optional<std::uint64_t> to_u64() const;
    double to_double() const;
    friend bool operator==(const Int&, const Int&) = default;
  };
  // A double. `keep_float` writes it as float64 even when it is integral.
  struct Float {
    double value = 0.0;
    bool keep_float = false;
    friend bool operator==(const Float& a, const Float& b);
  };

  Msg() = default;  // nil
  ~Msg();
  Msg(const Msg&) = default;
  Msg(Msg&&) noexcept = default;
  Msg& operator=(const Msg&) = default;
  Msg& operator=(Msg&& other) noexcept;

  static Msg boolean(bool b) { return Msg(std::in_place_type<bool>, b); }
  static Msg integer(std::int64_t i) { return Msg(std::in_place_type<Int>, Int{static_cast<std::uint64_t>(i), false}); }
  static Msg unsigned_integer(std::uint64_t u);
  // Written in the smallest form: an integral value below 2^53 in magnitude as an integer.
  static Msg number(double d) { return Msg(std::in_place_type<Float>, Float{d, false}); }
  // Always written as float64.
  static Msg float64(double d) { return Msg(std::in_place_type<Float>, Float{d, true}); }
  static Msg bin(Bytes b) { return Msg(std::in_place_type<Bytes>, std::move(b)); }
  static Msg str(std::string s) { return Msg(std::in_place_type<std::string>, std::move(s)); }
  static Msg array(Array a) { return Msg(std::in_place_type<Array>, std::move(a)); }
  static Msg map_of(Map m) { return Msg(std::in_place_type<Map>, std::move(m)); }
  // A map whose keys are the given texts, in the given order.
  static Msg map(std::vector<std::pair<std::string, Msg>> pairs);

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is(Kind k) const { return kind() == k; }

  // Accessors; each requires the matching kind.
  bool as_bool() const { return std::get<bool>(v_); }
  const Int& as_int() const { return std::get<Int>(v_); }
  const Float& as_float() const { return std::get<Float>(v_); }
  const Bytes& as_bin() const { return std::get<Bytes>(v_); }
  const std::string& as_str() const { return std::get<std::string>(v_); }
  const Array& as_array() const { return std::get<Array>(v_); }
  const Map& as_map() const { return std::get<Map>(v_); }

  // The value of the first pair whose key is a text equal to `key`; none for other kinds.
  const Msg* get(std::string_view key) const;

  friend bool operator==(const Msg&, const Msg&) = default;

 private:
  using Value = std::variant<std::monostate, bool, Int, Float, Bytes, std::string, Array, Map>;
  template <class T, class Arg>
  Msg(std::in_place_type_t<T> kind, Arg&& arg) : v_(kind, std::forward<Arg>(arg)) {}

  // Moves the children of an array or map into `out`, leaving this value without children.
  void take_children(std::vector<Msg>& out);

  Value v_;
};

}  // namespace tarnwick::msgpack
