// Calls from the simulated telephony server through the real relay to its
// clients, its log file and the call database.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "core/log/logline.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/text/cp949.h"
#include "support/postgrescluster.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"
#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

namespace {

const QString kAccountId = QStringLiteral("agent1");
const QString kSignedInLine = QStringLiteral("[0]agent1 - 로그인성공");
constexpr qint32 kExtension = 301;
const QByteArray kMatchingText = "301";
const QByteArray kOtherText = "555";

const QString kInbound = QStringLiteral("07077771234");
constexpr qint32 kInboundTail = 1234;

// The last call of every case; it must reach every client.
const QString kMarkerCaller = QStringLiteral("0999999999");
const QString kMarkerInbound = QStringLiteral("07000005678");
constexpr qint32 kMarkerInboundTail = 5678;

constexpr int kSendWhenAnswered = 1;
constexpr int kSendAlways = 2;
constexpr int kLogNumber = 0;
constexpr int kLogDebug = 1;
constexpr int kLogNone = 2;
constexpr int kCenterId = 7;

struct RelaySettings {
  int sendType = kSendAlways;
  int logType = kLogNumber;
  int centerId = kCenterId;
};

// What one telephony event should leave behind; empty members stand for nothing.
struct Outcome {
  QStringList shown;                 // activity lines before the notice's lines, times as hh:mm:ss
  QByteArray logText;                // text of the call-log entry
  std::optional<CallNotice> notice;  // to the matching client and to the LDK505 client
  bool toEveryRow = false;           // also to the client whose text does not match
  std::optional<CallRow> row;
};

// What the relay produced before the marker call.
struct Observed {
  QByteArray matching;   // extension client registered for the account's extension
  QByteArray other;      // extension client registered for another extension
  QByteArray ldk;        // LDK505 client
  QStringList activity;  // standard error after the sign-in line, times masked
  QByteArray log;        // the call-log file, times masked
  QList<CallRow> rows;
};

// The clock is real: its readings become placeholders, every other byte stays.
QString MaskTimes(QString text) {
  static const QRegularExpression time(QStringLiteral(R"(\d\d:\d\d:\d\d)"));
  static const QRegularExpression date(QStringLiteral(R"(^\d\d-\d\d (?=hh:mm:ss:  ))"),
                                       QRegularExpression::MultilineOption);
  text.replace(time, QStringLiteral("hh:mm:ss"));
  return text.replace(date, QStringLiteral("MM-dd "));
}

QString Summary(const char* kind, const QString& caller, const QString& inbound) {
  return QStringLiteral("hh:mm:ss %1: %2 => %3[%4]")
      .arg(QLatin1String(kind), caller, inbound)
      .arg(kExtension);
}

// The call-log entry of an event at the given log level: its summary, its raw text, or none.
QByteArray LogText(int logType, const QString& summary, const QString& rawText) {
  if (logType == kLogNumber) return ToCp949(summary);
  if (logType == kLogDebug) return ToCp949(rawText);
  return {};
}

// What the journal shows of a call's line: at "no log", not the caller's number.
QByteArray Journaled(const QByteArray& line, const CallNotice& notice, int logType) {
  const QByteArray journal = JournalLine(line);
  return logType == kLogNone ? QByteArray(journal).replace(notice.callerId, "***") : journal;
}

mode_t ModeOf(const QFileInfo& file) {
  struct stat status {};
  ::stat(QFile::encodeName(file.filePath()).constData(), &status);
  return status.st_mode & 07777;
}

QByteArray Before(const QByteArray& bytes, const QByteArray& marker, qsizetype from = 0) {
  const qsizetype at = bytes.indexOf(marker, from);
  return at < 0 ? bytes : bytes.left(at);
}

// The bytes that client received before marker, once marker has come.
QByteArray ReceivedBefore(TestClient& client, const QByteArray& marker, qsizetype from = 0) {
  EXPECT_TRUE(WaitUntil([&] { return client.Received().indexOf(marker, from) >= 0; }))
      << "missing " << marker.toHex(' ').toStdString() << " in "
      << client.Received().toHex(' ').toStdString();
  return Before(client.Received(), marker, from);
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

CallNotice Notice(const QString& caller, qint32 inExten, qint32 state) {
  return MakeCallNotice(kExtension, inExten, caller.toLatin1(), state);
}

class CallFlowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    cluster = new PostgresCluster;
    ASSERT_TRUE(cluster->Start()) << cluster->LastError();
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(telsim.Listen(0)) << telsim.ErrorString();
    TelAccount account;
    account.id = kAccountId;
    account.password = QStringLiteral("secret1");
    account.number = QStringLiteral("07012345301");
    telsim.AddAccount(account);
    QObject::connect(
        &telsim, &TelephonyServer::EventSent,
        [this](const QString&, const QString&, const QString& text, int) { lastSentText = text; });
  }

