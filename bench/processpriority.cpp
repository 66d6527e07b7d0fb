#include "bench/processpriority.h"

#include <sched.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

namespace {

// The parent's id in /proc/<pid>/stat: the command name may hold spaces,
// the fields after its ')' count from state (3).
pid_t ParentOf(const QString& pid) {
  QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray stat = file.readAll();
  return pid_t(stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toInt());
}

QList<pid_t> TreeOf(pid_t root) {
  QList<pid_t> tree{root};
  const QStringList all = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
  // Parents come before their children only by chance: repeat until nothing is added.
  for (qsizetype found = 0; found != tree.size();) {
    found = tree.size();
    for (const QString& entry : all) {
      bool number = false;
      const pid_t pid = pid_t(entry.toInt(&number));
      if (number && !tree.contains(pid) && tree.contains(ParentOf(entry))) tree.append(pid);
    }
  }
  return tree;
}

}  // namespace

int IdleOfTree(pid_t root) {
  const sched_param none{};
  int set = 0;
  for (const pid_t pid : TreeOf(root)) {
    const QStringList threads =
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& thread : threads) {
      set += ::sched_setscheduler(pid_t(thread.toInt()), SCHED_IDLE, &none) == 0;
    }
  }
  return set;
}
