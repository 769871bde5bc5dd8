#pragma once
// The MessagePack markers this codec reads and writes, and the limits it enforces. Multi-byte
// lengths and numbers are big-endian.

#include <cstddef>
#include <cstdint>

namespace tarnwick::msgpack {

namespace marker {
inline constexpr std::uint8_t kPositiveFixintMax = 0x7f;
inline constexpr std::uint8_t kFixmap = 0x80;  // low 4 bits: pair count
inline constexpr std::uint8_t kFixarray = 0x90;  // low 4 bits: element count
inline constexpr std::uint8_t kFixstr = 0xa0;  // low 5 bits: byte length
inline constexpr std::uint8_t kNil = 0xc0;
inline constexpr std::uint8_t kFalse = 0xc2;
inline constexpr std::uint8_t kTrue = 0xc3;
inline constexpr std::uint8_t kBin8 = 0xc4;
inline constexpr std::uint8_t kBin16 = 0xc5;
inline constexpr std::uint8_t kBin32 = 0xc6;
inline constexpr std::uint8_t kFloat32 = 0xca;
inline constexpr std::uint8_t kFloat64 = 0xcb;
inline constexpr std::uint8_t kUint8 = 0xcc;
inline constexpr std::uint8_t kUint16 = 0xcd;
inline constexpr std::uint8_t kUint32 = 0xce;
inline constexpr std::uint8_t kUint64 = 0xcf;
inline constexpr std::uint8_t kInt8 = 0xd0;
inline constexpr std::uint8_t kInt16 = 0xd1;
inline constexpr std::uint8_t kInt32 = 0xd2;
inline constexpr std::uint8_t kInt64 = 0xd3;
inline constexpr std::uint8_t kStr8 = 0xd9;
inline constexpr std::uint8_t kStr16 = 0xda;
inline constexpr std::uint8_t kStr32 = 0xdb;
inline constexpr std::uint8_t kArray16 = 0xdc;
inline constexpr std::uint8_t kArray32 = 0xdd;
inline constexpr std::uint8_t kMap16 = 0xde;
inline constexpr std::uint8_t kMap32 = 0xdf;
inline constexpr std::uint8_t kNegativeFixintMin = 0xe0;
}  // namespace marker

// No MessagePack header can state a length or count above this.
inline constexpr std::uint64_t kMaxLength = 0xffffffffu;
// Arrays and maps nested deeper than this are refused on both sides, so that everything the
// encoder writes decodes, and no input can exhaust the decoder's stack.
inline constexpr std::size_t kMaxDepth = 512;
// A count read from a file reserves at most this many elements before the elements are read.
inline constexpr std::size_t kMaxReserve = 4096;

}  // namespace tarnwick::msgpack
