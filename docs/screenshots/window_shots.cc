// veldrane-window-shots: pictures of the configuration window for the README. Opens a
// configuration in the window and saves the station page, the port page and the station dialog
// (on the first station) as PNG files. docs/screenshots/make-screenshots.sh runs it under Xvfb.
#include <QApplication>
#include <QTabWidget>
#include <QTreeWidget>
#include <cstdio>
#include <string>

#include "config/doc.h"
#include "driver/window_document.h"
#include "ui/config_window.h"
#include "ui/interaction.h"
#include "ui/station_dialog.h"
#include "ui/station_page.h"

namespace {

// Answers nothing and runs no modal loop: the pictures are taken of dialogs that are only shown.
class NoInteraction : public veldrane::ui::Interaction {
 public:
  bool AskYesNo(QWidget*, int32_t, const QString&) override { return false; }
  void ShowMessage(QWidget*, int32_t, const QString&) override {}
  int RunDialog(QDialog&) override { return QDialog::Rejected; }
};

bool Save(QWidget* widget, const std::string& path) {
  QApplication::processEvents();
  bool ok = widget->grab().save(QString::fromStdString(path), "PNG");
  if (!ok) std::fprintf(stderr, "veldrane-window-shots: cannot write %s\n", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "Usage: veldrane-window-shots CONFIG OUTPUT-FOLDER\n");
    return 2;
  }
  CVeldraneDoc doc;
  doc.SetPath(argv[1]);
  if (!doc.Load(argv[1])) {
    std::fprintf(stderr, "veldrane-window-shots: cannot read %s\n", argv[1]);
    return 1;
  }
  std::string out = argv[2];
  veldrane::WindowDocument view(doc, [](CString*) { return 0; });
  NoInteraction ui;
  veldrane::ui::ConfigWindow window(view, ui);
  window.show();
  auto& page = window.station_page();
  if (page.root() && page.root()->childCount() > 0) {
    page.tree()->setCurrentItem(page.root()->child(0));
  }
  bool ok = Save(&window, out + "/station-page.png");
  window.sheet().SetActivePage(1);
  ok = Save(&window, out + "/port-page.png") && ok;
  window.sheet().SetActivePage(0);
  int image = 0;
  veldrane::ui::StationDialog dialog(&window, view, page.GetSelectedStation(&image), ui);
  dialog.show();
  ok = Save(&dialog, out + "/station-dialog.png") && ok;
  return ok ? 0 : 1;
}
