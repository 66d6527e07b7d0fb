#include "core/relay/clientrelay.h"

ClientRelay::ClientRelay(quint16 extPort, quint16 ldkPort, QObject* parent)
    : QObject(parent), m_nExtPort(extPort), m_nLdkPort(ldkPort) {
  connect(&m_serverSocket, &QTcpServer::newConnection, this, &ClientRelay::OnSocketAccept);
  connect(&m_serverSocket2, &QTcpServer::newConnection, this, &ClientRelay::OnSocketAccept2);
}

ClientRelay::~ClientRelay() { CloseAllClients(); }

void ClientRelay::SetBeforeSend(std::function<void()> beforeSend) {
  m_sendBatch.SetBeforeFlush(std::move(beforeSend));
}
