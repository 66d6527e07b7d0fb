#include "tools/amibridge/agentdirectory.h"

namespace {

// * stands for any run of characters, "/" included, and ? for one
// character; letters match whatever their case.
bool MatchesPattern(QStringView text, QStringView pattern) {
  qsizetype t = 0;
  qsizetype p = 0;
  qsizetype starAt = -1;
  qsizetype resumeAt = 0;
  while (t < text.size()) {
    if (p < pattern.size() &&
        (pattern[p] == u'?' || pattern[p].toCaseFolded() == text[t].toCaseFolded())) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starAt = p++;
      resumeAt = t;
    } else if (starAt >= 0) {
      p = starAt + 1;
      t = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') {
    ++p;
  }
  return p == pattern.size();
}

}  // namespace

void AgentDirectory::Add(const QString& accountId, const QString& number,
                         const QStringList& endpoints) {
  m_agents.append({accountId, number});
  for (const QString& endpoint : endpoints) {
    m_entries.append({endpoint.trimmed(), m_agents.size() - 1});
  }
}

const AgentDirectory::Agent* AgentDirectory::AgentOf(const QByteArray& channel) const {
  const QString endpoint = QString::fromUtf8(ChannelEndpoint(channel));
  if (endpoint.isEmpty()) {
    return nullptr;
  }
  for (const Entry& entry : m_entries) {
    if (MatchesPattern(endpoint, entry.pattern)) {
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
