#pragma once
// Text from bytes that should be UTF-8: every invalid sequence (each maximal prefix of a valid
// sequence, or a single stray byte) becomes U+FFFD, so decoding a string never fails.

#include <cstdint>
#include <span>
#include <string>

namespace tarnwick::msgpack {

std::string lossy_text(std::span<const std::uint8_t> bytes);
// Whether `lossy_text` gives the bytes back unchanged.
bool valid_utf8(std::span<const std::uint8_t> bytes);

}  // namespace tarnwick::msgpack
