// Real calls on a real Asterisk, through the bridge program, to the real
// relay, its clients and its call database. Skipped, with the reason, when
// the Asterisk snapshot is not beside the checkout (never under CI).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <memory>

#include "asteriskpbx.h"
#include "bridgeprocess.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "support/failurelog.h"
#include "support/postgrescluster.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"

namespace {

constexpr int kCenterId = 7;
const QByteArray kDid = "07077771234";
const QByteArray kQueueDid = "07077775555";

// What one client, the relay's activity and the database got since a mark.
struct Mark {
  QList<qsizetype> clientBytes;
  qsizetype relayOutput = 0;
  qsizetype bridgeOutput = 0;
  qsizetype rows = 0;
  qsizetype pbxEvents = 0;
  qsizetype pbxLog = 0;
};

class PbxTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const AsteriskPbx::Install install = AsteriskPbx::Build();
    if (install.prefix.isEmpty()) {
      skipReason = install.reason;
      // A checkout without the snapshot skips; CI always has it.
      mustRun = !qEnvironmentVariableIsEmpty("CI") || !install.snapshotMissing;
      return;
    }
    cluster = new PostgresCluster;
    if (!cluster->Start()) {
      setupError = cluster->LastError();
      return;
    }
    pbx = new AsteriskPbx(install.prefix);
    if (!pbx->Start(&setupError)) return;
    StartBridge();
    if (!setupError.isEmpty()) return;
    StartRelay();
  }

  static void TearDownTestSuite() {
    clients.clear();
    if (relay) {
      relay->Signal(SIGTERM);
      relay->WaitFinished();
    }
    relay.reset();
    bridge.reset();
    delete pbx;
    pbx = nullptr;
    delete cluster;
    cluster = nullptr;
  }

  void SetUp() override {
    if (!skipReason.isEmpty()) {
      if (mustRun) FAIL() << skipReason.toStdString();
      GTEST_SKIP() << skipReason.toStdString();
    }
    ASSERT_TRUE(setupError.isEmpty()) << setupError.toStdString();
    // Every agent idle, every phone left to answer as the case says.
    for (int n = 1; n <= 3; ++n) SetAnswerDelay(n, {});
    caseStart = Now();
  }

  // A failing case shows what the relay, the bridge and the PBX did in it.
  void TearDown() override {
    if (!HasFailure()) return;
    if (relay) {
      PrintLogTail(QStringLiteral("the relay's standard error in this case"),
                   relay->StandardError().mid(caseStart.relayOutput).toUtf8());
    }
    if (bridge) {
      PrintLogTail(QStringLiteral("the bridge's log in this case"),
                   bridge->Output().mid(caseStart.bridgeOutput));
    }
    if (pbx) {
      PrintLogTail(QStringLiteral("Asterisk's log in this case"), pbx->Log().mid(caseStart.pbxLog),
                   200);
    }
  }

  static void StartBridge() {
    bridge = std::make_unique<BridgeProcess>(pbx->ManagerPort(), AsteriskPbx::kBridgeUser,
                                             AsteriskPbx::kBridgeSecret);
    bridge->Start(&setupError);
  }

  static void StartRelay() {
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.telPort = bridge->Port();
    relay = std::make_unique<RelayProcess>(options);
    const QString home = relay->options().configHome;
    QDir().mkpath(home + QStringLiteral("/MERVO"));
    QFile settings(home + QStringLiteral("/MERVO/Tarvex.conf"));
    settings.open(QIODevice::WriteOnly);
    QByteArray text =
        "[SETTING]\nSENDTYPE=2\nLOGTYPE=0\nCENTERID=" + QByteArray::number(kCenterId) + "\n";
    for (int n = 1; n <= 3; ++n) {
      text +=
          QStringLiteral("UID%1=agent%1\nPWD%1=secret%1\nSERVERIP%1=127.0.0.1\n").arg(n).toUtf8();
    }
    settings.write(text);
    settings.close();
    if (!relay->Start() || !relay->WaitListening()) {
      setupError = QStringLiteral("the relay did not start: ") + relay->StandardError();
      return;
    }
    for (int n = 1; n <= 3; ++n) {
      if (!relay->WaitForOutput(QStringLiteral("[0]agent%1 - 로그인성공").arg(n), 20000)) {
        setupError = QStringLiteral("agent%1 did not sign in: ").arg(n) + relay->StandardError();
        return;
      }
    }
    // Extension clients for 301, 302, 303, then an LDK505 client.
    for (const QByteArray text : {"301", "302", "303"}) {
      auto client = std::make_unique<TestClient>(relay->options().extPort);
      if (!client->Send(text) || !client->WaitForBytes(RegisterAck().size())) {
        setupError = QStringLiteral("an extension client was not acknowledged");
        return;
      }
      clients.push_back(std::move(client));
    }
    auto ldk = std::make_unique<TestClient>(relay->options().ldkPort);
    if (!ldk->WaitForBytes(GreetingText().size())) {
      setupError = QStringLiteral("the LDK505 client was not greeted");
      return;
    }
    clients.push_back(std::move(ldk));
  }

  static void SetAnswerDelay(int agent, const QByteArray& seconds) {
    EXPECT_TRUE(pbx->Send(AmiAction({{"Action", "Setvar"},
                                     {"Variable", "ANSWER_30" + QByteArray::number(agent)},
                                     {"Value", seconds}})));
  }

  // A caller's phone rings in from outside and dials did.
  static void CallIn(const QByteArray& caller, const QByteArray& name, const QByteArray& did) {
    EXPECT_TRUE(pbx->Send(AmiAction({{"Action", "Originate"},
                                     {"Channel", "Local/" + caller + "@callers/n"},
                                     {"Context", "did"},
                                     {"Exten", did},
                                     {"Priority", "1"},
                                     {"CallerID", "\"" + name + "\" <" + caller + ">"},
                                     {"Async", "true"}})));
  }

  static void HangUpCaller(const QByteArray& caller) {
    EXPECT_TRUE(pbx->Send(
        AmiAction({{"Action", "Hangup"}, {"Channel", "/^Local\\/" + caller + "@callers-.*;2$/"}})));
  }

  static Mark Now() {
    Mark mark;
    for (const auto& client : clients) mark.clientBytes.append(client->Received().size());
    mark.relayOutput = relay->StandardError().size();
    mark.bridgeOutput = bridge->Output().size();
    mark.rows = cluster->Calls().value_or(QList<CallRow>{}).size();
    mark.pbxEvents = pbx->Events().size();
    mark.pbxLog = pbx->Log().size();
    return mark;
  }

  static QByteArray BridgeSince(const Mark& mark) {
    return bridge->Output().mid(mark.bridgeOutput);
  }

  static bool WaitForBridge(const Mark& mark, const QByteArray& text, int count = 1) {
    return bridge->WaitForOutput(mark.bridgeOutput, text, count);
  }

  static bool WaitForRelay(const Mark& mark, const QString& text, int timeoutMs) {
    return WaitUntil([&] { return relay->StandardError().mid(mark.relayOutput).contains(text); },
                     timeoutMs);
  }

  // The events the bridge sent since mark, as "<name> <account>: <text>", the
  // PBX's ids and channel serials masked.
  static QStringList TextsSince(const Mark& mark) {
    static const QRegularExpression sent(QStringLiteral(R"(^(\w+ \w+) \(\d+ connection\(s\)\))"));
    static const QRegularExpression id(QStringLiteral(R"(UNIQUEID:[0-9.]+\|)"));
    static const QRegularExpression serial(QStringLiteral(R"(-[0-9a-f]+(;\d)?\|)"));
    QStringList texts;
    for (QString line : QString::fromUtf8(BridgeSince(mark)).split('\n')) {
      if (!sent.match(line).hasMatch()) continue;
      line.replace(sent, QStringLiteral("\\1"));
      line.replace(id, QStringLiteral("UNIQUEID:*|")).replace(serial, QStringLiteral("-*|"));
      texts.append(line);
    }
    return texts;
  }

  // The call summaries the relay showed since mark, times masked.
  static QStringList SummariesSince(const Mark& mark) {
    static const QRegularExpression time(QStringLiteral(R"(^\d\d:\d\d:\d\d )"));
    QStringList summaries;
    for (QString line : relay->StandardError().mid(mark.relayOutput).split('\n')) {
      if (line.contains(QStringLiteral(" Ring: ")) || line.contains(QStringLiteral(" HangUp: "))) {
        summaries.append(line.replace(time, QStringLiteral("hh:mm:ss ")));
      }
    }
    return summaries;
  }

  // The relay's journal lines of a call, once they have all come: lines go to
  // standard error in one write per pass, and the reader may be behind.
  static void ExpectSummariesSince(const Mark& mark, const QStringList& expected) {
    WaitUntil([&] { return SummariesSince(mark) == expected; }, 15000);
    EXPECT_EQ(SummariesSince(mark), expected);
  }

  // Waits until each client has its expected bytes, then compares them all.
  static void ExpectClients(const Mark& mark, const QList<QByteArray>& expected) {
    for (size_t n = 0; n < clients.size(); ++n) {
      const qsizetype want = mark.clientBytes[qsizetype(n)] + expected[qsizetype(n)].size();
      clients[n]->WaitForBytes(want, 15000);
      EXPECT_EQ(clients[n]->Received().mid(mark.clientBytes[qsizetype(n)]).toHex(' '),
                expected[qsizetype(n)].toHex(' '))
          << "client " << n;
    }
  }

  // The relay's writer records calls in order a moment after their notices:
  // waits for as many rows as expected, then compares them.
  static void ExpectRowsSince(const Mark& mark, const QList<CallRow>& expected) {
    QList<CallRow> rows;
    WaitUntil(
        [&] {
          rows = cluster->Calls().value_or(QList<CallRow>{}).mid(mark.rows);
          return rows.size() >= expected.size();
        },
        15000);
    EXPECT_EQ(rows, expected);
  }

  static QByteArray Record(qint32 ext, const QByteArray& caller, qint32 tail, qint32 state) {
    return EncodeCallNotice(MakeCallNotice(ext, tail, caller, state));
  }
  static QByteArray LdkLines(qint32 ext, const QByteArray& caller, qint32 tail, qint32 state) {
    const CallNotice notice = MakeCallNotice(ext, tail, caller, state);
    return LdkRingLine(notice) + LdkNoticeLine(notice);
  }
  static QString Summary(const char* kind, const QByteArray& caller, const QByteArray& inExten,
                         int ext) {
    return QStringLiteral("hh:mm:ss %1: %2 => %3[%4]")
        .arg(QLatin1String(kind), QString::fromLatin1(caller), QString::fromLatin1(inExten))
        .arg(ext);
  }
  static CallRow Row(const QByteArray& caller, const QByteArray& tail, const QByteArray& ext) {
    return {kCenterId, caller, tail, ext};
  }

  Mark caseStart;

  static inline QString skipReason;
  static inline bool mustRun = false;
  static inline QString setupError;
  static inline PostgresCluster* cluster = nullptr;
  static inline AsteriskPbx* pbx = nullptr;
  static inline std::unique_ptr<BridgeProcess> bridge;
  static inline std::unique_ptr<RelayProcess> relay;
  // Extension clients for 301, 302 and 303, then the LDK505 client.
  static inline std::vector<std::unique_ptr<TestClient>> clients;
};

