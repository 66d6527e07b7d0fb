#include "bench/procstats.h"

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QList>

namespace {

QByteArray ReadProcFile(pid_t pid, const char* name) {
  QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "Name:   1234 kB" in /proc/<pid>/status.
int64_t StatusKb(const QByteArray& status, const QByteArray& name) {
  const qsizetype at = status.indexOf('\n' + name + ':');
  if (at < 0) return -1;
  const qsizetype end = status.indexOf('\n', at + 1);
  const QByteArray value = status.mid(at + name.size() + 2, end - at - name.size() - 2);
  return value.simplified().split(' ').value(0).toLongLong();
}

}  // namespace

double CpuSecondsOf(pid_t pid) {
  const QByteArray stat = ReadProcFile(pid, "stat");
  // The command name may hold spaces; the fields after its ')' count from state (3).
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0) return -1;
  const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
  constexpr int kUtime = 14 - 3;
  constexpr int kStime = 15 - 3;
  if (fields.size() <= kStime) return -1;
  const double ticks = double(fields[kUtime].toLongLong() + fields[kStime].toLongLong());
  return ticks / double(sysconf(_SC_CLK_TCK));
}

ProcessMemory MemoryOf(pid_t pid) {
  const QByteArray status = ReadProcFile(pid, "status");
  return {StatusKb(status, "VmHWM"), StatusKb(status, "VmRSS")};
}
