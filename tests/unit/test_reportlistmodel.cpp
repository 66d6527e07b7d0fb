#include "core/telephony/reportlistmodel.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Three columns, rows "r0" to "r4" with "old" in column 2.
void Fill(ReportListModel& model) {
  for (const char* header : {"a", "b", "c"}) model.InsertColumn(header, 10);
  for (int row = 0; row < 5; ++row) {
    model.InsertItem(row, "r" + QByteArray::number(row));
    model.SetItemText(row, 2, "old");
  }
}

TEST(ReportListModel, ColumnTextSetsTheGivenRowsWithOneChange) {
  struct Case {
    const char* name;
    std::vector<int> rows;
    int column;
    QList<QByteArray> expected;   // column 2 of rows 0 to 4 afterwards
    std::pair<int, int> changed;  // first and last row announced; {-1, -1}: no change
  };
  const QList<Case> cases = {
      {"some rows", {3, 1}, 2, {"old", "x", "old", "x", "old"}, {1, 3}},
      {"rows past either end are skipped",
       {-1, 4, 5, 0},
       2,
       {"x", "old", "old", "old", "x"},
       {0, 4}},
      {"no rows", {}, 2, {"old", "old", "old", "old", "old"}, {-1, -1}},
      {"no such column", {1, 2}, 3, {"old", "old", "old", "old", "old"}, {-1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportListModel model;
    Fill(model);
    std::vector<std::pair<QModelIndex, QModelIndex>> changes;
    QObject::connect(
        &model, &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& from, const QModelIndex& to) { changes.emplace_back(from, to); });
    model.SetColumnText(c.rows, c.column, "x");
    QList<QByteArray> column;
    for (int row = 0; row < 5; ++row) column.append(model.GetItemText(row, 2));
    EXPECT_EQ(column, c.expected);
    if (c.changed.first < 0) {
      EXPECT_TRUE(changes.empty());
      continue;
    }
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first, model.index(c.changed.first, c.column));
    EXPECT_EQ(changes[0].second, model.index(c.changed.second, c.column));
  }
}

}  // namespace