  void TearDown() override { StopRelay(); }

  // A relay signed in to the simulator with the account, an LDK505 client it
  // greeted, and two extension clients it acknowledged: one registered for the
  // account's extension, one for another extension.
  void StartRelay(const RelaySettings& settings) {
    StopRelay();
    ASSERT_TRUE(cluster->ClearCalls()) << cluster->LastError();
    recordsCalls = settings.sendType == kSendAlways && settings.centerId > 0;
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.telPort = telsim.Port();
    relay = std::make_unique<RelayProcess>(options);
    WriteSettings(relay->options().configHome, settings);
    if (HasFatalFailure()) return;
    // Whatever the umask, the relay's files keep their modes.
    const mode_t umask = ::umask(0);
    const bool started = relay->Start();
    ::umask(umask);
    ASSERT_TRUE(started);
    ASSERT_TRUE(relay->WaitForOutput(kSignedInLine)) << relay->StandardError();

    ldk = std::make_unique<TestClient>(relay->options().ldkPort);
    ASSERT_TRUE(ldk->WaitForBytes(GreetingText().size()));
    matching = Register(kMatchingText);
    other = Register(kOtherText);
  }

  void StopRelay() {
    ldk.reset();
    matching.reset();
    other.reset();
    if (!relay) return;
    relay->Signal(SIGTERM);
    EXPECT_TRUE(relay->WaitFinished());
    relay.reset();
  }

  static void WriteSettings(const QString& configHome, const RelaySettings& settings) {
    ASSERT_TRUE(QDir().mkpath(configHome + QStringLiteral("/MERVO")));
    QFile file(configHome + QStringLiteral("/MERVO/Tarvex.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[SETTING]\nUID1=%1\nPWD1=secret1\nSERVERIP1=127.0.0.1\n"
                              "SENDTYPE=%2\nLOGTYPE=%3\nCENTERID=%4\n")
                   .arg(kAccountId)
                   .arg(settings.sendType)
                   .arg(settings.logType)
                   .arg(settings.centerId)
                   .toUtf8());
  }

  std::unique_ptr<TestClient> Register(const QByteArray& text) {
    auto client = std::make_unique<TestClient>(relay->options().extPort);
    EXPECT_TRUE(client->Send(text) && client->WaitForBytes(RegisterAck().size()))
        << text.toStdString();
    return client;
  }

  // The raw text of the event just sent.
  QString SendRing(const QString& caller, bool isDial = false) {
    telsim.SendRing(kAccountId, caller, kInbound, isDial);
    return lastSentText;
  }
  QString SendHangUp(const QString& caller, const QString& inbound = kInbound) {
    telsim.SendHangUp(kAccountId, caller, inbound, kOutsideLinePeer);
    return lastSentText;
  }

