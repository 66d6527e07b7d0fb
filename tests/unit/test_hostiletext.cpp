#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/telephony/storedaddress.h"
#include "core/text/cp949.h"
#include "core/text/eventtext.h"

// Texts from the telephony server and from clients are not trusted: whatever
// they hold, the parsers stay inside the bytes they were given and keep their invariants.
namespace {

constexpr int kRandomInputs = 3000;

class RandomText {
 public:
  QByteArray Bytes(int maxLength) {
    // Half the bytes come from those the parsers look at, so that random texts
    // often hold keys, terminators, lead bytes and digits (and the literal's NUL).
    static constexpr char kInteresting[] = "|,-).+ :STAUMSG0123456789\x81\xb0\xa1\xfe\x80\xff";
    QByteArray text(Below(maxLength + 1), '\0');
    for (char& c : text) {
      c = Below(2) ? kInteresting[Below(sizeof(kInteresting))] : char(Below(256));
    }
    return text;
  }

  QString Utf16(int maxLength) {
    QString text(Below(maxLength + 1), QChar());
    for (QChar& c : text) c = QChar(char16_t(Below(0x10000)));
    return text;
  }

  int Below(qsizetype bound) {
    return std::uniform_int_distribution<int>(0, int(bound) - 1)(m_engine);
  }

 private:
  std::mt19937 m_engine{20261206};
};

bool IsTrail(unsigned char b) {
  return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE);
}

// Plain walk over every character start; the search under test skips ahead with indexOf.
qsizetype ReferenceFind(const QByteArray& haystack, const QByteArray& needle, qsizetype from) {
  qsizetype step = 1;
  for (qsizetype i = 0; i <= haystack.size(); i += step) {
    const bool pair =
        i + 1 < haystack.size() && IsCp949LeadByte(haystack.at(i)) && IsTrail(haystack.at(i + 1));
    step = pair ? 2 : 1;
    if (i >= from && QByteArrayView(haystack).sliced(i).startsWith(needle)) return i;
  }
  return -1;
}

TEST(HostileText, RandomBytesKeepEveryParserInBounds) {
  RandomText random;
  const QByteArray keys[] = {"STATUS", "MSG", "CALLERID", "CHANNEL1:SIP/", ""};
  for (int i = 0; i < kRandomInputs; ++i) {
    const QByteArray text = random.Bytes(80);
    SCOPED_TRACE(text.toHex().toStdString());

    const QByteArray key = random.Below(4) ? keys[random.Below(5)] : random.Bytes(3);
    const char terminator = random.Below(2) ? '|' : char(random.Below(256));
    const QByteArray field = GetEventField(text, key, random.Below(6) - 2, terminator);
    EXPECT_TRUE(text.contains(field));

    const QByteArray needle =
        random.Below(2) ? random.Bytes(3) : text.mid(random.Below(text.size() + 1), 2);
    const qsizetype from = random.Below(text.size() + 5) - 2;
    EXPECT_EQ(Cp949Find(text, needle, from), ReferenceFind(text, needle, from));

    EXPECT_LE(FromCp949(text).size(), text.size());

    for (int part : ParseStoredAddress(text)) {
      EXPECT_GE(part, 0);
      EXPECT_LE(part, 255);
    }
    // Their arithmetic is watched by the undefined-behaviour sanitizer.
    ParseLooseInt(text);
    LeadingInt(text);

    const QByteArray received = ReceivedText(text);
    EXPECT_TRUE(text.startsWith(received));
    EXPECT_FALSE(received.contains('\0'));

    const CallNotice notice = MakeCallNotice(random.Below(2000) - 1000, random.Below(20000) - 10000,
                                             text, kCallStateRinging);
    const QByteArray callerId = CallerIdText(notice);
    EXPECT_LE(callerId.size(), 11);
    EXPECT_TRUE(text.startsWith(callerId));
    EXPECT_EQ(EncodeCallNotice(notice).mid(8 + callerId.size(), 12 - callerId.size()),
              QByteArray(12 - callerId.size(), '\0'));
    EXPECT_TRUE(LdkRingLine(notice).endsWith(" : " + callerId + '\n'));
  }
}

