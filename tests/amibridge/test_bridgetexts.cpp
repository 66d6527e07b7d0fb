// The texts the relay gets, the channel names it reads, which account a
// channel is, and the settings file.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "amicalls.h"
#include "core/text/eventtext.h"
#include "support/qtprint.h"
#include "tools/amibridge/agentdirectory.h"
#include "tools/amibridge/bridgesettings.h"
#include "tools/amibridge/eventtexts.h"

namespace {

using Kind = AgentEvent::Kind;

AgentEvent Event(Kind kind, const QByteArray& caller, const QByteArray& inExten,
                 const QByteArray& peer = {}, bool outgoing = false, const QByteArray& name = {}) {
  return MakeAgentEvent(kind, QStringLiteral("agent1"), "1700000000.8", caller, name, inExten, peer,
                        outgoing);
}

TEST(EventTexts, SayWhatTheRelayReads) {
  const QString number = QStringLiteral("07012345301");
  struct Case {
    const char* name;
    AgentEvent event;
    QString eventName;
    QString text;
  };
  const QList<Case> cases = {
      {"inbound ring", Event(Kind::Ring, "01012345678", "07077771234"), "Ring",
       "EVENT:RING|UNIQUEID:1700000000.8|ISDIAL:0|CALLERID:01012345678|INEXTEN:07077771234|"},
      {"name after every field the relay reads",
       Event(Kind::Ring, "01012345678", "07077771234", {}, false, "홍길동"), "Ring",
       "EVENT:RING|UNIQUEID:1700000000.8|ISDIAL:0|CALLERID:01012345678|INEXTEN:07077771234|"
       "CALLERNAME:홍길동|"},
      {"a call the agent places rings with ISDIAL 1", Event(Kind::Ring, {}, {}, {}, true), "Ring",
       "EVENT:RING|UNIQUEID:1700000000.8|ISDIAL:1|CALLERID:|INEXTEN:|"},
      {"answer names the caller's channel as SIP",
       Event(Kind::Answer, "01012345678", "07077771234", "PJSIP/trunk-0000001a"), "HangUp",
       "EVENT:HANGUP|UNIQUEID:1700000000.8|CHANNEL1:SIP/trunk-0000001a|CALLER1ID:01012345678|"
       "INEXTEN:07077771234|"},
      {"answer of a call the agent placed names the agent's own number",
       Event(Kind::Answer, "0212345678", "0212345678", "PJSIP/301-0000001b", true), "HangUp",
       "EVENT:HANGUP|UNIQUEID:1700000000.8|CHANNEL1:SIP/07012345301-0000001b|"
       "CALLER1ID:0212345678|INEXTEN:0212345678|"},
      {"unknown numbers are empty, not <unknown>",
       Event(Kind::Ring, "<unknown>", "s", {}, false, "<unknown>"), "Ring",
       "EVENT:RING|UNIQUEID:1700000000.8|ISDIAL:0|CALLERID:|INEXTEN:s|"},
      {"a bar in a value cannot end a field early",
       Event(Kind::Ring, "010|ISDIAL:1", "07|X", {}, false, "a|b"), "Ring",
       "EVENT:RING|UNIQUEID:1700000000.8|ISDIAL:0|CALLERID:010 ISDIAL:1|INEXTEN:07 X|"
       "CALLERNAME:a b|"},
      {"call end", Event(Kind::End, "010", "070"), "CallEnd",
       "EVENT:CALLEND|UNIQUEID:1700000000.8|CAUSE:16|"},
  };
  for (const Case& c : cases) {
    const auto [name, text] = AgentEventText(c.event, number);
    EXPECT_EQ(name, c.eventName) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
  }
}

TEST(EventTexts, TheJournalLeavesTheCallerOut) {
  const QList<std::pair<QString, QString>> cases = {
      {"EVENT:RING|UNIQUEID:1.2|ISDIAL:0|CALLERID:0101234|INEXTEN:0707|CALLERNAME:홍길동|",
       "EVENT:RING|UNIQUEID:1.2|ISDIAL:0|CALLERID:*|INEXTEN:0707|CALLERNAME:*|"},
      {"EVENT:HANGUP|UNIQUEID:1.2|CHANNEL1:SIP/trunk-1|CALLER1ID:0101234|INEXTEN:0707|",
       "EVENT:HANGUP|UNIQUEID:1.2|CHANNEL1:SIP/trunk-1|CALLER1ID:*|INEXTEN:0707|"},
  };
  for (const auto& [text, journal] : cases) EXPECT_EQ(JournalEventText(text), journal);
}

TEST(EventTexts, ACallIdCannotCarryAField) {
  AgentEvent event = Event(Kind::Ring, "010", "070");
  event.callId = "1.2|ISDIAL:1|CALLERID:666|";
  const QByteArray text = AgentEventText(event, QStringLiteral("301")).second.toUtf8();
  EXPECT_EQ(GetEventField(text, "ISDIAL", 1, '|'), "0");
  EXPECT_EQ(GetEventField(text, "CALLERID", 1, '|'), "010");
}

TEST(RelayChannel, NormalisesEveryTechnologyAndNeverPosesAsTheAgent) {
  struct Case {
    QByteArray channel;
    QString extension;
    QString peer;
    QString serial;
  };
  const QList<Case> cases = {
      {"SIP/trunk-0000001a", "301", "trunk", "0000001a"},
      {"PJSIP/kt-trunk-0000001a", "301", "kt_trunk", "0000001a"},
      {"Local/01012345678@callers-00000004;1", "301", "01012345678@callers", "00000004;1"},
      {"DAHDI/i1/0212345678-5", "301", "i1/0212345678", "5"},
      // An outside peer ending in the agent's extension would read as the agent's own call.
      {"PJSIP/7301-00000001", "07012345301", "trunk", "00000001"},
      {"PJSIP/7301-00000001", "302", "7301", "00000001"},
      {"", "301", "trunk", "0"},
      {"IAX2|x", "301", "IAX2_x", "0"},
  };
  for (const Case& c : cases) {
    const auto [peer, serial] = RelayChannel(c.channel, c.extension);
    EXPECT_EQ(peer, c.peer) << c.channel.toStdString();
    EXPECT_EQ(serial, c.serial) << c.channel.toStdString();
  }
}

TEST(AgentDirectory, FindsTheAccountOfAChannel) {
  AgentDirectory agents;
  agents.Add(QStringLiteral("a1"), QStringLiteral("301"),
             {QStringLiteral("PJSIP/301"), QStringLiteral(" SIP/301 ")});
  agents.Add(QStringLiteral("a2"), QStringLiteral("302"), {QStringLiteral("Local/3?2@agents")});
  agents.Add(QStringLiteral("all"), QStringLiteral("399"), {QStringLiteral("PJSIP/3*")});
  agents.Add(QStringLiteral("local"), QStringLiteral("400"), {QStringLiteral("Local/4*@*agents")});
  const QList<std::pair<QByteArray, QString>> cases = {
      {"PJSIP/301-0000002a", "a1"},
      {"SIP/301-0000002a", "a1"},
      {"pjsip/301-0000002a", "a1"},
      {"PJSIP/3010-0000002a", "all"},
      {"Local/302@agents-0000001f;2", "a2"},
      {"Local/312@agents-0000001f;1", "a2"},
      {"Local/302@agentsx-0000001f;1", ""},
      {"PJSIP/401-00000001", ""},
      // A star gives back what it took when the rest does not match.
      {"Local/401@x@agents-00000001;1", "local"},
      {"Local/401@agents-00000001;1", "local"},
      {"Local/401@agentsx-00000001;1", ""},
      {"PJSIP/301", "a1"},
      {"", ""},
  };
  for (const auto& [channel, account] : cases) {
    const AgentDirectory::Agent* agent = agents.AgentOf(channel);
    EXPECT_EQ(agent ? agent->accountId : QString(), account) << channel.toStdString();
  }
  EXPECT_EQ(agents.Find(QStringLiteral("a2"))->number, QStringLiteral("302"));
  EXPECT_EQ(agents.Find(QStringLiteral("none")), nullptr);
}

class BridgeSettingsTest : public testing::Test {
 protected:
  std::optional<BridgeSettings> Load(const QByteArray& ini) {
    const QString path = dir.filePath(QStringLiteral("amibridge.conf"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(ini);
    file.close();
    return LoadBridgeSettings(path, &error);
  }
  QTemporaryDir dir;
  QString error;
};

const QByteArray kAmi = "[ami]\nhost=10.0.0.5\nport=5039\nuser=tarvex\nsecret=s3cret\n";

TEST_F(BridgeSettingsTest, ReadsTheAmiLinkAndTheAccounts) {
  const auto settings =
      Load(kAmi +
           "ping_seconds=5\nmax_retry_seconds=30\n"
           "[server]\nlisten=0.0.0.0\nport=7051\n"
           "[account.agent1]\npassword=pw1\nnumber=07012345301\n"
           "endpoints=PJSIP/301, SIP/301\n"
           "[account.agent2]\npassword=pw2\nnumber=302\nendpoints=Local/302@agents\n");
  ASSERT_TRUE(settings) << error;
  EXPECT_EQ(settings->ami.host, QStringLiteral("10.0.0.5"));
  EXPECT_EQ(settings->ami.port, 5039);
  EXPECT_EQ(settings->ami.user, "tarvex");
  EXPECT_EQ(settings->ami.secret, "s3cret");
  EXPECT_EQ(settings->timing.pingIntervalMs, 5000);
  EXPECT_EQ(settings->timing.maxRetryMs, 30000);
  EXPECT_EQ(settings->timing.firstRetryMs, AmiTiming().firstRetryMs);
  EXPECT_EQ(settings->listenAddress, QHostAddress(QHostAddress::AnyIPv4));
  EXPECT_EQ(settings->listenPort, 7051);
  ASSERT_EQ(settings->accounts.size(), 2);
  EXPECT_EQ(settings->accounts[0].account.id, QStringLiteral("agent1"));
  EXPECT_EQ(settings->accounts[0].account.password, QStringLiteral("pw1"));
  EXPECT_EQ(settings->accounts[0].account.number, QStringLiteral("07012345301"));
  EXPECT_EQ(settings->accounts[0].endpoints,
            (QStringList{QStringLiteral("PJSIP/301"), QStringLiteral("SIP/301")}));
  EXPECT_EQ(settings->accounts[1].endpoints, QStringList{QStringLiteral("Local/302@agents")});
}

TEST_F(BridgeSettingsTest, TheSampleShippedWithThePackageLoads) {
  const auto settings =
      LoadBridgeSettings(QStringLiteral(TARVEX_SOURCE_DIR "/packaging/amibridge.conf"), &error);
  ASSERT_TRUE(settings) << error;
  EXPECT_EQ(settings->ami.user, "tarvex");
  EXPECT_EQ(settings->listenPort, 7050);
  ASSERT_EQ(settings->accounts.size(), 2);
  EXPECT_EQ(settings->accounts[0].endpoints,
            (QStringList{QStringLiteral("PJSIP/301"), QStringLiteral("SIP/301")}));
}

TEST_F(BridgeSettingsTest, RefusesWhatWouldMisleadTheRelay) {
  const QByteArray account = "[account.a]\npassword=p\nnumber=301\nendpoints=PJSIP/301\n";
  const QList<std::pair<const char*, QByteArray>> cases = {
      {"no AMI user", "[ami]\nhost=h\n" + account},
      {"port out of range", kAmi + "[server]\nport=70000\n" + account},
      {"port not a number", "[ami]\nuser=u\nport=x\n" + account},
      {"ping of no seconds", "[ami]\nuser=u\nping_seconds=0\n" + account},
      {"first wait longer than the most",
       "[ami]\nuser=u\nfirst_retry_seconds=9\nmax_retry_seconds=2\n" + account},
      {"listen address not an address", kAmi + "[server]\nlisten=somewhere\n" + account},
      {"no account", kAmi},
      {"account without endpoints", kAmi + "[account.a]\npassword=p\nnumber=301\n"},
      {"account without number", kAmi + "[account.a]\npassword=p\nendpoints=PJSIP/301\n"},
      // The relay reads the extension up to the first "," of the sign-in answer.
      {"number with a comma", kAmi + "[account.a]\nnumber=\"3,01\"\nendpoints=PJSIP/301\n"},
      {"number with a bar", kAmi + "[account.a]\nnumber=3|01\nendpoints=PJSIP/301\n"},
      {"account without password", kAmi + "[account.a]\nnumber=301\nendpoints=PJSIP/301\n"},
      {"plain secret flag malformed", "[ami]\nuser=u\nallow_plain_secret=maybe\n" + account},
      {"caller logging flag malformed", kAmi + "[server]\nlog_callers=2\n" + account},
  };
  for (const auto& [name, ini] : cases) {
    error.clear();
    EXPECT_FALSE(Load(ini)) << name;
    EXPECT_FALSE(error.isEmpty()) << name;
  }
  EXPECT_FALSE(LoadBridgeSettings(dir.filePath(QStringLiteral("missing.conf")), &error));
}

}  // namespace