  // Relays a last call that every client must get. The relay handles events
  // and sends in order, so what came before it is all that the calls under
  // test produced. The client registered for another extension gets the
  // answer to a second registration as its marker.
  Observed Settle(int sendType) {
    const bool answer = sendType == kSendWhenAnswered;
    if (answer) {
      SendHangUp(kMarkerCaller, kMarkerInbound);
    } else {
      telsim.SendRing(kAccountId, kMarkerCaller, kMarkerInbound, false);
    }
    const CallNotice marker =
        Notice(kMarkerCaller, kMarkerInboundTail, answer ? kCallStateAnswer : kCallStateRinging);
    const QByteArray markerRecord = EncodeCallNotice(marker);

    Observed observed;
    observed.matching = ReceivedBefore(*matching, markerRecord);
    observed.ldk = ReceivedBefore(*ldk, LdkRingLine(marker));
    EXPECT_TRUE(other->Send(kOtherText));
    observed.other =
        Before(ReceivedBefore(*other, RegisterAck(), RegisterAck().size()), markerRecord);
    EXPECT_TRUE(relay->WaitForOutput(kMarkerInbound)) << relay->StandardError();
    observed.activity = ActivityBeforeMarker();
    observed.log = LogBeforeMarker();
    // The writer records calls in order: with the marker's row there, every
    // row before it is there too.
    std::optional<QList<CallRow>> rows;
    const auto markerRecorded = [&] {
      rows = cluster->Calls();
      return rows && std::any_of(rows->begin(), rows->end(), [](const CallRow& row) {
               return row.caller == kMarkerCaller.toLatin1();
             });
    };
    if (recordsCalls) {
      EXPECT_TRUE(WaitUntil(markerRecorded, 60000)) << relay->StandardError();
    } else {
      rows = cluster->Calls();
    }
    EXPECT_TRUE(rows) << cluster->LastError();
    for (const CallRow& row : rows.value_or(QList<CallRow>{})) {
      if (row.caller == kMarkerCaller.toLatin1()) break;
      observed.rows.append(row);
    }
    return observed;
  }

  // The database driver's diagnostics of a failed connection go to standard
  // error as well, some over several lines; they are not activity lines.
  static bool IsDiagnosticLine(const QString& line) {
    return line.startsWith(QStringLiteral("ConnectDB - ")) || line.startsWith('\t');
  }

  QStringList ActivityBeforeMarker() {
    QStringList lines = relay->StandardError().split('\n', Qt::SkipEmptyParts);
    lines.removeIf(IsDiagnosticLine);
    const qsizetype signedIn = lines.indexOf(kSignedInLine);
    EXPECT_GE(signedIn, 0);
    QStringList activity;
    for (qsizetype n = signedIn + 1; n < lines.size(); ++n) {
      if (lines[n].contains(kMarkerInbound)) break;
      activity.append(MaskTimes(lines[n]));
    }
    return activity;
  }

  QByteArray LogBeforeMarker() {
    const QDir directory(relay->options().logDirectory);
    const QStringList names = directory.entryList({QStringLiteral("CID_U_*.txt")});
    EXPECT_EQ(names.size(), 1) << names.join(' ');
    if (names.isEmpty()) return {};
    QFile file(directory.filePath(names.first()));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    const qsizetype marker = text.indexOf(kMarkerCaller.toLatin1());
    const QByteArray before = marker < 0 ? text : text.left(text.lastIndexOf('\n', marker) + 1);
    return MaskTimes(QString::fromLatin1(before)).toLatin1();
  }

  // Compares everything the relay produced with what the events should have left.
  static void Verify(const Observed& observed, const std::vector<Outcome>& outcomes, int logType) {
    QByteArray matchingBytes = RegisterAck();
    QByteArray otherBytes = RegisterAck();
    QByteArray ldkBytes = GreetingText();
    QByteArray log = QByteArray(76, '=') + "\r\n";
    QStringList activity{QStringLiteral("LDK505로 접속한 클라이언트가 있습니다.")};
    if (logType == kLogDebug) {
      for (const QByteArray& text : {kMatchingText, kOtherText}) {
        activity << QStringLiteral("Accept - IP: 127.0.0.1")
                 << QStringLiteral("Recv: ") + QString::fromLatin1(text);
      }
    }
    QList<CallRow> rows;
    for (const Outcome& outcome : outcomes) {
      activity << outcome.shown;
      if (outcome.notice) {
        const QByteArray record = EncodeCallNotice(*outcome.notice);
        matchingBytes += record;
        if (outcome.toEveryRow) otherBytes += record;
        const QByteArray ringLine = LdkRingLine(*outcome.notice);
        const QByteArray noticeLine = LdkNoticeLine(*outcome.notice);
        ldkBytes += ringLine + noticeLine;
        // The journal tells of a notice to LDK505 clients in one line.
        activity << QString::fromUtf8(Journaled(ringLine, *outcome.notice, logType) + ' ' +
                                      Journaled(noticeLine, *outcome.notice, logType) +
                                      " to 1 LDK505 clients");
      }
      if (!outcome.logText.isEmpty()) log += "MM-dd hh:mm:ss:  " + outcome.logText + "\r\n";
      if (outcome.row) rows.append(*outcome.row);
    }
    EXPECT_EQ(Hex(observed.matching), Hex(matchingBytes));
    EXPECT_EQ(Hex(observed.other), Hex(otherBytes));
    EXPECT_EQ(observed.ldk, ldkBytes);
    EXPECT_EQ(observed.activity, activity);
    EXPECT_EQ(observed.log, log);
    EXPECT_EQ(observed.rows, rows);
  }

