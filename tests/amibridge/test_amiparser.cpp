// The AMI block parser on well-formed, odd and hostile streams, read whole
// and one byte at a time.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <utility>

#include "tools/amibridge/amiparser.h"

namespace {

using Headers = QList<std::pair<QByteArray, QByteArray>>;

struct ParseCase {
  const char* name;
  QByteArray stream;
  qsizetype maxBlockBytes;
  QList<Headers> expected;
  int dropped;
};

QList<Headers> Parse(AmiParser& parser, const QByteArray& stream, bool bytewise) {
  QList<AmiMessage> messages;
  if (bytewise) {
    for (char c : stream) messages += parser.Feed(QByteArrayView(&c, 1));
  } else {
    messages = parser.Feed(stream);
  }
  QList<Headers> headers;
  for (const AmiMessage& message : messages) headers.append(message.Headers());
  return headers;
}

TEST(AmiParser, CutsStreamsIntoMessages) {
  const QByteArray big(200, 'x');
  const QList<ParseCase> cases = {
      {"greeting then a response",
       "Asterisk Call Manager/9.0.0\r\nResponse: Success\r\n\r\n",
       kAmiMaxBlockBytes,
       {{{"Response", "Success"}}},
       0},
      {"bare LF line ends",
       "AMI\nEvent: Ping\nA: 1\n\n",
       kAmiMaxBlockBytes,
       {{{"Event", "Ping"}, {"A", "1"}}},
       0},
      {"value keeps colons, tabs, NUL and invalid UTF-8; only one leading space goes",
       QByteArray("AMI\r\nK:  a:b\tc\0\xff\r\nE:\r\n\r\n", 24),
       kAmiMaxBlockBytes,
       {{{"K", QByteArray(" a:b\tc\0\xff", 8)}, {"E", ""}}},
       0},
      {"a line without colon is skipped, the block kept",
       "AMI\r\n--END COMMAND--\r\nEvent: X\r\n\r\n",
       kAmiMaxBlockBytes,
       {{{"Event", "X"}}},
       0},
      {"a line with nothing before its colon has no key",
       "AMI\r\n: nothing\r\n \t: x\r\nA: 1\r\n\r\n",
       kAmiMaxBlockBytes,
       {{{"A", "1"}}},
       0},
      {"runs of empty lines make no empty messages",
       "AMI\r\n\r\n\r\nA: 1\r\n\r\n\r\n\r\n",
       kAmiMaxBlockBytes,
       {{{"A", "1"}}},
       0},
      {"a block cut off by the end of the stream is not given out",
       "AMI\r\nA: 1\r\nB: 2\r\n",
       kAmiMaxBlockBytes,
       {},
       0},
      {"an oversized block is dropped whole, the next one read",
       "AMI\r\nA: 1\r\nBig: " + big + "\r\nC: 3\r\n\r\nD: 4\r\n\r\n",
       64,
       {{{"D", "4"}}},
       1},
      {"an oversized line that never ends drops its block",
       "AMI\r\nA: 1\r\nBig: " + big,
       64,
       {},
       1},
      {"a block just at the bound is kept",
       "AMI\r\nK: 12345678\r\nL: 1\r\n\r\n",
       15,
       {{{"K", "12345678"}, {"L", "1"}}},
       0},
      {"one byte more is dropped",
       "AMI\r\nK: 12345678\r\nL: 12\r\n\r\nM: 1\r\n\r\n",
       15,
       {{{"M", "1"}}},
       1},
      {"a dropped block's CR-only end line ends it",
       "AMI\r\nBig: " + big + "\r\n\r\nE: 1\r\n\r\n",
       64,
       {{{"E", "1"}}},
       1},
      {"two oversized blocks in a row",
       "AMI\r\nX: " + big + "\r\n\r\nY: " + big + "\r\n\r\n",
       64,
       {},
       2},
  };
  for (const ParseCase& c : cases) {
    for (bool bytewise : {false, true}) {
      AmiParser parser(c.maxBlockBytes);
      EXPECT_EQ(Parse(parser, c.stream, bytewise), c.expected)
          << c.name << (bytewise ? " (byte by byte)" : "");
      EXPECT_EQ(parser.TakeDroppedBlocks(), c.dropped) << c.name;
      EXPECT_EQ(parser.TakeDroppedBlocks(), 0) << c.name;
    }
  }
}

TEST(AmiParser, FirstLineIsTheGreetingAgainAfterReset) {
  AmiParser parser;
  EXPECT_TRUE(parser.Feed("Asterisk Call Manager/9.0.0\r\nA: 1\r\n").isEmpty());
  EXPECT_EQ(parser.Greeting(), "Asterisk Call Manager/9.0.0");
  parser.Reset();
  EXPECT_TRUE(parser.Greeting().isEmpty());
  // The half block before the reset is gone; "A: 2" is now the greeting.
  const QList<AmiMessage> messages = parser.Feed("A: 2\r\nB: 3\r\n\r\n");
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0].Headers(), (Headers{{"B", "3"}}));
}

TEST(AmiMessage, LooksUpKeysWhateverTheirCaseAndWritesOneLinePerHeader) {
  AmiMessage message;
  message.Append("ActionID", "1");
  message.Append("Variable", "a=1");
  message.Append("variable", "b=2");
  EXPECT_EQ(message.Value("actionid"), "1");
  EXPECT_EQ(message.Value("VARIABLE"), "a=1");
  EXPECT_TRUE(message.Value("Missing").isEmpty());
  EXPECT_FALSE(message.Has("Missing"));
  // A line break in a value must not end the block or start a forged header.
  message.Append("Secret", "x\r\n\r\nAction: Originate");
  const QByteArray bytes = message.Encode();
  EXPECT_EQ(bytes.count("\r\n\r\n"), 1);
  EXPECT_TRUE(bytes.endsWith("\r\n\r\n"));
  AmiParser parser;
  const QList<AmiMessage> back = parser.Feed("AMI\r\n" + bytes);
  ASSERT_EQ(back.size(), 1);
  EXPECT_EQ(back[0].Headers().size(), 4);
  EXPECT_FALSE(back[0].Has("Action"));
}

}  // namespace
