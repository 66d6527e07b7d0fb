#include "tools/telsim/commandrunner.h"

#include <QRegularExpression>
#include <QTimer>

#include "core/telephony/telprotocol.h"
#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

QString CommandHelp() {
  return QStringLiteral(
      "Commands (one per line; blank lines and lines starting with # are skipped):\n"
      "  ring ID CALLER INEXTEN [ISDIAL]   Ring event; ISDIAL 1 marks a call the account dials\n"
      "  hangup ID CALLER INEXTEN [PEER]   HangUp (pick-up) event on channel SIP/PEER-...;\n"
      "                                    PEER defaults to trunk; the account's own extension\n"
      "                                    makes it an outgoing call\n"
      "  callend ID                        CallEnd event\n"
      "  raw ID EVENT [TEXT]               any event name and text; TEXT is the rest of the\n"
      "                                    line after one space, with \\\\ \\t \\n \\r escapes;\n"
      "                                    without TEXT the event carries a null text\n"
      "  account ID:PWD:EXT[:STATUS]       add or replace an account\n"
      "  drop ID                           close the connections of ID\n"
      "  list                              accounts, sign-ins and connections\n"
      "  sleep MS                          hold the following commands for MS milliseconds\n"
      "  wait-login ID                     hold the following commands until ID signs in\n"
      "  help                              this text\n"
      "  quit                              end the simulator\n"
      "Events go to every connection whose latest sign-in named ID.");
}

CommandRunner::CommandRunner(TelephonyServer& server, QObject* parent)
    : QObject(parent), m_server(server) {
  connect(&m_server, &TelephonyServer::EventSent, this,
          [this](const QString& accountId, const QString& eventName, const QString& text,
                 int connections) {
            if (m_bEchoEvents) {
              emit Output(QStringLiteral("%1 -> %2 (%3 connection(s)): %4")
                              .arg(eventName, accountId, QString::number(connections),
                                   text.isNull() ? QStringLiteral("(null)") : text));
            }
          });
  connect(&m_server, &TelephonyServer::AccountSignedIn, this, [this](const QString& accountId) {
    if (m_bPaused && accountId == m_waitLoginId) {
      m_waitLoginId.clear();
      // Not from inside the server's own handler.
      QMetaObject::invokeMethod(this, &CommandRunner::Resume, Qt::QueuedConnection);
    }
  });
}

void CommandRunner::Enqueue(const QString& line) {
  m_queue.append(line);
  RunQueue();
}

void CommandRunner::RunQueue() {
  while (!m_bPaused && !m_queue.isEmpty()) {
    Execute(m_queue.takeFirst());
  }
}

void CommandRunner::Resume() {
  m_bPaused = false;
  RunQueue();
}

void CommandRunner::Execute(const QString& line) {
  static const QRegularExpression kWhiteSpace(QStringLiteral("\\s+"));
  const QStringList words = line.split(kWhiteSpace, Qt::SkipEmptyParts);
  if (words.isEmpty() || words[0].startsWith(QLatin1Char('#'))) {
    return;
  }
  m_bEchoEvents = true;
  const bool done = Run(words[0].toLower(), words.mid(1), line);
  m_bEchoEvents = false;
  if (!done) {
    emit Output(QStringLiteral("error: cannot run \"%1\" (try help)").arg(line.trimmed()));
  }
}

bool CommandRunner::Run(const QString& command, const QStringList& args, const QString& line) {
  const qsizetype count = args.size();
  if (command == QLatin1String("ring") && (count == 3 || count == 4)) {
    const QString isDial = count == 4 ? args[3] : QStringLiteral("0");
    if (isDial != QLatin1String("0") && isDial != QLatin1String("1")) {
      return false;
    }
    m_server.SendRing(args[0], args[1], args[2], isDial == QLatin1String("1"));
    return true;
  }
  if (command == QLatin1String("hangup") && (count == 3 || count == 4)) {
    m_server.SendHangUp(args[0], args[1], args[2], count == 4 ? args[3] : kOutsideLinePeer);
    return true;
  }
  if (command == QLatin1String("callend") && count == 1) {
    m_server.SendCallEnd(args[0]);
    return true;
  }
  if (command == QLatin1String("raw") && count >= 2) {
    return SendRaw(line);
  }
  if (command == QLatin1String("account") && count == 1) {
    const std::optional<TelAccount> account = ParseTelAccount(args[0]);
    if (account) {
      m_server.AddAccount(*account);
      emit Output(QStringLiteral("account %1 added").arg(account->id));
    }
    return account.has_value();
  }
  if (command == QLatin1String("drop") && count == 1) {
    const int connections = m_server.CloseConnections(args[0]);
    emit Output(QStringLiteral("dropped %1 connection(s) of %2").arg(connections).arg(args[0]));
    return true;
  }
  if (command == QLatin1String("list") && count == 0) {
    ListAccounts();
    return true;
  }
  if (command == QLatin1String("sleep") && count == 1) {
    bool isNumber = false;
    const int ms = args[0].toInt(&isNumber);
    if (!isNumber || ms < 0) {
      return false;
    }
    m_bPaused = true;
    QTimer::singleShot(ms, this, &CommandRunner::Resume);
    return true;
  }
  if (command == QLatin1String("wait-login") && count == 1) {
    if (!m_server.IsSignedIn(args[0])) {
      m_bPaused = true;
      m_waitLoginId = args[0];
      emit Output(QStringLiteral("waiting for %1 to sign in").arg(args[0]));
    }
    return true;
  }
  if (command == QLatin1String("help") && count == 0) {
    emit Output(CommandHelp());
    return true;
  }
  if (command == QLatin1String("quit") && count == 0) {
    m_queue.clear();
    emit QuitRequested();
    return true;
  }
  return false;
}

bool CommandRunner::SendRaw(const QString& line) {
  // The text is the rest of the line verbatim, so that it may hold any spacing.
  static const QRegularExpression kRaw(QStringLiteral("^\\s*raw\\s+(\\S+)\\s+(\\S+)(?: (.*))?$"),
                                       QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = kRaw.match(line);
  if (!match.hasMatch()) {
    return false;
  }
  QString text;
  if (match.hasCaptured(3)) {
    const std::optional<QByteArray> plain = UnescapeTelField(match.captured(3).toUtf8());
    if (!plain) {
      return false;
    }
    text = DecodeTelText(*plain);
  }
  m_server.SendRaw(match.captured(1), match.captured(2), text);
  return true;
}

void CommandRunner::ListAccounts() {
  emit Output(QStringLiteral("%1 connection(s), signed in: %2")
                  .arg(m_server.ConnectionCount())
                  .arg(m_server.SignedInAccounts().join(QLatin1Char(' '))));
  for (const TelAccount& account : m_server.Accounts()) {
    emit Output(
        QStringLiteral("  %1 password=%2 number=%3 status=%4%5")
            .arg(account.id, account.password, account.number)
            .arg(account.status)
            .arg(m_server.IsSignedIn(account.id) ? QStringLiteral(" (signed in)") : QString()));
  }
}