  static PostgresCluster* cluster;
  TelephonyServer telsim;
  QString lastSentText;
  bool recordsCalls = false;  // the relay's settings have calls recorded
  std::unique_ptr<RelayProcess> relay;
  std::unique_ptr<TestClient> ldk;
  std::unique_ptr<TestClient> matching;
  std::unique_ptr<TestClient> other;
};

PostgresCluster* CallFlowTest::cluster = nullptr;

TEST_F(CallFlowTest, SendTypeAndLogLevelDecideWhatACallLeaves) {
  // Which outputs the send type lets through; the log level picks the form of the entries.
  const struct {
    RelaySettings settings;
    bool ringRelayed = false;
    bool answerRelayed = false;
    bool ringLogged = false;
    bool answerLogged = false;
    bool ringToEveryClient = false;
    bool recorded = false;
  } cases[] = {
      {.settings = {0, 0}, .ringRelayed = true, .ringLogged = true},
      {.settings = {0, 1}, .ringRelayed = true, .ringLogged = true},
      {.settings = {0, 2}, .ringRelayed = true, .ringLogged = true},
      {.settings = {1, 0}, .answerRelayed = true, .answerLogged = true},
      {.settings = {1, 1}, .answerRelayed = true, .answerLogged = true},
      {.settings = {1, 2}, .answerRelayed = true, .answerLogged = true},
      {.settings = {2, 0},
       .ringRelayed = true,
       .answerRelayed = true,
       .ringLogged = true,
       .answerLogged = true,
       .ringToEveryClient = true,
       .recorded = true},
      {.settings = {2, 1},
       .ringRelayed = true,
       .answerRelayed = true,
       .ringLogged = true,
       .answerLogged = true,
       .ringToEveryClient = true,
       .recorded = true},
      {.settings = {2, 2},
       .ringRelayed = true,
       .answerRelayed = true,
       .ringLogged = true,
       .answerLogged = true,
       .ringToEveryClient = true,
       .recorded = true},
      {.settings = {2, 0, 0},
       .ringRelayed = true,
       .answerRelayed = true,
       .ringLogged = true,
       .answerLogged = true,
       .ringToEveryClient = true},
  };
  const QString caller = QStringLiteral("01012345678");
  for (const auto& c : cases) {
    const RelaySettings& settings = c.settings;
    SCOPED_TRACE(testing::Message() << "send type " << settings.sendType << ", log level "
                                    << settings.logType << ", centre " << settings.centerId);
    StartRelay(settings);
    if (HasFatalFailure()) return;
    const QString ringText = SendRing(caller);
    const QString answerText = SendHangUp(caller);
    telsim.SendCallEnd(kAccountId);
    const Observed observed = Settle(settings.sendType);

    // At "no log" the caller's number stays out of the journal as out of the file.
    const QString shownCaller = settings.logType == kLogNone ? QStringLiteral("***") : caller;
    Outcome ring;
    ring.shown = {Summary("Ring", shownCaller, kInbound)};
    if (c.ringLogged) ring.logText = LogText(settings.logType, ring.shown[0], ringText);
    if (c.ringRelayed) ring.notice = Notice(caller, kInboundTail, kCallStateRinging);
    ring.toEveryRow = c.ringToEveryClient;
    if (c.recorded) ring.row = CallRow{settings.centerId, caller.toLatin1(), "1234", "301"};
    Outcome answer;
    answer.shown = {Summary("HangUp", shownCaller, kInbound)};
    if (c.answerLogged) answer.logText = LogText(settings.logType, answer.shown[0], answerText);
    if (c.answerRelayed) answer.notice = Notice(caller, kInboundTail, kCallStateAnswer);
    Verify(observed, {ring, answer}, settings.logType);
    if (settings.logType == kLogNone) {
      EXPECT_FALSE(relay->StandardError().contains(caller));
    }
    // Log directory 0750 and its files 0640, the spool's files 0600.
    const QString logs = relay->options().logDirectory;
    for (const QFileInfo& file :
         QFileInfoList{QFileInfo(logs)} + QDir(logs).entryInfoList(QDir::Files) +
             QDir(relay->options().stateDirectory).entryInfoList(QDir::Files)) {
      EXPECT_EQ(ModeOf(file), file.isDir()          ? 0750u
                              : file.path() == logs ? 0640u
                                                    : 0600u)
          << file.filePath();
    }
  }
}

