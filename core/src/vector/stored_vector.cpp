#include "vector/stored_vector.hpp"

#include <algorithm>

namespace tarnwick {

StoredVector StoredVector::make(std::span<const double> values, VectorPrecision precision) {
  if (precision == VectorPrecision::Float32) {
    std::vector<float> narrowed(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) narrowed[i] = static_cast<float>(values[i]);
    return StoredVector(std::move(narrowed));
  }
  return StoredVector(std::vector<double>(values.begin(), values.end()));
}

StoredVector StoredVector::exact(std::vector<double>&& values) {
  const auto is_float32 = [](double v) { return static_cast<double>(static_cast<float>(v)) == v; };
  const bool narrow = std::ranges::all_of(values, is_float32);
  if (narrow) return make(values, VectorPrecision::Float32);
  return StoredVector(std::move(values));
}

StoredVector StoredVector::at(VectorPrecision precision) && {
  if (this->precision() == precision) return std::move(*this);
  return make(to_f64(), precision);
}

VectorPrecision StoredVector::precision() const {
  return std::holds_alternative<std::vector<float>>(values_) ? VectorPrecision::Float32 : VectorPrecision::Float64;
}

std::size_t StoredVector::size() const {
  return std::visit([](const auto& v) { return v.size(); }, values_);
}

std::vector<double> StoredVector::to_f64() const {
  return std::visit([](const auto& v) { return std::vector<double>(v.begin(), v.end()); }, values_);
}

Result<double> StoredVector::similarity_to(const StoredVector& other, DistanceMetric metric) const {
  return std::visit(
      [metric]<class A, class B>(const std::vector<A>& a, const std::vector<B>& b) {
        return similarity(std::span<const A>(a), std::span<const B>(b), metric);
      },
      values_, other.values_);
}

}  // namespace tarnwick
