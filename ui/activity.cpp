// The window's activity operations: the list, the latest-information box's
// source lines and the daily log file, with the window's clock.
#include "ui/tarvexdlg.h"

void CTarvexCentrixDlg::InsertActivityLine(const QByteArray& text) {
  m_listLog.InsertActivityLine(text);
}

void CTarvexCentrixDlg::AppendActivityLine(const QByteArray& text) {
  m_listLog.AppendActivityLine(text);
}

void CTarvexCentrixDlg::TrimActivityList() { m_listLog.TrimActivityList(); }

void CTarvexCentrixDlg::AppendLogLine(const QByteArray& text) {
  m_logFile.AppendLogLine(Now(), text);
}

void CTarvexCentrixDlg::OpenLogFileAtStartup() { m_logFile.OpenAtStartup(Now().date()); }

void CTarvexCentrixDlg::CheckLogFileDate() { m_logFile.CheckLogFileDate(Now().date()); }