TEST_F(PbxTest, InboundCallAnswered) {
  const QByteArray caller = "01012345678";
  SetAnswerDelay(1, "2");
  const Mark mark = Now();
  CallIn(caller, "Lee", kDid);
  ASSERT_TRUE(WaitForBridge(mark, "HangUp agent1")) << BridgeSince(mark).toStdString();
  HangUpCaller(caller);
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent1")) << BridgeSince(mark).toStdString();
  EXPECT_TRUE(BridgeSince(mark).contains("EVENT:RING|UNIQUEID:"));
  // With send type 2 a ring goes to every extension client, an answer to the agent's only.
  const QByteArray ring = Record(301, caller, 1234, 0);
  ExpectClients(mark, {ring + Record(301, caller, 1234, 1), ring, ring,
                       LdkLines(301, caller, 1234, 0) + LdkLines(301, caller, 1234, 1)});
  ExpectSummariesSince(
      mark, QStringList{Summary("Ring", caller, kDid, 301), Summary("HangUp", caller, kDid, 301)});
  ExpectRowsSince(mark, QList<CallRow>{Row(caller, "1234", "301")});
}

TEST_F(PbxTest, InboundCallUnanswered) {
  const QByteArray caller = "01022223333";
  const Mark mark = Now();
  CallIn(caller, "Park", kDid);
  ASSERT_TRUE(WaitForBridge(mark, "Ring agent1")) << BridgeSince(mark).toStdString();
  HangUpCaller(caller);
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent1")) << BridgeSince(mark).toStdString();
  EXPECT_FALSE(BridgeSince(mark).contains("HangUp agent1"));
  const QByteArray ring = Record(301, caller, 1234, 0);
  ExpectClients(mark, {ring, ring, ring, LdkLines(301, caller, 1234, 0)});
  ExpectSummariesSince(mark, QStringList{Summary("Ring", caller, kDid, 301)});
  ExpectRowsSince(mark, QList<CallRow>{Row(caller, "1234", "301")});
}

