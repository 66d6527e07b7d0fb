#include <gtest/gtest.h>

#include "core/text/cp949.h"

namespace {

QString Units(std::initializer_list<char16_t> units) {
  QString text;
  for (char16_t unit : units) text.append(QChar(unit));
  return text;
}

TEST(Cp949, ToCp949TurnsEachUnconvertibleCharacterIntoOneQuestionMark) {
  const struct {
    const char* name;
    QString text;
    QByteArray expected;
  } cases[] = {
      {"null", QString(), QByteArray()},
      {"empty", QStringLiteral(""), QByteArray()},
      {"ascii", QStringLiteral("STATUS:1|"), "STATUS:1|"},
      {"hangul", QStringLiteral("가나"), QByteArray::fromHex("b0a1b3aa")},
      {"hangul outside KS X 1001", QStringLiteral("갨똠"), QByteArray::fromHex("81538c63")},
      {"euro sign", QStringLiteral("€"), QByteArray::fromHex("a2e6")},
      {"embedded NUL", Units({u'a', 0, u'b'}), QByteArray("a\0b", 3)},
      {"thai", QStringLiteral("aกb"), "a?b"},
      {"surrogate pair", Units({u'a', 0xD83D, 0xDE00, u'b'}), "a?b"},
      {"two pairs in a row", Units({0xD83D, 0xDE00, 0xD83D, 0xDE01}), "??"},
      {"lone high surrogate", Units({u'a', 0xD83D, u'b'}), "a?b"},
      {"lone low surrogate", Units({u'a', 0xDE00, u'b'}), "a?b"},
      {"high surrogate at the end", Units({u'a', 0xD83D}), "a?"},
      {"mixed", Units({0x0E01, u'가', 0xD83D, 0xDE00, u'1'}), QByteArray::fromHex("3fb0a13f31")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToCp949(c.text), c.expected);
  }
}

TEST(Cp949, FromCp949ReplacesInvalidBytesWithoutSwallowingTheNextCharacter) {
  const QString bad(QChar(0xFFFD));
  const struct {
    const char* name;
    QByteArray bytes;
    QString expected;
  } cases[] = {
      {"empty", QByteArray(), QString()},
      {"ascii", "CALLERID:0212345678|", QStringLiteral("CALLERID:0212345678|")},
      {"hangul", QByteArray::fromHex("b0a181538c63"), QStringLiteral("가갨똠")},
      {"0x80",
       "a\x80"
       "b",
       "a" + bad + "b"},
      {"0xFF", "a\xff", "a" + bad},
      {"lead byte at the end", "a\xb0", "a" + bad},
      {"lead byte before ASCII",
       "\x81"
       "0|",
       bad + "0|"},
      {"unmapped pair counts once", QByteArray::fromHex("c9a1c741") + "x", bad + bad + "x"},
      {"lead byte before 0xFF", "\xa1\xff", bad + bad},
      {"embedded NUL", QByteArray("a\0b", 3), Units({u'a', 0, u'b'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FromCp949(c.bytes), c.expected);
  }
}

TEST(Cp949, KoreanTextSurvivesTheRoundTrip) {
  const QString text = QStringLiteral("[0] 홍길동 - 로그인 실패(기타) 수신번호 항상(DB기록)");
  EXPECT_EQ(FromCp949(ToCp949(text)), text);
  // Long texts go to iconv in pieces; an odd start puts characters across their seams.
  const QString shifted = "a" + QString(3000, QChar(u'가')) + "b";
  EXPECT_EQ(FromCp949(ToCp949(shifted)), shifted);
  EXPECT_EQ(FromCp949(ToCp949(shifted) + "\xb0"), shifted + QChar(0xFFFD));
}

TEST(Cp949, LeadBytesAre0x81To0xFE) {
  EXPECT_FALSE(IsCp949LeadByte(0x00));
  EXPECT_FALSE(IsCp949LeadByte('S'));
  EXPECT_FALSE(IsCp949LeadByte(0x80));
  EXPECT_TRUE(IsCp949LeadByte(0x81));
  EXPECT_TRUE(IsCp949LeadByte(0xB0));
  EXPECT_TRUE(IsCp949LeadByte(0xFE));
  EXPECT_FALSE(IsCp949LeadByte(0xFF));
}

TEST(Cp949, FindNeverMatchesFromTheSecondByteOfACharacter) {
  // 갨 is 0x81 0x53: its trail byte is "S".
  const QByteArray hidden = ToCp949(QStringLiteral("갨")) + "TATUS:1|";
  const struct {
    const char* name;
    QByteArray haystack;
    QByteArray needle;
    qsizetype from;
    qsizetype expected;
  } cases[] = {
      {"key hidden in a character", hidden, "STATUS", 0, -1},
      {"real key after the hidden one", hidden + "STATUS:2|", "STATUS", 0, 10},
      {"ascii key", "MSG:x,STATUS:1|", "STATUS", 0, 6},
      {"second occurrence from", "a|b|", "|", 2, 3},
      {"from at the match", "a|b|", "|", 1, 1},
      {"from inside a character", "\xb0\xa1|", "|", 1, 2},
      {"from inside a character, trail matches", "\xb0\xa1\xa1", "\xa1", 1, 2},
      {"odd run of lead bytes swallows the S", "\x81\x81\x81STATUS", "STATUS", 0, -1},
      {"even run of lead bytes leaves it", "\x81\x81\x81\x81STATUS", "STATUS", 0, 4},
      {"match inside a run of pairs", "\x81\xa1\x81\xa1", "\xa1\x81", 0, -1},
      {"run of pairs after ASCII", "x\xb0\xa1\xb0\xa1\xa1", "\xa1", 2, 5},
      {"run of pairs after a trail byte", "\x81S\xb0\xa1S", "S", 0, 4},
      {"lead byte at the end stands alone", "a\x81", "\x81", 0, 1},
      {"lead byte before a non-trail byte stands alone", "\x81|", "|", 0, 1},
      {"needle longer than haystack", "ST", "STATUS", 0, -1},
      {"empty needle", "abc", "", 0, 0},
      {"empty needle from inside a character", "\xb0\xa1", "", 1, 2},
      {"empty needle at the end", "abc", "", 3, 3},
      {"from past the end", "abc", "", 4, -1},
      {"negative from", "abc", "a", -5, 0},
      {"empty haystack", "", "a", 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Cp949Find(c.haystack, c.needle, c.from), c.expected);
  }
}

}  // namespace
