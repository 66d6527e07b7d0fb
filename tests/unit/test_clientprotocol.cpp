#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "core/relay/clientprotocol.h"

namespace {

constexpr qint32 kMin = std::numeric_limits<qint32>::min();
constexpr qint32 kMax = std::numeric_limits<qint32>::max();

TEST(ClientProtocol, GreetingIsTheFixedCp949Line) {
  EXPECT_EQ(GreetingText(), QByteArray::fromHex("3d3d3d3d3d3d3d3d3d3d3d3d204f7276616e61205461727665"
                                                "78b7ce20c1a2bcd320b5c7befabdc0b4cfb4d92e203d3d3d3d"
                                                "3d3d3d3d3d3d3d3d0a"));
}

TEST(ClientProtocol, RegisterAckIsFourBytes) {
  EXPECT_EQ(RegisterAck(), QByteArray::fromHex("1155fe00"));
}

TEST(ClientProtocol, ReceivedTextEndsAtTheFirstNul) {
  EXPECT_EQ(ReceivedText(""), "");
  EXPECT_EQ(ReceivedText("  42\r\n"), "  42\r\n");
  EXPECT_EQ(ReceivedText(QByteArray("123\0"
                                    "456",
                                    7)),
            "123");
  EXPECT_EQ(ReceivedText(QByteArray(3, '\0')), "");
}

TEST(ClientProtocol, LeadingIntReadsLikeAtoi) {
  const struct {
    QByteArray text;
    qint32 expected;
  } cases[] = {
      {"", 0},
      {"0", 0},
      {"abc", 0},
      {"   ", 0},
      {"  42", 42},
      {"\t\n\v\f\r7x", 7},
      {"12,15", 12},
      {"-12", -12},
      {"+5", 5},
      {"- 5", 0},
      {"--5", 0},
      {"301\r\n", 301},
      {"\x81\x53"
       "5",
       0},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"99999999999999999999999999", kMax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    EXPECT_EQ(LeadingInt(c.text), c.expected);
  }
}

TEST(ClientProtocol, RegistrationTextIsCutTo99Bytes) {
  EXPECT_EQ(CutRegistrationText(""), "");
  EXPECT_EQ(CutRegistrationText(QByteArray(99, '1')), QByteArray(99, '1'));
  EXPECT_EQ(CutRegistrationText(QByteArray(100, '1')), QByteArray(99, '1'));
  EXPECT_EQ(CutRegistrationText(QByteArray(4095, '2')), QByteArray(99, '2'));
  // A short text read into a large buffer keeps none of it.
  QByteArray read(4095, '\0');
  read.resize(3);
  EXPECT_LT(CutRegistrationText(read).capacity(), 64);
}

TEST(ClientProtocol, LdkLinesPadTheLastThreeDigits) {
  const struct {
    qint32 inExten;
    QByteArray head;
  } cases[] = {
      {7, "007"},    {45, "045"},     {1234, "234"},  {1005, "005"}, {-5, "00-5"},
      {4567, "567"}, {0, "000"},      {9, "009"},     {10, "010"},   {99, "099"},
      {100, "100"},  {-1005, "00-5"}, {-45, "00-45"}, {kMax, "647"}, {kMin, "00-648"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inExten);
    const CallNotice notice = MakeCallNotice(123, c.inExten, "0212345678", kCallStateRinging);
    EXPECT_EQ(LdkRingLine(notice), "\x07" + c.head + " : 0212345678\n");
    EXPECT_EQ(LdkNoticeLine(notice), "\x06\x06" + c.head + " : 0212345678 ->  123\n");
  }
}

TEST(ClientProtocol, LdkLinesTakeTheCallerIdUpToItsNul) {
  CallNotice notice = MakeCallNotice(-7, 12, "", kCallStateAnswer);
  EXPECT_EQ(LdkRingLine(notice),
            "\x07"
            "012 : \n");
  EXPECT_EQ(LdkNoticeLine(notice),
            "\x06\x06"
            "012 :  ->  -7\n");
  std::memset(notice.callerId, '8', sizeof(notice.callerId));
  EXPECT_EQ(LdkRingLine(notice),
            "\x07"
            "012 : " +
                QByteArray(12, '8') + "\n");
}

TEST(ClientProtocol, NoticeColumnJoinsAccountAndInboundExtension) {
  EXPECT_EQ(NoticeColumnText(MakeCallNotice(123, 4567, "", 0)), "123-4567");
  EXPECT_EQ(NoticeColumnText(MakeCallNotice(-1, -5, "", 0)), "-1--5");
  EXPECT_EQ(NoticeColumnText(MakeCallNotice(kMin, kMax, "", 1)), "-2147483648-2147483647");
}

}  // namespace