TEST_F(CallFlowTest, CallerNumberAndDialMarkDecideWhetherARingCounts) {
  const struct {
    QString caller;
    bool isDial;
    bool shown;
    // The 12 bytes of the relayed record's caller field; empty when neither
    // relayed nor recorded.
    QByteArray callerField;
  } cases[] = {
      {QStringLiteral("12345678"), false, true, {}},
      {QStringLiteral("123456789"), false, true, QByteArray("123456789\0\0\0", 12)},
      {QStringLiteral("012345678901234"), false, true, QByteArray("01234567890\0", 12)},
      {QStringLiteral("01012345678"), true, false, {}},
      // The caller ends at its NUL: an empty caller, too short to count.
      {QChar(0) + QStringLiteral("01012345678"), false, true, {}},
      {QStringLiteral("01012") + QChar(0) + QStringLiteral("45678"), false, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.caller << (c.isDial ? " dialled" : " incoming"));
    StartRelay({});
    if (HasFatalFailure()) return;
    SendRing(c.caller, c.isDial);
    const Observed observed = Settle(kSendAlways);

    Outcome ring;
    if (c.shown) {
      ring.shown = {Summary("Ring", c.caller.left(c.caller.indexOf(QChar(0))), kInbound)};
      ring.logText = ToCp949(ring.shown[0]);
    }
    if (!c.callerField.isEmpty()) {
      CallNotice notice{kExtension, kInboundTail, {}, kCallStateRinging};
      std::memcpy(notice.callerId, c.callerField.constData(), sizeof notice.callerId);
      ring.notice = notice;
      ring.toEveryRow = true;
      ring.row = CallRow{kCenterId, c.caller.toLatin1(), "1234", "301"};
    }
    Verify(observed, {ring}, kLogNumber);
  }
}

// A ring while the database is down waits in the spool: its notice goes
// out at once, and it is recorded, in order, once the database is back.
TEST_F(CallFlowTest, RingWhileTheDatabaseIsDownIsRecordedOnceItIsBack) {
  StartRelay({});
  ASSERT_FALSE(HasFatalFailure());
  const QString waitingCaller = QStringLiteral("01011112222");
  const QString laterCaller = QStringLiteral("01033334444");

  ASSERT_TRUE(cluster->Stop()) << cluster->LastError();
  SendRing(waitingCaller);
  ASSERT_TRUE(matching->WaitForBytes(RegisterAck().size() + kCallNoticeSize))
      << relay->StandardError();
  ASSERT_TRUE(cluster->Start()) << cluster->LastError();
  SendRing(laterCaller);
  Observed observed = Settle(kSendAlways);
  // Why the call waits is told, in the activity list and as an error; the
  // recovery line comes whenever the writer gets through.
  EXPECT_FALSE(observed.activity.filter(QStringLiteral("DB 기록 오류: 08")).isEmpty());
  observed.activity.removeIf([](const QString& line) { return line.startsWith("DB 기록 "); });

  Outcome waiting;
  waiting.shown = {Summary("Ring", waitingCaller, kInbound)};
  waiting.logText = ToCp949(waiting.shown[0]);
  waiting.notice = Notice(waitingCaller, kInboundTail, kCallStateRinging);
  waiting.toEveryRow = true;
  waiting.row = CallRow{kCenterId, waitingCaller.toLatin1(), "1234", "301"};
  Outcome later = waiting;
  later.shown = {Summary("Ring", laterCaller, kInbound)};
  later.logText = ToCp949(later.shown[0]);
  later.notice = Notice(laterCaller, kInboundTail, kCallStateRinging);
  later.row = CallRow{kCenterId, laterCaller.toLatin1(), "1234", "301"};
  Verify(observed, {waiting, later}, kLogNumber);
}

}  // namespace
