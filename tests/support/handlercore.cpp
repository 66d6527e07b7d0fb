#include "support/handlercore.h"

#include <gtest/gtest.h>
#include <QFile>

#include "core/log/logline.h"
#include "core/relay/clientprotocol.h"
#include "core/text/cp949.h"

namespace handlertest {

QDateTime FixedNow() { return QDateTime(QDate(2026, 12, 7), QTime(9, 8, 7)); }

QByteArray FixedTimeText() { return "09:08:07"; }

CoreEnvironment::CoreEnvironment() : failingDatabase("DRIVER={Tarvex Test Missing Driver};") {
  database = &failingDatabase;
  clock = [] { return FixedNow(); };
}

std::unique_ptr<CentrixCore> CoreEnvironment::StartCore(TelControlFactory factory) {
  return ::StartCore(*this, std::move(factory));
}

void CoreEnvironment::ConfigureAccount(int slotNumber, const QByteArray& uid, const QByteArray& pwd,
                                       const QByteArray& serverIp) {
  SettingsStore& settings = Settings();
  settings.WriteProfileString(QStringLiteral("UID%1").arg(slotNumber), uid);
  settings.WriteProfileString(QStringLiteral("PWD%1").arg(slotNumber), pwd);
  settings.WriteProfileString(QStringLiteral("SERVERIP%1").arg(slotNumber), serverIp);
}

QByteArray CoreEnvironment::StoredString(const QString& name) {
  SettingsStore fresh(QStringLiteral("MERVO"), ApplicationName());
  return fresh.GetProfileString(name, "<unset>");
}

QByteArray CoreEnvironment::LogFileText() const {
  QFile file(StartupLogFileName(logDirectory, FixedNow().date()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray RecordFailureLine(const QByteArray& caller, const QByteArray& inboundTail,
                             const QByteArray& accountExt) {
  return ToCp949(QStringLiteral("DB 기록 실패: ")) + caller + " => " + inboundTail + "[" +
         accountExt + "]";
}

std::vector<QByteArray> ActivityLines(const CentrixCore& core) {
  std::vector<QByteArray> lines;
  for (int i = 0; i < core.Activity().List().Count(); ++i)
    lines.push_back(core.Activity().List().Line(i));
  return lines;
}

bool HasActivityLine(const CentrixCore& core, const QByteArray& line) {
  const std::vector<QByteArray> lines = ActivityLines(core);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<QByteArray> AccountRow(const CentrixCore& core, int row) {
  std::vector<QByteArray> cells;
  for (int column = 0; column < 6; ++column) {
    cells.push_back(core.Accounts().List().GetItemText(row, column));
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
