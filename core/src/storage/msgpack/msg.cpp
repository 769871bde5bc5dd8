#include "storage/msgpack/msg.hpp"

#include <bit>
#include <limits>

namespace tarnwick::msgpack {

bool operator==(const Msg::Float& a, const Msg::Float& b) {
  return std::bit_cast<std::uint64_t>(a.value) == std::bit_cast<std::uint64_t>(b.value) &&
         a.keep_float == b.keep_float;
}

// Deep values are torn down through an explicit work list instead of recursion, so that no
// depth can exhaust the stack.
Msg::~Msg() {
  if (!is(Kind::Array) && !is(Kind::Map)) return;
  std::vector<Msg> pending;
  take_children(pending);
  while (!pending.empty()) {
    Msg last = std::move(pending.back());
    pending.pop_back();
    last.take_children(pending);
  }
}

Msg& Msg::operator=(Msg&& other) noexcept {
  if (this != &other) {
    Msg old(std::move(*this));  // torn down by the destructor above
    v_ = std::move(other.v_);
  }
  return *this;
}

void Msg::take_children(std::vector<Msg>& out) {
  if (auto* a = std::get_if<Array>(&v_)) {
    for (auto& m : *a) out.push_back(std::move(m));
    a->clear();
  } else if (auto* m = std::get_if<Map>(&v_)) {
    for (auto& [k, v] : *m) {
      out.push_back(std::move(k));
      out.push_back(std::move(v));
    }
    m->clear();
  }
}

std::optional<std::int64_t> Msg::Int::to_i64() const {
  if (is_unsigned) return std::nullopt;
  return static_cast<std::int64_t>(bits);
}

std::optional<std::uint64_t> Msg::Int::to_u64() const {
  if (!is_unsigned && static_cast<std::int64_t>(bits) < 0) return std::nullopt;
  return bits;
}

double Msg::Int::to_double() const {
  return is_unsigned ? static_cast<double>(bits) : static_cast<double>(static_cast<std::int64_t>(bits));
}

Msg Msg::unsigned_integer(std::uint64_t u) {
  return Msg(std::in_place_type<Int>, Int{u, u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())});
}

Msg Msg::map(std::vector<std::pair<std::string, Msg>> pairs) {
  Map m;
  m.reserve(pairs.size());
  for (auto& [k, v] : pairs) m.emplace_back(str(std::move(k)), std::move(v));
  return map_of(std::move(m));
}

const Msg* Msg::get(std::string_view key) const {
  const auto* m = std::get_if<Map>(&v_);
  if (!m) return nullptr;
  for (const auto& [k, v] : *m) {
    const auto* s = std::get_if<std::string>(&k.v_);
    if (s && *s == key) return &v;
  }
  return nullptr;
}

}  // namespace tarnwick::msgpack
