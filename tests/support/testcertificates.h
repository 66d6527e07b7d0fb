#pragma once

#include <QSslConfiguration>
#include <QString>
#include <QTemporaryDir>

// A certificate authority of the test's own (ca.pem), one the relay does not
// use (other.pem), and a server certificate for 127.0.0.1 and localhost from the first
// (relay.pem, relay.key), made by openssl.
struct TestCertificates {
  TestCertificates();
  // A client that trusts only the authority in file.
  QSslConfiguration Trusting(const QString& file) const;
  QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }

  QTemporaryDir dir;
  bool made = false;
};