TEST_F(PbxTest, QueueRingsThreeAgentsAndOneAnswers) {
  const QByteArray caller = "01055556666";
  SetAnswerDelay(2, "2");
  const Mark mark = Now();
  CallIn(caller, "Queue Caller", kQueueDid);
  ASSERT_TRUE(WaitForBridge(mark, "HangUp agent2")) << BridgeSince(mark).toStdString();
  // The two that did not answer have stopped ringing already.
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent1"));
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent3"));
  HangUpCaller(caller);
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent2")) << BridgeSince(mark).toStdString();
  const QByteArray seen = BridgeSince(mark);
  EXPECT_FALSE(seen.contains("HangUp agent1") || seen.contains("HangUp agent3"))
      << seen.toStdString();
  const QByteArray rings =
      Record(301, caller, 5555, 0) + Record(302, caller, 5555, 0) + Record(303, caller, 5555, 0);
  ExpectClients(mark, {rings, rings + Record(302, caller, 5555, 1), rings,
                       LdkLines(301, caller, 5555, 0) + LdkLines(302, caller, 5555, 0) +
                           LdkLines(303, caller, 5555, 0) + LdkLines(302, caller, 5555, 1)});
  ExpectSummariesSince(mark, QStringList{Summary("Ring", caller, kQueueDid, 301),
                                         Summary("Ring", caller, kQueueDid, 302),
                                         Summary("Ring", caller, kQueueDid, 303),
                                         Summary("HangUp", caller, kQueueDid, 302)});
  ExpectRowsSince(mark, (QList<CallRow>{Row(caller, "5555", "301"), Row(caller, "5555", "302"),
                                        Row(caller, "5555", "303")}));
}

