#pragma once

#include <QByteArrayView>
#include <cstdint>

// CRC-32 as zlib and Ethernet compute it; crc carries a running value over pieces.
std::uint32_t Crc32(QByteArrayView bytes, std::uint32_t crc = 0);
