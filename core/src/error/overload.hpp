#pragma once
// A visitor built from lambdas, for std::visit over the variants of records and entries.

namespace tarnwick {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};

}  // namespace tarnwick
