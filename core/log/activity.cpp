// The activity operations: the list and the daily log file, with the core's clock.
#include "core/centrixcore.h"

void CentrixCore::InsertActivityLine(const QByteArray& text) { m_listLog.InsertActivityLine(text); }

void CentrixCore::AppendActivityLine(const QByteArray& text) { m_listLog.AppendActivityLine(text); }

void CentrixCore::TrimActivityList() { m_listLog.TrimActivityList(); }

void CentrixCore::AppendLogLine(const QByteArray& text) { m_logFile.AppendLogLine(Now(), text); }

void CentrixCore::OpenLogFileAtStartup() { m_logFile.OpenAtStartup(Now().date()); }

void CentrixCore::CheckLogFileDate() { m_logFile.CheckLogFileDate(Now().date()); }
