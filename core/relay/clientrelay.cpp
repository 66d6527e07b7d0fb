#include "core/relay/clientrelay.h"

ClientRelay::ClientRelay(quint16 extPort, quint16 ldkPort, QObject* parent)
    : QObject(parent), m_nExtPort(extPort), m_nLdkPort(ldkPort) {
  // Taken after Qt's accept pass, not within it: a pass ends once 30 wait
  // untaken, while one that finds them all taken accepts a flood to the last
  // descriptor, past the reserve the accept pause keeps.
  connect(&m_serverSocket, &QTcpServer::newConnection, this, &ClientRelay::OnSocketAccept,
          Qt::QueuedConnection);
  connect(&m_serverSocket2, &QTcpServer::newConnection, this, &ClientRelay::OnSocketAccept2,
          Qt::QueuedConnection);
}

ClientRelay::~ClientRelay() { CloseAllClients(); }

void ClientRelay::SetBeforeSend(std::function<void()> beforeSend) {
  m_sendBatch.SetBeforeFlush(std::move(beforeSend));
}
