#pragma once
// Copies of many short texts in a few large blocks, for one query call. A copy never moves once
// made, so views into it stay valid while the arena lives, also after the arena is moved.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace tarnwick::query {

class TextArena {
 public:
  std::string_view copy(std::string_view text) {
    if (text.size() > left_) grow(text.size());
    char* at = next_;
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    next_ += text.size();
    left_ -= text.size();
    return {at, text.size()};
  }

 private:
  static constexpr std::size_t kBlock = 64 * 1024;

  void grow(std::size_t at_least) {
    const std::size_t size = std::max(kBlock, at_least);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    next_ = blocks_.back().get();
    left_ = size;
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
};

}  // namespace tarnwick::query
