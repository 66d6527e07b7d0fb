#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include "core/log/journalstream.h"

// The headless journal's lines of one pass of the event loop, written to
// standard error together: when the relay is about to send to its clients
// (so that no line arrives after the notice it tells of), or when the pass
// ends. One write per pass instead of one per line.
class JournalBuffer : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  ~JournalBuffer() override;

  void Add(JournalPriority priority, QByteArrayView utf8Text);
  void Flush();

 private:
  QByteArray m_pending;
  bool m_flushQueued = false;
};
