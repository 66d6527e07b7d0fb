#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class TelephonyServer;

// The simulator's commands, one per line, from the keyboard or a script
// file alike. Commands run in order; "sleep" and "wait-login" hold back the
// ones queued after them without blocking the event loop.
class CommandRunner : public QObject {
  Q_OBJECT
 public:
  explicit CommandRunner(TelephonyServer& server, QObject* parent = nullptr);

  void Enqueue(const QString& line);
  // No command queued and none waiting.
  bool IsIdle() const { return !m_bPaused && m_queue.isEmpty(); }

 signals:
  // One line for the operator, per command and per event it sent.
  void Output(const QString& line);
  void QuitRequested();

 private:
  void RunQueue();
  void Resume();
  void Execute(const QString& line);
  // False when the command or its arguments cannot be read.
  bool Run(const QString& command, const QStringList& args, const QString& line);
  bool SendRaw(const QString& line);
  void ListAccounts();

  TelephonyServer& m_server;
  QStringList m_queue;
  bool m_bPaused = false;
  QString m_waitLoginId;
  bool m_bEchoEvents = false;
};

// The command reference, for --help and the "help" command.
QString CommandHelp();
