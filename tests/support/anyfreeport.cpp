#include "support/anyfreeport.h"

#include <QTcpServer>
#include <random>

quint16 AnyFreePort() {
  constexpr int kFirst = 20000;
  constexpr int kCount = 5000;
  static std::mt19937 random{std::random_device{}()};
  const int start = int(random() % kCount);
  for (int offset = 0; offset < kCount; ++offset) {
    const auto port = quint16(kFirst + (start + offset) % kCount);
    QTcpServer probe;
    if (probe.listen(QHostAddress::AnyIPv4, port)) return port;
  }
  return 0;
}