TEST(HostileText, NumbersSurviveFormattingAndParsing) {
  std::mt19937 engine(7);
  std::uniform_int_distribution<qint32> any(std::numeric_limits<qint32>::min(),
                                            std::numeric_limits<qint32>::max());
  for (int i = 0; i < kRandomInputs; ++i) {
    const qint32 value = any(engine);
    EXPECT_EQ(ParseLooseInt(QByteArray::number(value)), value);
    EXPECT_EQ(LeadingInt(QByteArray::number(value)), value);
  }
}

TEST(HostileText, EncoderOnlyEmitsValidCp949) {
  RandomText random;
  for (int i = 0; i < kRandomInputs; ++i) {
    const QString text = random.Utf16(40);
    const QByteArray bytes = ToCp949(text);
    EXPECT_LE(bytes.size(), 2 * text.size());
    const QString back = FromCp949(bytes);
    EXPECT_LE(back.size(), text.size());
    EXPECT_FALSE(back.contains(QChar(0xFFFD)));
  }
}

TEST(HostileText, EveryHangulSyllableRoundTrips) {
  QString syllables;
  for (char16_t c = 0xAC00; c <= 0xD7A3; ++c) syllables.append(QChar(c));
  const QByteArray bytes = ToCp949(syllables);
  EXPECT_EQ(bytes.size(), 2 * syllables.size());
  EXPECT_EQ(FromCp949(bytes), syllables);
}

TEST(HostileText, MegabyteTextsAreReadToTheEnd) {
  const qsizetype megabytes = 2 << 20;
  EXPECT_EQ(GetEventField(QByteArray(megabytes, 'x') + "STATUS:1|", "STATUS", 1, '|'), "1");
  EXPECT_EQ(GetEventField(QByteArray(megabytes, '|') + "MSG:7", "MSG", 1, '|'), "");
  EXPECT_EQ(GetEventField("CALLERID:" + QByteArray(megabytes, '5'), "CALLERID", 1, '|'), "");
  // A run of lead bytes pairs up from its start: an odd run swallows the "S".
  EXPECT_EQ(GetEventField(QByteArray(megabytes, '\x81') + "STATUS:7|", "STATUS", 1, '|'), "7");
  EXPECT_EQ(GetEventField(QByteArray(megabytes + 1, '\x81') + "STATUS:7|", "STATUS", 1, '|'), "");
  // Every match sits on a second byte: each must be rejected without rewalking the text.
  EXPECT_EQ(Cp949Find(QByteArray("\x81\xa1").repeated(megabytes / 2), "\xa1\x81"), -1);

  EXPECT_EQ(ParseLooseInt(QByteArray(megabytes, '9')), std::numeric_limits<qint32>::max());
  EXPECT_EQ(ParseLooseInt(QByteArray(megabytes, '-')), 0);
  EXPECT_EQ(LeadingInt(QByteArray(megabytes, ' ') + "-12"), -12);
  EXPECT_EQ(ParseStoredAddress(QByteArray(megabytes, '.')), (AddressFields{0, 0, 0, 0}));
  EXPECT_EQ(ParseStoredAddress(QByteArray(megabytes, '1') + ".2.3.4"),
            (AddressFields{255, 2, 3, 4}));
}

TEST(HostileText, MegabytesOfInvalidCharactersConvert) {
  const qsizetype size = 1 << 20;
  EXPECT_EQ(FromCp949(QByteArray(size, '\x80')), QString(size, QChar(0xFFFD)));
  QString emoji;
  for (qsizetype i = 0; i < size; ++i) emoji.append(QChar(0xD83D)).append(QChar(0xDE00));
  EXPECT_EQ(ToCp949(emoji), QByteArray(size, '?'));
}

}  // namespace
