#include <gtest/gtest.h>
#include <QCoreApplication>

// The suites of the core run without any GUI: sockets and timers need only
// the core application.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
