#include "tools/amibridge/amibridge.h"

#include "tools/amibridge/eventtexts.h"
#include "tools/telsim/servertexts.h"

AmiBridge::AmiBridge(const BridgeSettings& settings, QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_tracker(m_agents),
      m_ami(settings.ami, settings.timing) {
  for (const BridgeAccount& account : settings.accounts) {
    m_server.AddAccount(account.account);
    m_agents.Add(account.account.id, account.account.number, account.endpoints);
  }
  m_server.SetEventsOnlyToSignedIn(true);
  m_server.SetGuardedSignIn(true);
  // Until the PBX has let the bridge in there are no calls to relay.
  m_server.SetOutage(kPbxDownReason);

  connect(&m_ami, &AmiConnection::Up, this, &AmiBridge::OnPbxUp);
  connect(&m_ami, &AmiConnection::Down, this, &AmiBridge::OnPbxDown);
  connect(&m_ami, &AmiConnection::Warning, this, &AmiBridge::LogLine);
  connect(&m_ami, &AmiConnection::EventReceived, this,
          [this](const AmiMessage& event) { Deliver(m_tracker.OnEvent(event)); });
  connect(
      &m_server, &TelephonyServer::SignInHandled, this,
      [this](const QString& kind, const QString& accountId, const QString&, const QString& reply) {
        // Refusals come as notices, with the address and fewer of them.
        if (reply != LoginRefusedText(accountId)) {
          emit LogLine(QStringLiteral("%1 %2: %3").arg(kind, accountId, reply));
        }
      });
  connect(&m_server, &TelephonyServer::Notice, this, &AmiBridge::LogLine);
  connect(&m_server, &TelephonyServer::AcceptingChanged, this, &AmiBridge::LogLine);
  connect(&m_server, &TelephonyServer::AccountSignedOut, this, [this](const QString& accountId) {
    emit LogLine(QStringLiteral("signed out: %1").arg(accountId));
  });
}

bool AmiBridge::Start(QString* error) {
  if (!m_server.Listen(m_settings.listenPort, m_settings.listenAddress)) {
    *error = QStringLiteral("cannot listen on %1 port %2: %3")
                 .arg(m_settings.listenAddress.toString())
                 .arg(m_settings.listenPort)
                 .arg(m_server.ErrorString());
    return false;
  }
  emit LogLine(QStringLiteral("listening on %1 port %2, reaching the PBX at %3 port %4")
                   .arg(m_settings.listenAddress.toString())
                   .arg(m_server.Port())
                   .arg(m_settings.ami.host)
                   .arg(m_settings.ami.port));
  m_ami.Start();
  return true;
}

void AmiBridge::OnPbxUp() {
  emit LogLine(QStringLiteral("PBX link up (%1)").arg(QString::fromUtf8(m_ami.Greeting())));
  m_server.SetOutage({});
}

void AmiBridge::OnPbxDown(const QString& reason) {
  emit LogLine(QStringLiteral("PBX link down: %1").arg(reason));
  // What the PBX does meanwhile is unknown: every call the agents are in ends here.
  Deliver(m_tracker.EndAll());
  m_server.SetOutage(kPbxDownReason);
}

void AmiBridge::Deliver(const QList<AgentEvent>& events) {
  for (const AgentEvent& event : events) {
    const AgentDirectory::Agent* agent = m_agents.Find(event.accountId);
    if (agent == nullptr) {
      continue;
    }
    const auto [name, text] = AgentEventText(event, agent->number);
    const int connections = m_server.SendRaw(event.accountId, name, text);
    emit LogLine(QStringLiteral("%1 %2 (%3 connection(s)): %4")
                     .arg(name, event.accountId)
                     .arg(connections)
                     .arg(m_settings.logCallers ? text : JournalEventText(text)));
  }
}
