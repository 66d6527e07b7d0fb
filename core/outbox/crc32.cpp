#include "core/outbox/crc32.h"

#include <zlib.h>

std::uint32_t Crc32(QByteArrayView bytes, std::uint32_t crc) {
  // zlib's is the same CRC, several bytes at a step: every event of the
  // stream and every call record goes through it on the event loop.
  return std::uint32_t(
      crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), size_t(bytes.size())));
}