TEST_F(PbxTest, BlindTransferKeepsTheNumberFirstDialled) {
  const QByteArray caller = "01077778888";
  SetAnswerDelay(1, "1");
  SetAnswerDelay(2, "1");
  const Mark mark = Now();
  CallIn(caller, "Transfer Caller", kDid);
  ASSERT_TRUE(WaitForBridge(mark, "HangUp agent1")) << BridgeSince(mark).toStdString();
  // The answer is reported before the PBX joins the two, and this test's own
  // manager link may see the join later than the bridge program sees the answer.
  QByteArray agentLeg;
  ASSERT_TRUE(WaitUntil(
      [&] {
        agentLeg = pbx->BridgedChannel("Local/301@agents-", ";1", mark.pbxEvents);
        return !agentLeg.isEmpty();
      },
      20000));
  EXPECT_TRUE(pbx->Send(AmiAction({{"Action", "BlindTransfer"},
                                   {"Channel", agentLeg},
                                   {"Context", "transfer"},
                                   {"Exten", "302"}})));
  ASSERT_TRUE(WaitForBridge(mark, "HangUp agent2")) << BridgeSince(mark).toStdString();
  HangUpCaller(caller);
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent2")) << BridgeSince(mark).toStdString();
  EXPECT_TRUE(WaitForBridge(mark, "CallEnd agent1"));
  const QByteArray ring1 = Record(301, caller, 1234, 0);
  const QByteArray ring2 = Record(302, caller, 1234, 0);
  ExpectClients(mark, {ring1 + Record(301, caller, 1234, 1) + ring2,
                       ring1 + ring2 + Record(302, caller, 1234, 1), ring1 + ring2,
                       LdkLines(301, caller, 1234, 0) + LdkLines(301, caller, 1234, 1) +
                           LdkLines(302, caller, 1234, 0) + LdkLines(302, caller, 1234, 1)});
  ExpectRowsSince(mark, (QList<CallRow>{Row(caller, "1234", "301"), Row(caller, "1234", "302")}));
}

