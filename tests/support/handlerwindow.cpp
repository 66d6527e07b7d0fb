#include "support/handlerwindow.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QtEndian>

#include "support/qtwait.h"
#include "telephony/cp949.h"
#include "ui/logline.h"

namespace handlertest {

namespace {

quint16 FreeTcpPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

void UseSettingsDirectory(const QTemporaryDir& directory) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     directory.filePath(QStringLiteral("settings")));
}

const QByteArray kRegisterAck("\x11\x55\xFE\x00", 4);

}  // namespace

MessageAnswer RecordingPresenter::Show(QWidget*, const QString&, const QByteArray& text,
                                       MessageButtons buttons, MessageIcon) {
  shown.push_back(FromCp949(text));
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

QDateTime FixedNow() { return QDateTime(QDate(2026, 12, 7), QTime(9, 8, 7)); }

QByteArray FixedTimeText() { return "09:08:07"; }

WindowEnvironment::WindowEnvironment()
    : logDirectory(directory.filePath(QStringLiteral("CIDLog"))),
      extPort(FreeTcpPort()),
      ldkPort(FreeTcpPort()),
      database("DRIVER={Tarvex Test Missing Driver};") {
  while (ldkPort == extPort) ldkPort = FreeTcpPort();
}

SettingsStore& WindowEnvironment::Settings() {
  if (!m_settings) {
    UseSettingsDirectory(directory);
    m_settings = std::make_unique<SettingsStore>(QStringLiteral("MERVO"), QStringLiteral("Tarvex"));
  }
  return *m_settings;
}

std::unique_ptr<CTarvexCentrixDlg> WindowEnvironment::StartWindow(TelControlFactory factory) {
  MainWindowContext context;
  context.applicationName = QStringLiteral("Tarvex");
  context.settings = &Settings();
  context.presenter = &presenter;
  context.database = &database;
  context.telControlFactory = std::move(factory);
  context.logDirectory = logDirectory;
  context.extPort = extPort;
  context.ldkPort = ldkPort;
  context.clock = [] { return FixedNow(); };
  // Through a lambda, so that a test may script the dialog after the start.
  context.runSetPortDialog = [this](CDlgSetPort& dialog) {
    if (runSetPortDialog) return runSetPortDialog(dialog);
    ADD_FAILURE() << "the settings dialog was opened without a script";
    return 0;
  };
  auto window = std::make_unique<CTarvexCentrixDlg>(std::move(context));
  if (!window->CreateTelephonyControls()) return nullptr;
  window->OnInitDialog();
  return window;
}

QByteArray WindowEnvironment::LogFileText() const {
  QFile file(StartupLogFileName(logDirectory, FixedNow().date()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray RecordFailureLine(const QByteArray& caller, const QByteArray& inboundTail,
                             const QByteArray& accountExt) {
  return ToCp949(QStringLiteral("DB 기록 실패: ")) + caller + " => " + inboundTail + "[" +
         accountExt + "]";
}

std::vector<QByteArray> ActivityLines(const CTarvexCentrixDlg& window) {
  std::vector<QByteArray> lines;
  for (int i = 0; i < window.m_listLog.Count(); ++i) lines.push_back(window.m_listLog.Line(i));
  return lines;
}

bool HasActivityLine(const CTarvexCentrixDlg& window, const QByteArray& line) {
  const std::vector<QByteArray> lines = ActivityLines(window);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<QByteArray> AccountRow(const CTarvexCentrixDlg& window, int row) {
  std::vector<QByteArray> cells;
  for (int column = 0; column < 6; ++column) {
    cells.push_back(window.m_listAccounts.GetItemText(row, column));
  }
  return cells;
}

bool NoticeClient::Register(quint16 port, const QByteArray& text) {
  m_socket.connectToHost(QHostAddress::LocalHost, port);
  if (!WaitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; })) {
    return false;
  }
  m_socket.write(text);
  const bool answered = WaitUntil([this] {
    m_received += m_socket.readAll();
    return m_received.size() >= kRegisterAck.size();
  });
  if (!answered || !m_received.startsWith(kRegisterAck)) return false;
  m_received.remove(0, kRegisterAck.size());
  return true;
}

std::vector<QByteArray> NoticeClient::Records() {
  m_received += m_socket.readAll();
  std::vector<QByteArray> records;
  for (qsizetype at = 0; at + kCallNoticeSize <= m_received.size(); at += kCallNoticeSize) {
    records.push_back(m_received.mid(at, kCallNoticeSize));
  }
  return records;
}

CallNotice DecodeNotice(const QByteArray& record) {
  CallNotice notice;
  const char* bytes = record.constData();
  notice.accountExt = qFromLittleEndian<qint32>(bytes);
  notice.inExten = qFromLittleEndian<qint32>(bytes + 4);
  std::copy(bytes + 8, bytes + 20, notice.callerId);
  notice.state = qFromLittleEndian<qint32>(bytes + 20);
  return notice;
}

}  // namespace handlertest
