#include "support/handlerwindow.h"

#include <gtest/gtest.h>
#include <QFile>

#include "relay/clientprotocol.h"
#include "telephony/cp949.h"
#include "ui/logline.h"

namespace handlertest {

QDateTime FixedNow() { return QDateTime(QDate(2026, 12, 7), QTime(9, 8, 7)); }

QByteArray FixedTimeText() { return "09:08:07"; }

WindowEnvironment::WindowEnvironment() : failingDatabase("DRIVER={Tarvex Test Missing Driver};") {
  database = &failingDatabase;
  clock = [] { return FixedNow(); };
}

std::unique_ptr<CTarvexCentrixDlg> WindowEnvironment::StartWindow(TelControlFactory factory) {
  MainWindowContext context = Context(std::move(factory));
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

QByteArray WindowEnvironment::StoredString(const QString& name) {
  SettingsStore fresh(QStringLiteral("MERVO"), Context().applicationName);
  return fresh.GetProfileString(name, "<unset>");
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
  m_client = std::make_unique<TestClient>(port);
  const QByteArray ack = RegisterAck();
  return m_client->IsConnected() && m_client->Send(text) && m_client->WaitForBytes(ack.size()) &&
         m_client->Received().startsWith(ack);
}

std::vector<QByteArray> NoticeClient::Records() {
  const QByteArray notices = m_client->Received().mid(RegisterAck().size());
  std::vector<QByteArray> records;
  for (qsizetype at = 0; at + kCallNoticeSize <= notices.size(); at += kCallNoticeSize) {
    records.push_back(notices.mid(at, kCallNoticeSize));
  }
  return records;
}

}  // namespace handlertest
