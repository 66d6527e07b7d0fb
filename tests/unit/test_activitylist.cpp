#include "core/log/activitylistmodel.h"

#include <gtest/gtest.h>

namespace {

QList<QByteArray> Lines(const ActivityListModel& model) {
  QList<QByteArray> lines;
  for (int row = 0; row < model.Count(); ++row) lines.append(model.Line(row));
  return lines;
}

TEST(ActivityListModel, InsertGoesToTheTop) {
  ActivityListModel model;
  model.InsertActivityLine("b");
  model.InsertActivityLine("c");
  model.InsertActivityLine("a");
  EXPECT_EQ(Lines(model), (QList<QByteArray>{"a", "c", "b"}));
}

TEST(ActivityListModel, CopiesGoWhereTheFirstWouldGo) {
  ActivityListModel model;
  for (const char* line : {"a", "c", "e"}) model.AppendActivityLine(line);
  model.AppendActivityLines("d", 3);
  model.AppendActivityLines("b", 0);
  EXPECT_EQ(Lines(model), (QList<QByteArray>{"a", "c", "d", "d", "d", "e"}));
}

TEST(ActivityListModel, AppendPlacesLinesBySortOrder) {
  struct Case {
    const char* name;
    QList<QByteArray> inserted;  // at the top, in this order
    QList<QByteArray> appended;
    QList<QByteArray> expected;
  };
  const QList<Case> cases = {
      {"sorted from empty", {}, {"b", "c", "a", "b"}, {"a", "b", "b", "c"}},
      {"case and digits by byte", {}, {"a", "B", "1"}, {"1", "B", "a"}},
      // CP949 lead bytes are above 0x7f and must sort after ASCII, not before.
      {"CP949 after ASCII", {}, {"\xbc\xf6", "z", "\xb0\xa1"}, {"z", "\xb0\xa1", "\xbc\xf6"}},
      {"equal line after its twin", {}, {"x1", "x", "x"}, {"x", "x", "x1"}},
      // Top insertions leave the list unsorted; the halving search never looks at "z",
      // where a scan from the top would stop.
      {"unsorted list", {"a", "z"}, {"m"}, {"z", "a", "m"}},
      {"unsorted list, three lines", {"c", "a", "z"}, {"b"}, {"z", "a", "b", "c"}},
  };
  for (const Case& c : cases) {
    ActivityListModel model;
    for (const QByteArray& line : c.inserted) model.InsertActivityLine(line);
    for (const QByteArray& line : c.appended) model.AppendActivityLine(line);
    EXPECT_EQ(Lines(model), c.expected) << c.name;
  }
}

TEST(ActivityListModel, EveryLinePastTheThousandCutsToTheTop501) {
  struct Case {
    int lines;
    bool sorted;  // appended where the sorting puts it, else inserted at the top
    int remaining;
    int removals;
  };
  const Case cases[] = {{0, false, 0, 0},       {1000, false, 1000, 0}, {1001, false, 501, 1},
                        {2500, false, 1000, 3}, {1001, true, 501, 1},   {2002, true, 502, 3}};
  for (const Case c : cases) {
    SCOPED_TRACE(testing::Message() << c.lines << (c.sorted ? " sorted" : " top"));
    ActivityListModel model;
    int removals = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved,
                     [&](const QModelIndex&, int first, int last) {
                       ++removals;
                       EXPECT_EQ(first, 501);
                       EXPECT_EQ(last, 1000);
                     });
    // Either way the lines that stay are 0, 1, 2 ... from the top: the top
    // insertions come in falling order, the sorted ones in rising order.
    for (int i = 0; i < c.lines; ++i) {
      if (c.sorted) {
        model.AppendActivityLine(QByteArray::number(i).rightJustified(5, '0'));
      } else {
        model.InsertActivityLine(QByteArray::number(c.lines - 1 - i).rightJustified(5, '0'));
      }
      ASSERT_LE(model.Count(), 1000);
    }
    model.TrimActivityList();  // the answer event's trim finds nothing more to cut
    ASSERT_EQ(model.Count(), c.remaining);
    EXPECT_EQ(removals, c.removals);
    for (int row = 0; row < model.Count(); ++row) {
      if (c.sorted) {
        // Sorted lines past row 501 were cut as they came: what stays is sorted.
        if (row > 0) {
          ASSERT_LT(model.Line(row - 1), model.Line(row));
        }
      } else {
        ASSERT_EQ(model.Line(row), QByteArray::number(row).rightJustified(5, '0'));
      }
    }
  }
}

TEST(ActivityListModel, ShowsLinesConvertedFromCp949) {
  ActivityListModel model;
  model.InsertActivityLine("10:00:00 Ring: \xbc\xf6\xbd\xc5");
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.rowCount(model.index(0)), 0);
  EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(),
            QStringLiteral("10:00:00 Ring: 수신"));
  EXPECT_FALSE(model.data(model.index(0), Qt::EditRole).isValid());
  EXPECT_FALSE(model.data(model.index(1), Qt::DisplayRole).isValid());

  // The stored line keeps its bytes; only what shows loses its control bytes.
  model.InsertActivityLine(
      "\x06\x06"
      "301 : 0101 ->  301\n");
  EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(),
            QStringLiteral("301 : 0101 ->  301"));
  EXPECT_EQ(model.Line(0), QByteArray("\x06\x06"
                                      "301 : 0101 ->  301\n"));
}

}  // namespace
