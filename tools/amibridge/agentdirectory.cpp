#include "tools/amibridge/agentdirectory.h"

namespace {

// * stands for any run of characters, "/" included, and ? for one character.
QRegularExpression EndpointPattern(const QString& endpoint) {
  QString expression = QRegularExpression::escape(endpoint.trimmed());
  expression.replace(QStringLiteral("\\*"), QStringLiteral(".*"))
      .replace(QStringLiteral("\\?"), QStringLiteral("."));
  return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                            QRegularExpression::CaseInsensitiveOption);
}

}  // namespace

void AgentDirectory::Add(const QString& accountId, const QString& number,
                         const QStringList& endpoints) {
  m_agents.append({accountId, number});
  for (const QString& endpoint : endpoints) {
    m_entries.append({EndpointPattern(endpoint), m_agents.size() - 1});
  }
}

const AgentDirectory::Agent* AgentDirectory::AgentOf(const QByteArray& channel) const {
  const QString endpoint = QString::fromUtf8(ChannelEndpoint(channel));
  if (endpoint.isEmpty()) {
    return nullptr;
  }
  for (const Entry& entry : m_entries) {
    if (entry.pattern.match(endpoint).hasMatch()) {
      return &m_agents[entry.agent];
    }
  }
  return nullptr;
}

const AgentDirectory::Agent* AgentDirectory::Find(const QString& accountId) const {
  for (const Agent& agent : m_agents) {
    if (agent.accountId == accountId) {
      return &agent;
    }
  }
  return nullptr;
}

QByteArray ChannelEndpoint(const QByteArray& channel) {
  QByteArray endpoint = channel;
  const qsizetype semicolon = endpoint.lastIndexOf(';');
  if (semicolon > endpoint.lastIndexOf('/')) {
    endpoint.truncate(semicolon);
  }
  const qsizetype dash = endpoint.lastIndexOf('-');
  if (dash > endpoint.indexOf('/')) {
    endpoint.truncate(dash);
  }
  return endpoint;
}
