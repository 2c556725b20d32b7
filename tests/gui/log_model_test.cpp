// The log model: rows added while held reach the view in one insertion, newest on top.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "gui/log_model.h"

namespace ortavia::ui {
namespace {

TEST(LogModelTest, HeldRowsArePublishedInOneInsertionNewestFirst) {
  LogModel log;
  log.Add("t0", "before");
  QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
  log.Hold(true);
  for (int i = 1; i <= 5; ++i) log.Add(QString("t%1").arg(i), QString("row %1").arg(i));
  EXPECT_EQ(inserted.count(), 0);
  EXPECT_EQ(log.rowCount(), 1);
  EXPECT_EQ(log.Waiting(), 5);
  log.Flush();
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 0);
  EXPECT_EQ(inserted[0][2].toInt(), 4);
  const QStringList expected{"row 5", "row 4", "row 3", "row 2", "row 1", "before"};
  for (int i = 0; i < expected.size(); ++i) EXPECT_EQ(log.Operation(i), expected[i]) << i;
  EXPECT_EQ(log.When(0), "t5");
  // Still held: the next rows wait again; letting go publishes them.
  log.Add("t6", "row 6");
  EXPECT_EQ(log.rowCount(), 6);
  log.Hold(false);
  EXPECT_EQ(inserted.count(), 2);
  EXPECT_EQ(log.Operation(0), "row 6");
  log.Add("t7", "row 7");
  EXPECT_EQ(inserted.count(), 3);
  log.Flush();  // nothing waits: no empty insertion
  EXPECT_EQ(inserted.count(), 3);
}

}  // namespace
}  // namespace ortavia::ui
