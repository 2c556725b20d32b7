// Each kind of file dialog opens in the folder of the last file of that kind, across sessions.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "external/tools/profile.h"
#include "gui/folder_memory.h"
#include "gui/prompts.h"
#include "support/test_env.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;

// Each kind of file dialog opens where a file of that kind was chosen last, also after a restart
// (the profile is the only memory).
TEST(FolderMemory, EachKindOpensWhereItsLastFileWasChosen) {
  const fs::path dems = ortavia::test::MakeTempDir("dems"), images = ortavia::test::MakeTempDir("images");
  std::ofstream(dems / "a.tif") << "x";
  std::ofstream(images / "b.tif") << "x";
  QtPrompts prompts(nullptr);
  struct Case {
    QString caption;
    fs::path chosen;
    fs::path expectedStart;  // where the following dialog of the same kind opens
  };
  const Case cases[] = {
      {"Select DEM", dems / "a.tif", dems},
      {"Add images", images / "b.tif", images},
      {"Select DEM", dems / "a.tif", dems},  // unchanged by the images
  };
  for (const Case& c : cases) {
    QTimer::singleShot(0, [&] {
      auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      d->selectFile(QString::fromStdString(c.chosen.string()));
      QMetaObject::invokeMethod(d, "accept");
    });
    EXPECT_EQ(prompts.PickOpenFile(c.caption, QStringLiteral("All (*)")), QString::fromStdString(c.chosen.string()));
    EXPECT_EQ(RememberedFolder(c.caption), QString::fromStdString(c.expectedStart.string())) << c.caption.toStdString();
  }
  // The next dialog of a kind starts there.
  QString opened;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    opened = d->directory().absolutePath();
    d->reject();
  });
  EXPECT_TRUE(prompts.PickOpenFile(QStringLiteral("Add images"), QStringLiteral("All (*)")).isEmpty());
  EXPECT_EQ(opened, QString::fromStdString(images.string()));
  EXPECT_EQ(GT_GetUserProfileString("Folders", "Add_images", ""), images.string());
}

}  // namespace
}  // namespace ortavia::ui::test
