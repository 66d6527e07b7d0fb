#include "core/outbox/crc32.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace

std::uint32_t Crc32(QByteArrayView bytes, std::uint32_t crc) {
  crc = ~crc;
  for (const char byte : bytes) crc = kTable[(crc ^ std::uint8_t(byte)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
