#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Which account a PBX channel belongs to: each account names its phone's
// endpoints ("PJSIP/301", "SIP/301", "Local/301@agents") or patterns of them
// with * and ? ("PJSIP/3*"). A channel is the endpoint plus "-<serial>", and
// for Local channels ";1" or ";2".
class AgentDirectory {
 public:
  struct Agent {
    QString accountId;
    // What the account's sign-in reports; its last three characters are the extension.
    QString number;
  };

  void Add(const QString& accountId, const QString& number, const QStringList& endpoints);
  // The first account, in the order added, whose endpoint the channel is; nothing when none.
  const Agent* AgentOf(const QByteArray& channel) const;
  const Agent* Find(const QString& accountId) const;

 private:
  struct Entry {
    QString pattern;
    qsizetype agent = 0;
  };
  QList<Agent> m_agents;
  QList<Entry> m_entries;
};

// The endpoint part of a channel name: "PJSIP/301-0000002a" gives "PJSIP/301",
// "Local/301@agents-0000001f;2" gives "Local/301@agents".
QByteArray ChannelEndpoint(const QByteArray& channel);
