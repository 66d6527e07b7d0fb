#pragma once

#include <QByteArray>

// Wrapper of the second control kind. No such control is ever created, so
// every call does nothing and yields FALSE.
class CTasbaseopenapictrl1 {
 public:
  bool IsLoggedIn() { return false; }
  void Logout() {}
  bool LoginDCS(const QByteArray&, const QByteArray&, const QByteArray&) { return false; }
  bool Login(const QByteArray&, const QByteArray&, const QByteArray&) { return false; }
};
