#include "core/feed/websockettextframe.h"

namespace {

constexpr char kFinalText = char(0x81);
constexpr qsizetype kLongestShort = 125;
constexpr char kTwoByteLength = 126;
constexpr char kEightByteLength = 127;

}  // namespace

QByteArray WebSocketTextFrame(QByteArrayView utf8) {
  const quint64 size = quint64(utf8.size());
  QByteArray frame;
  frame.reserve(utf8.size() + 10);
  frame.append(kFinalText);
  if (utf8.size() <= kLongestShort) {
    frame.append(char(size));
  } else {
    const int lengthBytes = size <= 0xFFFF ? 2 : 8;
    frame.append(lengthBytes == 2 ? kTwoByteLength : kEightByteLength);
    for (int shift = (lengthBytes - 1) * 8; shift >= 0; shift -= 8) {
      frame.append(char((size >> shift) & 0xFF));
    }
  }
  frame.append(utf8);
  return frame;
}
