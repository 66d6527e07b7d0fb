#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

#include "core/callevent/calleventoutput.h"

class AmqpPublisher;
class Outbox;
class SettingsStore;

// Publishes every call event to the broker, when one is set (AMQPHOST):
// the event goes into an outbox of its own under the state directory on the
// event loop, synced off it, and the publisher thread takes it from there.
// What the broker has not confirmed waits across restarts. A full outbox
// refuses new events and says so once, until it takes them again.
class EventStream : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  explicit EventStream(QObject* parent = nullptr);
  // Syncs what the last pass appended; the rest waits for the next start.
  ~EventStream() override;

  void Start(SettingsStore& settings, const QString& stateDirectory);
  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;
  // Writes the events appended in this pass to the outbox's file, so that a
  // killed relay keeps them; they are synced when the pass ends.
  void WriteAppended();

  bool IsOn() const { return m_outbox != nullptr; }
  // Events the broker has not confirmed yet.
  qint64 Waiting() const;
  bool IsRefusing() const { return m_refusing; }

 signals:
  void ActivityLine(const QByteArray& line);
  // The same, and an error for the journal.
  void ErrorLine(const QByteArray& line);

 private:
  void SyncAppended();
  // Tells once that the disk refuses the outbox, and once that it takes it again.
  void ReportDisk();

  std::shared_ptr<Outbox> m_outbox;
  std::unique_ptr<AmqpPublisher> m_publisher;
  QString m_relayName;
  bool m_syncPosted = false;
  bool m_refusing = false;
  bool m_diskErrorTold = false;
};
