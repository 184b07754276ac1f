// The reference host's tag browser (TarkoTg.so) as the driver calls it: TgFuncTable slot 4 with a
// shared string; it lists the tag database's tags and answers whether the user picked one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTimer>
#include <functional>

#include "fw/cstring.h"
#include "host/dbm/tag_db_api.h"
#include "host/tg/tag_browser_api.h"
#include "tarko/host_tables.h"
#include "tarko/tagval.h"

namespace {

struct Pick {
  const char* what;
  const char* queued;  // a name queued for the next browse, or null
  int row;             // the row the user picks, -1 to cancel
  int32_t result;
  const char* tag;     // the string afterwards
  QStringList listed;  // what the window showed (empty: no window)
};

TEST(TagBrowser, ListsTheTagDatabaseAndAnswersAPick) {
  void* module = dlopen("TarkoTg.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto* table = static_cast<TarkoFn*>(dlsym(module, kTgFuncTableName));
  ASSERT_NE(table, nullptr);
  auto browse = reinterpret_cast<TgBrowseTagFn>(table[kTgBrowseTag]);
  auto queue = reinterpret_cast<decltype(&TagBrowserQueue)>(dlsym(module, "TagBrowserQueue"));
  ASSERT_NE(queue, nullptr);
  TagDbReset();
  for (const char* tag : {"FLOW1", "LEVEL", "\xBC\xF6\xC0\xA7"}) TagDbDefine(tag, kTagTypeAnalog);
  const QStringList all = {"FLOW1", "LEVEL", QString::fromUtf8("\xEC\x88\x98\xEC\x9C\x84")};

  const Pick picks[] = {
      {"a pick", nullptr, 2, 1, "\xBC\xF6\xC0\xA7", all},
      {"cancelled", nullptr, -1, 0, "LEVEL", all},
      {"queued", "QUEUED", 0, 1, "QUEUED", {}},
  };
  for (const Pick& p : picks) {
    SCOPED_TRACE(p.what);
    queue(p.queued);
    QStringList listed;
    QString current;
    if (!p.listed.isEmpty())
      QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* list = dialog->findChild<QListWidget*>("tags");
        for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
        current = list->currentItem() ? list->currentItem()->text() : QString();
        if (p.row < 0) {
          dialog->reject();
        } else {
          list->setCurrentRow(p.row);
          dialog->accept();
        }
      });
    CString tag("LEVEL");
    EXPECT_EQ(browse(&tag), p.result);
    EXPECT_EQ(tag, p.tag);
    EXPECT_EQ(listed, p.listed);
    if (!p.listed.isEmpty()) {
      EXPECT_EQ(current, "LEVEL") << "the tag it was given is selected";
    }
  }
  dlclose(module);
}

}  // namespace
