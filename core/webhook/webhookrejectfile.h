#pragma once

#include <QByteArray>
#include <QString>

// Where the events go that a hook gave up on, beside the call records'
// reject file: one UTF-8 line each, appended and synced, holding the body
// exactly as it was sent, for the operator to send again by hand:
// "<time> <hook> <event id> (<reason>) <JSON>".
class WebhookRejectFile {
 public:
  // No path: rejected events are only told in the journal.
  explicit WebhookRejectFile(QString path) : m_path(std::move(path)) {}

  // False when the line could not be written.
  bool Append(const QString& hook, const QByteArray& eventId, const QString& reason,
              const QByteArray& body);
  const QString& Path() const { return m_path; }

 private:
  const QString m_path;
};
