#include "support/failurelog.h"

#include <gtest/gtest.h>

#include <QList>
#include <algorithm>
#include <iostream>

bool InFailingTest() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  return test != nullptr && test->result()->Failed();
}

void PrintLogTail(const QString& name, const QByteArray& log, int lines) {
  const QByteArray text = log.trimmed();
  const QList<QByteArray> all = text.isEmpty() ? QList<QByteArray>{} : text.split('\n');
  const qsizetype shown = std::min<qsizetype>(lines, all.size());
  std::cout << "---- " << name.toStdString() << ": last " << shown << " of " << all.size()
            << " lines ----\n";
  for (qsizetype n = all.size() - shown; n < all.size(); ++n) {
    std::cout << all[n].toStdString() << '\n';
  }
  std::cout << "---- end of " << name.toStdString() << " ----" << std::endl;
}
