#include "support/testcertificates.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>

TestCertificates::TestCertificates() {
  QFile extension(dir.filePath(QStringLiteral("san.ext")));
  made = extension.open(QIODevice::WriteOnly) &&
         extension.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
  extension.close();
  const QStringList ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  for (const QStringList& arguments :
       {QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Test CA", "-keyout", "ca.key",
                    "-out", "ca.pem"} +
            ecKey,
        QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Other CA", "-keyout", "other.key",
                    "-out", "other.pem"} +
            ecKey,
        QStringList{"req", "-subj", "/CN=127.0.0.1", "-keyout", "relay.key", "-out", "relay.csr"} +
            ecKey,
        QStringList{"x509", "-req", "-in", "relay.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                    "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "relay.pem"}}) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.start(QStringLiteral("openssl"), arguments);
    made = made && openssl.waitForFinished(30000) && openssl.exitCode() == 0;
  }
}

QSslConfiguration TestCertificates::Trusting(const QString& file) const {
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setCaCertificates(QSslCertificate::fromPath(dir.filePath(file)));
  return tls;
}
