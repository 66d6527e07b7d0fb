#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Writes one flat JSON object, its members in the order they are added;
// texts are UTF-8 and escaped as QJsonDocument escapes them.
class JsonObjectWriter {
 public:
  JsonObjectWriter();

  void AddString(const char* name, QByteArrayView utf8);
  void AddNumber(const char* name, qint64 number);
  void AddBool(const char* name, bool truth);
  QByteArray Finish();

 private:
  void AddName(const char* name);

  QByteArray m_text;
};
