#include <gtest/gtest.h>

#include <limits>

#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

constexpr qint32 kMin = std::numeric_limits<qint32>::min();
constexpr qint32 kMax = std::numeric_limits<qint32>::max();

TEST(EventText, GetEventFieldCutsTheValueAfterKeyAndGap) {
  const QByteArray korean = ToCp949(QStringLiteral("홍길동"));
  const struct {
    const char* name;
    QByteArray text;
    QByteArray key;
    int gap;
    char terminator;
    QByteArray expected;
  } cases[] = {
      {"status", "STATUS:1|MSG:x|", "STATUS", 1, '|', "1"},
      {"any separator", "STATUS=-2|", "STATUS", 1, '|', "-2"},
      {"no terminator after the key", "MSG:abc", "MSG", 1, '|', ""},
      {"terminator in the gap", "STATUS|1|", "STATUS", 1, '|', ""},
      {"channel, gap 0", "CHANNEL1:SIP/301-00a1", "CHANNEL1:SIP/", 0, '-', "301"},
      {"message up to the comma", "STATUS:1|MSG:OK 12301,more|", "MSG", 1, ',', "OK 12301"},
      {"missing key", "STATUS:1|", "CALLERID", 1, '|', ""},
      {"empty text", "", "STATUS", 1, '|', ""},
      {"key at the very end", "a|STATUS", "STATUS", 1, '|', ""},
      {"empty value", "CALLERID:|", "CALLERID", 1, '|', ""},
      {"first occurrence wins", "INEXTEN:1|INEXTEN:2|", "INEXTEN", 1, '|', "1"},
      {"key inside an earlier longer key", "LOGINSTATUS:9|STATUS:1|", "STATUS", 1, '|', "9"},
      {"terminator before the key is ignored", "|x|CALLERID:0101|", "CALLERID", 1, '|', "0101"},
      {"korean value", "CALLERID:" + korean + "|", "CALLERID", 1, '|', korean},
      {"key hidden in a character", ToCp949(QStringLiteral("갨")) + "TATUS:1|STATUS:2|", "STATUS",
       1, '|', "2"},
      {"terminator hidden in a character", "K:\x81S|S", "K", 1, 'S', "\x81S|"},
      {"gap past the terminator", "K:12|", "K", 9, '|', ""},
      {"gap past the end", "K:1|", "K", 100, '|', ""},
      {"negative gap", "AB:C|", "B", -2, '|', "AB:C"},
      // The count is taken before the start is clipped to 0.
      {"start clipped to 0", "A:1|xyz", "A", -3, '|', "A:1|x"},
      // A value ends at its NUL; the terminator is still looked for past it.
      {"value ends at its NUL", QByteArrayLiteral("CALLERID:0101\0\x31\x32|"), "CALLERID", 1, '|',
       "0101"},
      {"value that starts with NUL",
       QByteArrayLiteral("CALLERID:\0"
                         "01012345678|"),
       "CALLERID", 1, '|', ""},
      {"NUL before the key", QByteArrayLiteral("\0ISDIAL:1|"), "ISDIAL", 1, '|', "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetEventField(c.text, c.key, c.gap, c.terminator), c.expected);
  }
}

TEST(EventText, ParseLooseIntReadsValuesAndAddressParts) {
  const struct {
    QByteArray text;
    qint32 expected;
  } cases[] = {
      {"-1", -1},
      {"-2", -2},
      {"1,234", 1234},
      {" 42 ", 42},
      {"12ab", 12},
      {"5-", 5},
      {"--5", -5},
      {"(02)123", 0},
      {"02)123", 2123},
      {"", 0},
      {"+7", 7},
      {"-+7", -7},
      {"12-34", 1234},
      {"-12-34", -1234},
      {" -3", 3},  // the sign counts only as the very first byte
      {"\t\n\v\f\r8\r\n", 8},
      {"1 2", 1},
      {"abc", 0},
      {"0x1F", 0},
      {"\x81\x53"
       "5",
       0},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"99999999999999999999999999", kMax},
      {"-99999999999999999999999999", kMin},
      {"4,294,967,296", kMax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    EXPECT_EQ(ParseLooseInt(c.text), c.expected);
  }
}

TEST(EventText, LastBytesKeepsTheTail) {
  EXPECT_EQ(LastBytes("OK 12301", 3), "301");
  EXPECT_EQ(LastBytes("7", 3), "7");
  EXPECT_EQ(LastBytes("301", 3), "301");
  EXPECT_EQ(LastBytes("", 3), "");
  EXPECT_EQ(LastBytes("abc", 0), "");
  EXPECT_EQ(LastBytes("abc", -1), "");
}

}  // namespace
