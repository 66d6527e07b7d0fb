#include "core/log/journalstream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdio>

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

QByteArray JournalText(JournalPriority priority, QByteArrayView utf8Text, bool withPriority) {
  const char prefix[] = {'<', char('0' + int(priority)), '>'};
  QByteArrayView body = utf8Text;
  if (body.endsWith('\n')) body.chop(1);
  QByteArray text;
  // Every line of a text that has several carries the priority.
  for (qsizetype start = 0;;) {
    const qsizetype end = body.indexOf('\n', start);
    if (withPriority) text.append(prefix, sizeof prefix);
    text += body.sliced(start, (end < 0 ? body.size() : end) - start);
    text += '\n';
    if (end < 0) return text;
    start = end + 1;
  }
}

bool StandardErrorIsJournal() {
  static const bool toJournal = IsJournalStream(STDERR_FILENO);
  return toJournal;
}

void WriteJournalLine(JournalPriority priority, QByteArrayView utf8Text) {
  const QByteArray text = JournalText(priority, utf8Text, StandardErrorIsJournal());
  std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
  std::fflush(stderr);
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
