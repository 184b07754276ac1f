#include "ui/station_page.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "hostlink/texts.h"
#include "ui/dialog_units.h"
#include "ui/page_owner.h"
#include "ui/station_images.h"
#include "ui/ui_text.h"

namespace veldrane::ui {
namespace {

constexpr int kStationRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

window::StationId StationOf(const QTreeWidgetItem* item) {
  return reinterpret_cast<window::StationId>(item->data(0, kStationRole).value<quintptr>());
}

}  // namespace

StationPage::StationPage(window::Document& doc, QWidget* parent)
    : QWidget(parent), doc_(doc), tree_(new QTreeWidget(this)) {
  setWindowTitle(FromCp949(texts::kStationPageCaption));
  setFont(DialogFont());
  DialogUnits du(font());
  resize(du.X(171), du.Y(168));
  tree_->setObjectName(QStringLiteral("tree"));
  Place(tree_, du, 4, 4, 164, 160);
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(false);  // no lines at the root level
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setExpandsOnDoubleClick(false);
  tree_->setIconSize(QSize(kImageCell, kImageCell));
  // Labels are shown whole: the column is as wide as the widest label and the tree scrolls
  // sideways when that is wider than the tree.
  tree_->setTextElideMode(Qt::ElideNone);
  tree_->header()->setStretchLastSection(false);
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  tree_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { OnSelectionChanged(); });
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) {
    if (owner_) owner_->EditCommand();
  });
  RefreshTree();
}

QTreeWidgetItem* StationPage::AddStationItem(window::StationId station) {
  auto* item = new QTreeWidgetItem(root_, {FromCp949(doc_.Label(station))});
  item->setIcon(0, StationImage(kStationImage));
  item->setData(0, kStationRole, QVariant::fromValue(reinterpret_cast<quintptr>(station)));
  item->setData(0, kImageRole, kStationImage);
  return item;
}

void StationPage::RefreshTree() {
  tree_->setUpdatesEnabled(false);
  tree_->clear();
  root_ = new QTreeWidgetItem(tree_, {FromFileName(doc_.Title())});
  root_->setIcon(0, StationImage(kRootImage));
  root_->setData(0, kStationRole, QVariant::fromValue(quintptr{0}));
  root_->setData(0, kImageRole, kRootImage);
  for (window::StationId station : doc_.Stations()) AddStationItem(station);
  root_->setExpanded(true);
  tree_->setUpdatesEnabled(true);
}

void StationPage::InsertStation(window::StationId station) {
  QTreeWidgetItem* item = AddStationItem(station);
  tree_->setCurrentItem(item);
}

QTreeWidgetItem* StationPage::ItemOf(window::StationId station) const {
  for (int i = 0; root_ && i < root_->childCount(); ++i) {
    if (StationOf(root_->child(i)) == station) return root_->child(i);
  }
  return nullptr;
}

void StationPage::UpdateStation(window::StationId station) {
  if (QTreeWidgetItem* item = ItemOf(station)) item->setText(0, FromCp949(doc_.Label(station)));
}

window::StationId StationPage::GetSelectedStation(int* image) const {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  if (selected.isEmpty()) return nullptr;
  if (image) *image = selected.first()->data(0, kImageRole).toInt();
  return StationOf(selected.first());
}

void StationPage::DeleteSelectedItem() {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  if (selected.isEmpty()) return;
  if (selected.first() == root_) root_ = nullptr;
  delete selected.first();
  // The tree may or may not report the selection it moves to; the buttons follow what it shows.
  OnSelectionChanged();
}

void StationPage::OnSelectionChanged() {
  int image = kRootImage;
  selected_ = GetSelectedStation(&image);
  UpdateButtons();
}

void StationPage::UpdateButtons() {
  if (owner_) owner_->EnableStationButtons(selected_ != nullptr, selected_ != nullptr, true);
}

std::string StationPage::CopyText() const {
  int image = kRootImage;
  if (tree_->selectedItems().isEmpty()) return std::string();
  // The root's station is null: every station's line.
  return doc_.StationLines(GetSelectedStation(&image));
}

int StationPage::PasteText(const std::string& text) {
  if (doc_.PasteLines(text) <= 0) return 0;
  RefreshTree();
  return 1;
}

void StationPage::OnShowPage(bool shown) {
  if (shown) UpdateButtons();
}

}  // namespace veldrane::ui