TEST_F(PbxTest, CallerWithAKoreanName) {
  const QByteArray caller = "01099998888";
  SetAnswerDelay(1, "1");
  const Mark mark = Now();
  CallIn(caller, QStringLiteral("홍길동").toUtf8(), kDid);
  ASSERT_TRUE(WaitForBridge(mark, "HangUp agent1")) << BridgeSince(mark).toStdString();
  HangUpCaller(caller);
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent1"));
  EXPECT_TRUE(BridgeSince(mark).contains(QStringLiteral("CALLERNAME:홍길동|").toUtf8()))
      << BridgeSince(mark).toStdString();
  const QByteArray ring = Record(301, caller, 1234, 0);
  ExpectClients(mark, {ring + Record(301, caller, 1234, 1), ring, ring,
                       LdkLines(301, caller, 1234, 0) + LdkLines(301, caller, 1234, 1)});
  ExpectRowsSince(mark, QList<CallRow>{Row(caller, "1234", "301")});
}

TEST_F(PbxTest, ACallTheAgentPlacesIsNeitherRelayedNorRecorded) {
  SetAnswerDelay(1, "1");
  const Mark mark = Now();
  // Placed from the desktop: the PBX rings the agent's phone, then dials out.
  EXPECT_TRUE(pbx->Send(AmiAction({{"Action", "Originate"},
                                   {"Channel", "Local/301@agents/n"},
                                   {"Context", "outbound"},
                                   {"Exten", "0212345678"},
                                   {"Priority", "1"},
                                   {"CallerID", "<301>"},
                                   {"Async", "true"}})));
  ASSERT_TRUE(WaitForBridge(mark, "HangUp agent1")) << BridgeSince(mark).toStdString();
  EXPECT_EQ(TextsSince(mark),
            (QStringList{"Ring agent1: EVENT:RING|UNIQUEID:*|ISDIAL:1|CALLERID:|INEXTEN:|",
                         "HangUp agent1: EVENT:HANGUP|UNIQUEID:*|CHANNEL1:SIP/07012345301-*|"
                         "CALLER1ID:0212345678|INEXTEN:0212345678|"}));
  EXPECT_TRUE(
      pbx->Send(AmiAction({{"Action", "Hangup"}, {"Channel", "/^Local\\/301@agents-.*;2$/"}})));
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent1"));
  // An unanswered inbound call after it: before its ring nothing may have come.
  const QByteArray marker = "01033334444";
  CallIn(marker, "Marker", kDid);
  ASSERT_TRUE(WaitForBridge(mark, "Ring agent1", 2));
  HangUpCaller(marker);
  ASSERT_TRUE(WaitForBridge(mark, "CallEnd agent1", 2));
  const QByteArray ring = Record(301, marker, 1234, 0);
  ExpectClients(mark, {ring, ring, ring, LdkLines(301, marker, 1234, 0)});
  ExpectSummariesSince(mark, QStringList{Summary("Ring", marker, kDid, 301)});
  ExpectRowsSince(mark, QList<CallRow>{Row(marker, "1234", "301")});
}

TEST_F(PbxTest, ThePbxGoneAndBackSignsTheAccountsInAgain) {
  const Mark mark = Now();
  pbx->Stop();
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(
        WaitForRelay(mark, QStringLiteral("[0] agent%1 - 로그인 실패(기타)").arg(n), 20000));
  }
  QString error;
  ASSERT_TRUE(pbx->Start(&error)) << error.toStdString();
  // The relay's attempts come at most a minute apart however long the PBX was away.
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(WaitForRelay(mark, QStringLiteral("[0]agent%1 - 로그인성공").arg(n), 70000));
  }
  EXPECT_TRUE(relay->IsRunning());
  EXPECT_TRUE(bridge->IsRunning());
  // And calls come through again.
  const QByteArray caller = "01066667777";
  const Mark after = Now();
  CallIn(caller, "Again", kDid);
  ASSERT_TRUE(WaitForBridge(after, "Ring agent1")) << BridgeSince(after).toStdString();
  HangUpCaller(caller);
  ASSERT_TRUE(WaitForBridge(after, "CallEnd agent1"));
  const QByteArray ring = Record(301, caller, 1234, 0);
  ExpectClients(after, {ring, ring, ring, LdkLines(301, caller, 1234, 0)});
}

}  // namespace
