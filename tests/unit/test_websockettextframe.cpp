// The feed frames each event once for every browser: the frame's header
// must be what a WebSocket client reads, at each length encoding's edges.
#include <gtest/gtest.h>

#include "core/feed/websockettextframe.h"

TEST(WebSocketTextFrame, LengthTakesTheShortestEncodingAndNoMask) {
  const struct {
    qsizetype size;
    QByteArray header;
  } cases[] = {
      {0, QByteArray("\x81\x00", 2)},
      {125, QByteArray("\x81\x7d", 2)},
      {126, QByteArray("\x81\x7e\x00\x7e", 4)},
      {65535, QByteArray("\x81\x7e\xff\xff", 4)},
      {65536, QByteArray("\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10)},
  };
  for (const auto& c : cases) {
    const QByteArray payload(c.size, 'x');
    const QByteArray frame = WebSocketTextFrame(payload);
    EXPECT_EQ(frame.left(c.header.size()).toHex(), c.header.toHex()) << c.size;
    EXPECT_EQ(frame.mid(c.header.size()), payload) << c.size;
  }
}
