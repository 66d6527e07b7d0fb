// The stand-in telephony control against a server that answers its sign-in
// with any bytes: in pieces, with a marker event after them, then a close.
// Whatever came, the control raises only events of whole lines, keeps its
// signed-in state by the last login result, stops at a sign-out of its own,
// and reports a lost link exactly when it was signed in or still waiting.
#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>

#include "core/telephony/networktelcontrol.h"
#include "core/text/eventtext.h"
#include "support/fuzzapp.h"
#include "support/fuzzcheck.h"

namespace {

constexpr int kWaitMs = 10000;

struct Event {
  QByteArray name;
  QString text;
};

QTcpServer* server = nullptr;
quint64 inputCount = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  StartFuzzApplication(argc, argv);
  server = new QTcpServer;
  FUZZ_CHECK(server->listen(QHostAddress::LocalHost, 0));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool dcs = input.ConsumeBool();
  const bool logoutOnRing = input.ConsumeBool();
  const bool abortAtEnd = input.ConsumeBool();
  const int pieces = input.ConsumeIntegralInRange<int>(1, 4);

  // No retry within one input: it would leave a connection behind for the next.
  NetworkTelControl control(kFirstTelControlId, server->serverPort(), kWaitMs * 10,
                            {kWaitMs * 10, kWaitMs * 10, {}});
  QList<Event> events;
  bool loggedOut = false;
  QObject::connect(&control, &CTelBaseOpenApi::LoginResult, [&](int, const QString& text) {
    events.append({kTelLoginResult.toByteArray(), text});
  });
  QObject::connect(&control, &CTelBaseOpenApi::Ring, [&](int, const QString& text) {
    events.append({kTelRing.toByteArray(), text});
    if (logoutOnRing && !loggedOut) {
      loggedOut = true;
      control.Logout();
    }
  });
  QObject::connect(&control, &CTelBaseOpenApi::HangUp, [&](int, const QString& text) {
    events.append({kTelHangUp.toByteArray(), text});
  });
  QObject::connect(&control, &CTelBaseOpenApi::CallEnd, [&](int, const QString& text) {
    events.append({kTelCallEnd.toByteArray(), text});
  });

  // Under churn every local port can be briefly held by closed connections;
  // the control then reports a failed sign-in at once, and gets another go.
  std::unique_ptr<QTcpSocket> peer;
  for (int attempt = 0; attempt < 100 && !peer; ++attempt) {
    events.clear();
    const bool sent = dcs ? control.LoginDCS("agent", "pw", "127.0.0.1")
                          : control.Login("agent", "pw", "127.0.0.1");
    FUZZ_CHECK(sent);
    FUZZ_CHECK(
        PumpUntil([&] { return server->hasPendingConnections() || !events.isEmpty(); }, kWaitMs));
    if (server->hasPendingConnections()) {
      peer.reset(server->nextPendingConnection());
    } else {
      PumpUntil([] { return false; }, 10);
    }
  }
  FUZZ_CHECK(peer && events.isEmpty());
  FUZZ_CHECK(PumpUntil([&] { return peer->canReadLine(); }, kWaitMs));
  FUZZ_CHECK(peer->readLine() == EncodeTelLine({dcs ? "LOGINDCS" : "LOGIN", "agent", "pw"}));

  // The marker ends any partial line first; its text is one no input holds.
  const QString marker = QStringLiteral("end of input %1").arg(++inputCount);
  for (int i = 0; i < pieces; ++i) {
    const std::string piece =
        i + 1 < pieces ? input.ConsumeRandomLengthString() : input.ConsumeRemainingBytesAsString();
    peer->write(piece.data(), qint64(piece.size()));
    peer->flush();
    QCoreApplication::processEvents();
  }
  peer->write("\n" + EncodeTelLine({"EVENT", "CallEnd", marker.toUtf8()}));
  const auto markerSeen = [&] {
    return !events.isEmpty() && events.last().name == kTelCallEnd && events.last().text == marker;
  };
  FUZZ_CHECK(PumpUntil(
      [&] {
        return markerSeen() || (loggedOut && peer->state() != QAbstractSocket::ConnectedState);
      },
      kWaitMs));

  if (loggedOut) {
    // The relay's own sign-out: no event after the ring that caused it, and none later.
    FUZZ_CHECK(events.last().name == kTelRing);
    FUZZ_CHECK(!control.IsLoggedIn());
    const qsizetype count = events.size();
    QCoreApplication::processEvents();
    FUZZ_CHECK(events.size() == count);
    return 0;
  }

  // Signed in by the last login result's STATUS; waiting until there was one.
  const Event* lastResult = nullptr;
  for (const Event& event : events) {
    if (event.name == kTelLoginResult) lastResult = &event;
  }
  const bool signedIn =
      lastResult && ParseLooseInt(GetEventField(lastResult->text.toUtf8(), "STATUS", 1, '|')) >= 1;
  FUZZ_CHECK(control.IsLoggedIn() == signedIn);

  const qsizetype before = events.size();
  if (abortAtEnd) {
    peer->abort();
  } else {
    peer->disconnectFromHost();
  }
  if (signedIn || !lastResult) {
    FUZZ_CHECK(PumpUntil([&] { return events.size() > before; }, kWaitMs));
    FUZZ_CHECK(events.size() == before + 1 && events.last().name == kTelLoginResult);
    FUZZ_CHECK(events.last().text.startsWith(QStringLiteral("RESULT:LOGIN|STATUS:0|MSG:")));
    FUZZ_CHECK(!control.IsLoggedIn());
  }
  return 0;
}
