#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "tools/amibridge/agentdirectory.h"
#include "tools/amibridge/agentevent.h"
#include "tools/amibridge/amiconnection.h"
#include "tools/amibridge/bridgesettings.h"
#include "tools/amibridge/calltracker.h"
#include "tools/telsim/telephonyserver.h"

// The relay's telephony controls on one side, one PBX's manager interface on
// the other: sign-ins are answered from the accounts of the settings, and
// the PBX's call events become Ring, HangUp and CallEnd for the agents'
// accounts. While the PBX is out of reach every signed-in account hears so.
class AmiBridge : public QObject {
  Q_OBJECT
 public:
  explicit AmiBridge(const BridgeSettings& settings, QObject* parent = nullptr);

  // Listens for the relay and starts reaching the PBX; false with error when
  // the port cannot be had.
  bool Start(QString* error);
  quint16 Port() const { return m_server.Port(); }
  bool IsPbxUp() const { return m_ami.IsUp(); }

 signals:
  // One UTF-8 line of what the bridge does, for the service journal.
  void LogLine(const QString& line);

 private:
  void OnPbxUp();
  void OnPbxDown(const QString& reason);
  void Deliver(const QList<AgentEvent>& events);

  BridgeSettings m_settings;
  AgentDirectory m_agents;
  CallTracker m_tracker;
  TelephonyServer m_server;
  AmiConnection m_ami;
};

// What signed-in accounts are told while the PBX is out of reach.
inline const QString kPbxDownReason = QStringLiteral("PBX LINK DOWN");
