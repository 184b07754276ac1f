// The tag browser's window: a list of the tag database's tags; a double click or OK picks the
// selected one. The current tag is selected when the list opens.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "fw/cstring.h"
#include "host/dbm/tag_db_api.h"
#include "host/tg/tag_dialog.h"
#include "platform/text/cp949.h"

namespace {

std::vector<std::string> TagNames() {
  std::vector<std::string> names;
  for (int32_t i = 0, n = TagDbCount(); i < n; ++i) {
    int32_t length = TagDbName(i, nullptr, 0);
    if (length < 0) continue;
    std::string name(static_cast<size_t>(length) + 1, '\0');
    TagDbName(i, name.data(), length + 1);
    name.resize(static_cast<size_t>(length));
    names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

int32_t ShowTagDialog(CString* tag) {
  if (!tag || !qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
  QDialog dialog(QApplication::activeModalWidget());
  dialog.setObjectName(QStringLiteral("tag_browser"));
  dialog.setWindowTitle(QStringLiteral("Tags"));
  auto* list = new QListWidget(&dialog);
  list->setObjectName(QStringLiteral("tags"));
  const std::vector<std::string> names = TagNames();
  for (const std::string& name : names) {
    auto* item =
        new QListWidgetItem(QString::fromStdString(veldrane::platform::Cp949ToUtf8(name)), list);
    if (name == tag->GetString()) list->setCurrentItem(item);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(list);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return 0;
  const std::string& picked = names[static_cast<size_t>(list->currentRow())];
  tag->Assign(picked.data(), picked.size());
  return 1;
}
