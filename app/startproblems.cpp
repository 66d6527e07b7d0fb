#include "app/startproblems.h"

#include <QString>

#include "core/centrixcore.h"

QList<QByteArray> StartProblems(const CentrixCore& core) {
  QList<QByteArray> problems;
  for (const int kind : {kExtensionClient, kLdkClient}) {
    const QTcpServer& server = core.Relay().Server(kind);
    if (!server.isListening()) {
      problems.append(QStringLiteral("Cannot listen on port %1: %2")
                          .arg(core.Relay().Port(kind))
                          .arg(server.errorString())
                          .toUtf8());
    }
  }
  if (!core.Activity().LogFile().IsOpen()) {
    problems.append(QStringLiteral("Cannot write the log file %1: no log is kept")
                        .arg(core.Activity().LogFile().FileName())
                        .toUtf8());
  }
  return problems;
}
