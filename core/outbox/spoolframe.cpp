#include "core/outbox/spoolframe.h"

#include <QtEndian>
#include <optional>

#include "core/outbox/crc32.h"

namespace {

constexpr char kMagic[] = "TVXR";
constexpr qsizetype kMagicSize = 4;
constexpr qsizetype kCrcEnd = 8;  // the CRC covers every byte from here on

std::optional<SpoolFrame> FrameAt(QByteArrayView bytes, qsizetype offset) {
  const QByteArrayView rest = bytes.sliced(offset);
  if (rest.size() < kSpoolFrameHeaderSize || !rest.startsWith(QByteArrayView(kMagic, kMagicSize))) {
    return std::nullopt;
  }
  const quint32 length = qFromLittleEndian<quint32>(rest.data() + kCrcEnd);
  if (length > kMaxSpoolPayloadSize || rest.size() - kSpoolFrameHeaderSize < qsizetype(length)) {
    return std::nullopt;
  }
  const qsizetype size = kSpoolFrameHeaderSize + length;
  if (qFromLittleEndian<quint32>(rest.data() + kMagicSize) !=
      Crc32(rest.sliced(kCrcEnd, size - kCrcEnd))) {
    return std::nullopt;
  }
  return SpoolFrame{qFromLittleEndian<quint64>(rest.data() + 12), offset, size,
                    rest.sliced(kSpoolFrameHeaderSize, length).toByteArray()};
}

}  // namespace

QByteArray EncodeSpoolFrame(quint64 sequence, QByteArrayView payload) {
  QByteArray frame(kSpoolFrameHeaderSize, Qt::Uninitialized);
  std::copy_n(kMagic, kMagicSize, frame.data());
  qToLittleEndian(quint32(payload.size()), frame.data() + kCrcEnd);
  qToLittleEndian(sequence, frame.data() + 12);
  frame += payload;
  qToLittleEndian(Crc32(QByteArrayView(frame).sliced(kCrcEnd)), frame.data() + kMagicSize);
  return frame;
}

SpoolScan ScanSpool(QByteArrayView bytes) {
  SpoolScan scan;
  qsizetype offset = 0;
  while (offset < bytes.size()) {
    if (std::optional<SpoolFrame> frame = FrameAt(bytes, offset)) {
      offset += frame->size;
      scan.frames.append(std::move(*frame));
      continue;
    }
    // Damaged bytes: the next intact frame, if any, starts at a later magic.
    qsizetype next = offset;
    do {
      next = bytes.indexOf(QByteArrayView(kMagic, kMagicSize), next + 1);
    } while (next >= 0 && !FrameAt(bytes, next));
    if (next < 0) next = bytes.size();
    scan.unreadable.append(bytes.sliced(offset, next - offset).toByteArray());
    offset = next;
  }
  return scan;
}
