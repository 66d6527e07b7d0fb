#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

// The daily log file: opened at start-up, switched by the hourly check,
// locked so that no other copy of the program writes into it meanwhile.
// Failures leave it closed without a message.
class DailyLogFile {
 public:
  explicit DailyLogFile(QString directory);
  ~DailyLogFile();
  DailyLogFile(const DailyLogFile&) = delete;
  DailyLogFile& operator=(const DailyLogFile&) = delete;

  // Creates the directory if missing, opens CID_U_<today>.txt at its end, writes a separator.
  void OpenAtStartup(const QDate& today);
  // Switches to CID_<today>.txt when that name differs from the open one.
  void CheckLogFileDate(const QDate& today);
  // One entry line; dropped while no file is open.
  void AppendLogLine(const QDateTime& now, const QByteArray& text);
  void Close();

  bool IsOpen() const { return m_fd >= 0; }
  const QString& FileName() const { return m_strLogFileName; }

 private:
  // Closes the open file and opens fileName in its place.
  void Switch(const QString& fileName);
  void OpenAtEnd();
  void Write(const QByteArray& bytes);

  QString m_directory;
  QString m_strLogFileName;
  int m_fd = -1;
};
