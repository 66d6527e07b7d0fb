#include <gtest/gtest.h>

#include "core/telephony/telprotocol.h"
#include "support/qtprint.h"

namespace {

QByteArray EveryByte() {
  QByteArray bytes;
  for (int i = 0; i < 256; ++i) {
    bytes.append(static_cast<char>(i));
  }
  return bytes;
}

TEST(TelProtocolTest, FieldEscapesRoundTripAndLeaveNoSeparators) {
  struct Case {
    QByteArray plain, escaped;
  };
  const Case cases[] = {
      {"", ""},
      {"STATUS:1|MSG:301,|", "STATUS:1|MSG:301,|"},
      {"a\tb", "a\\tb"},
      {"line\nnext\r\n", "line\\nnext\\r\\n"},
      {"\\", "\\\\"},
      {"\\t is not a tab", "\\\\t is not a tab"},
      {QStringLiteral("이름:홍길동|").toUtf8(), QStringLiteral("이름:홍길동|").toUtf8()},
      {QByteArray("\0\x01\xff", 3), QByteArray("\0\x01\xff", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeTelField(c.plain), c.escaped);
    EXPECT_EQ(UnescapeTelField(c.escaped), c.plain);
  }
  const QByteArray escaped = EscapeTelField(EveryByte());
  EXPECT_FALSE(escaped.contains('\t') || escaped.contains('\n') || escaped.contains('\r'));
  EXPECT_EQ(UnescapeTelField(escaped), EveryByte());
}

TEST(TelProtocolTest, MalformedEscapesAreRejected) {
  for (const QByteArray field : {"\\", "text\\", "\\x", "\\0", "\\T", "\\N", "ok\\\\\\"}) {
    EXPECT_EQ(UnescapeTelField(field), std::nullopt) << field.constData();
  }
}

TEST(TelProtocolTest, LinesCarryFieldsOfAnyContent) {
  const QList<QList<QByteArray>> lines = {
      {"LOGIN", "agent1", "pw\t1"},
      {"EVENT", "Ring", "A\nB\\C\r"},
      {"EVENT", "Ring", ""},
      {"", "", ""},
      {"LOGOUT"},
      {EveryByte()},
  };
  for (const QList<QByteArray>& fields : lines) {
    const QByteArray line = EncodeTelLine(fields);
    ASSERT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_EQ(DecodeTelLine(line.chopped(1)), fields);
  }
  EXPECT_EQ(EncodeTelLine({"EVENT", "Ring", "a\tb"}), "EVENT\tRing\ta\\tb\n");
}

TEST(TelProtocolTest, DecodingDropsOneCarriageReturnAndRejectsBadFields) {
  using Fields = QList<QByteArray>;
  EXPECT_EQ(DecodeTelLine("LOGOUT\r"), Fields{"LOGOUT"});
  EXPECT_EQ(DecodeTelLine("a\tb\r\r"), (Fields{"a", "b\r"}));
  EXPECT_EQ(DecodeTelLine(""), Fields{""});
  EXPECT_EQ(DecodeTelLine("\t"), (Fields{"", ""}));
  EXPECT_EQ(DecodeTelLine("EVENT\tRing\tbad\\q"), std::nullopt);
  EXPECT_EQ(DecodeTelLine("EVENT\tRing\\"), std::nullopt);
}

TEST(TelProtocolTest, EmptyTextStaysApartFromNull) {
  EXPECT_FALSE(DecodeTelText(QByteArray()).isNull());
  EXPECT_TRUE(DecodeTelText(QByteArray()).isEmpty());
  EXPECT_EQ(DecodeTelText(QStringLiteral("홍길동").toUtf8()), QStringLiteral("홍길동"));
}

TEST(TelLineReaderTest, SplitsLinesWhereverTheChunksBreak) {
  const QByteArray stream = "first\nsecond line\n\nthird\r\npartial";
  const QList<QByteArray> expected = {"first", "second line", "", "third\r"};
  for (qsizetype chunk : {1, 2, 3, 7, 100}) {
    TelLineReader reader;
    QList<QByteArray> lines;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
      lines += reader.Feed(QByteArrayView(stream).sliced(at, qMin(chunk, stream.size() - at)));
    }
    EXPECT_EQ(lines, expected) << "chunk " << chunk;
    EXPECT_EQ(reader.Feed("\n"), QList<QByteArray>{"partial"});
  }
}

TEST(TelLineReaderTest, DropsLinesOverTheBoundUpToTheirEnd) {
  struct Case {
    const char* what;
    QList<QByteArray> chunks;
    QList<QByteArray> lines;
  };
  const Case cases[] = {
      {"at the bound", {"12345678\n"}, {"12345678"}},
      {"one over", {"123456789\nnext\n"}, {"next"}},
      {"over across chunks", {"12345", "6789", "abc", "\nnext\n"}, {"next"}},
      {"bound reached by the last chunk", {"1234", "5678", "\n"}, {"12345678"}},
      {"carriage return counts", {"12345678\r\nok\n"}, {"ok"}},
      {"several long lines", {"123456789\n123456789\nok\n123456789"}, {"ok"}},
  };
  for (const Case& c : cases) {
    TelLineReader reader(8);
    QList<QByteArray> lines;
    for (const QByteArray& chunk : c.chunks) {
      lines += reader.Feed(chunk);
    }
    EXPECT_EQ(lines, c.lines) << c.what;
  }
}

TEST(TelLineReaderTest, HugeLineInManyChunksIsDroppedAndResetForgetsPartials) {
  TelLineReader reader;
  const QByteArray chunk(64 * 1024, 'x');
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(reader.Feed(chunk).isEmpty());
  }
  EXPECT_EQ(reader.Feed("tail\nafter\n"), QList<QByteArray>{"after"});

  reader.Feed("half a li");
  reader.Reset();
  EXPECT_EQ(reader.Feed("ne\n"), QList<QByteArray>{"ne"});
  reader.Feed(chunk + "x");
  reader.Reset();
  EXPECT_EQ(reader.Feed("fresh\n"), QList<QByteArray>{"fresh"});
}

}  // namespace
