#include "core/log/journalstream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <mutex>

bool IsJournalStream(int fd) {
  const QByteArray stream = qgetenv("JOURNAL_STREAM");
  const qsizetype colon = stream.indexOf(':');
  if (colon <= 0) return false;
  bool deviceOk = false;
  bool inodeOk = false;
  const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
  const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
  struct stat status {};
  return deviceOk && inodeOk && ::fstat(fd, &status) == 0 && status.st_dev == device &&
         status.st_ino == inode;
}

namespace {

void AppendJournalText(QByteArray& text, JournalPriority priority, QByteArrayView utf8Text,
                       bool withPriority) {
  const char prefix[] = {'<', char('0' + int(priority)), '>'};
  QByteArrayView body = utf8Text;
  if (body.endsWith('\n')) body.chop(1);
  // Every line of a text that has several carries the priority.
  for (qsizetype start = 0;;) {
    const qsizetype end = body.indexOf('\n', start);
    if (withPriority) text.append(prefix, sizeof prefix);
    text += body.sliced(start, (end < 0 ? body.size() : end) - start);
    text += '\n';
    if (end < 0) return;
    start = end + 1;
  }
}

}  // namespace

QByteArray JournalText(JournalPriority priority, QByteArrayView utf8Text, bool withPriority) {
  QByteArray text;
  AppendJournalText(text, priority, utf8Text, withPriority);
  return text;
}

namespace {

bool ToJournal() {
  static const bool toJournal = IsJournalStream(STDERR_FILENO);
  return toJournal;
}

void WriteToStandardError(const QByteArray& text) {
  std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
  std::fflush(stderr);
}

// Lines queued in the current pass of the event loop; written when it ends,
// before any line written at once, and at the latest when the process exits.
// Lines may come from any thread (the database's writer, Qt's messages).
struct QueuedLines {
  std::mutex mutex;
  QByteArray text;
  bool flushQueued = false;

  // Called with mutex held.
  void WriteOut() {
    flushQueued = false;
    if (text.isEmpty()) return;
    WriteToStandardError(text);
    text.clear();
  }
  ~QueuedLines() { WriteOut(); }
};

QueuedLines& Queued() {
  static QueuedLines queued;
  return queued;
}

}  // namespace

void WriteJournalLine(JournalPriority priority, QByteArrayView utf8Text) {
  QueuedLines& queued = Queued();
  const std::lock_guard lock(queued.mutex);
  queued.WriteOut();
  WriteToStandardError(JournalText(priority, utf8Text, ToJournal()));
}

void QueueJournalLine(JournalPriority priority, QByteArrayView utf8Text) {
  QueuedLines& queued = Queued();
  QCoreApplication* application = QCoreApplication::instance();
  {
    const std::lock_guard lock(queued.mutex);
    AppendJournalText(queued.text, priority, utf8Text, ToJournal());
    if (!application) queued.WriteOut();
    if (!application || queued.flushQueued) return;
    queued.flushQueued = true;
  }
  // Unlocked: posting may raise a Qt message, which comes back here.
  QMetaObject::invokeMethod(application, &FlushJournalLines, Qt::QueuedConnection);
}

void FlushJournalLines() {
  QueuedLines& queued = Queued();
  const std::lock_guard lock(queued.mutex);
  queued.WriteOut();
}

namespace {

JournalPriority PriorityOf(QtMsgType type) {
  switch (type) {
    case QtCriticalMsg:
    case QtFatalMsg:
      return JournalPriority::Error;
    case QtWarningMsg:
      return JournalPriority::Warning;
    default:
      return JournalPriority::Info;
  }
}

void WriteQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  WriteJournalLine(PriorityOf(type), message.toUtf8());
}

}  // namespace

void RouteQtMessagesToJournal() {
  if (IsJournalStream(STDERR_FILENO)) qInstallMessageHandler(WriteQtMessage);
}
