#include <gtest/gtest.h>

#include <cstring>

#include "core/relay/callnotice.h"

namespace {

QByteArray CallerIdBytes(const CallNotice& notice) {
  return QByteArray(notice.callerId, sizeof(notice.callerId));
}

TEST(CallNotice, CallerIdIsCutTo11BytesAndZeroFilled) {
  const struct {
    const char* name;
    QByteArray callerId;
    QByteArray field;
  } cases[] = {
      {"typical", "0212345678", QByteArray::fromHex("303231323334353637380000")},
      {"empty", "", QByteArray(12, '\0')},
      {"11 bytes", "01012345678", QByteArray("01012345678") + '\0'},
      {"12 bytes", "010123456789", QByteArray("01012345678") + '\0'},
      {"long", QByteArray(5000, '9'), QByteArray(11, '9') + '\0'},
      {"stops at a NUL",
       QByteArray("012\0"
                  "999",
                  7),
       QByteArray("012") + QByteArray(9, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CallNotice notice = MakeCallNotice(123, 4567, c.callerId, kCallStateRinging);
    EXPECT_EQ(CallerIdBytes(notice), c.field);
    EXPECT_EQ(CallerIdText(notice), c.field.left(c.field.indexOf('\0')));
  }
}

TEST(CallNotice, EncodingIsLittleEndianWhateverTheHost) {
  const CallNotice notice = MakeCallNotice(-2, 0x01020304, "0212345678", kCallStateAnswer);
  EXPECT_EQ(EncodeCallNotice(notice), QByteArray::fromHex("feffffff"
                                                          "04030201"
                                                          "303231323334353637380000"
                                                          "01000000"));
  EXPECT_EQ(EncodeCallNotice(MakeCallNotice(0, 0, "", 0)), QByteArray(kCallNoticeSize, '\0'));
}

TEST(CallNotice, DecodingReadsBackWhatWasEncoded) {
  const CallNotice notice = MakeCallNotice(-2, 0x01020304, "0212345678", kCallStateAnswer);
  const CallNotice decoded = DecodeCallNotice(EncodeCallNotice(notice));
  EXPECT_EQ(decoded.accountExt, -2);
  EXPECT_EQ(decoded.inExten, 0x01020304);
  EXPECT_EQ(CallerIdBytes(decoded), CallerIdBytes(notice));
  EXPECT_EQ(decoded.state, kCallStateAnswer);

  // A short record reads as if padded with zeros.
  const CallNotice cut = DecodeCallNotice(EncodeCallNotice(notice).left(6));
  EXPECT_EQ(cut.accountExt, -2);
  EXPECT_EQ(cut.inExten, 0x0304);
  EXPECT_EQ(CallerIdBytes(cut), QByteArray(12, '\0'));
  EXPECT_EQ(DecodeCallNotice({}).state, 0);
}

TEST(CallNotice, CallerIdTextReadsAtMostTheField) {
  CallNotice notice;
  std::memset(notice.callerId, '7', sizeof(notice.callerId));
  EXPECT_EQ(CallerIdText(notice), QByteArray(12, '7'));
  EXPECT_EQ(EncodeCallNotice(notice).mid(8, 12), QByteArray(12, '7'));
}

}  // namespace
