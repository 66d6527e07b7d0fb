#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "tools/amibridge/amiconnection.h"
#include "tools/amibridge/amimessage.h"

// A real Asterisk PBX on loopback for the bridge's tests, built once from
// the snapshot beside the checkout by scripts/asterisk.sh. It runs a
// configuration of its own: a manager user for the bridge with read-only
// call events, one for the test that places calls, agents 301 to 303 as
// Local channels (Local/30x@agents) that answer after the delay in the
// global ANSWER_30x (never when empty), a DID 07077771234 that dials 301,
// a DID 07077775555 that rings the three agents as a queue, callers
// (Local/<number>@callers) and callees that answer, and a transfer context.
class AsteriskPbx {
 public:
  // The installed PBX, built first when needed; nothing, with why in
  // reason, when the snapshot is absent (skipped) or the build failed.
  struct Install {
    QString prefix;
    QString reason;
    bool snapshotMissing = false;
  };
  static Install Build();

  explicit AsteriskPbx(QString prefix);
  ~AsteriskPbx();

  // Starts and waits until the test's manager link is up and the PBX fully booted.
  bool Start(QString* error);
  void Stop();
  quint16 ManagerPort() const { return m_nPort; }
  // What it logged: notices, warnings, errors and the dialplan's steps.
  QByteArray Log() const;

  static constexpr const char* kBridgeUser = "tarvex";
  static constexpr const char* kBridgeSecret = "bridge-secret";

  // Actions of the test's own manager user; false while its link is down.
  bool Send(const AmiMessage& action);
  // Events seen by the test's own manager user, in order.
  const QList<AmiMessage>& Events() const { return m_events; }
  // The first channel named prefix...suffix seen, in the events from index
  // since on, in a bridge with another channel; empty while none is.
  QByteArray BridgedChannel(const QByteArray& prefix, const QByteArray& suffix,
                            qsizetype since) const;

 private:
  bool WriteConfiguration(QString* error);
  bool WaitFullyBooted();

  QString m_prefix;
  QTemporaryDir m_dir;
  quint16 m_nPort = 0;
  QProcess m_process;
  std::unique_ptr<AmiConnection> m_driver;
  QList<AmiMessage> m_events;
};
