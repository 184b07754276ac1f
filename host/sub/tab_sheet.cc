#include "tarko/tab_sheet.h"

#include <vector>

CTabPage::~CTabPage() = default;

CTabSheet::View::~View() = default;

struct CTabSheet::Pages {
  std::vector<CTabPage*> list;
};

CTabSheet::CTabSheet() : pages_(std::make_unique<Pages>()) {}

CTabSheet::~CTabSheet() = default;

void CTabSheet::Attach(View* view) {
  view_ = view;
}

int CTabSheet::AddPage(CTabPage* page) {
  pages_->list.push_back(page);
  int index = static_cast<int>(pages_->list.size()) - 1;
  if (view_) view_->OnPageAdded(index, page);
  if (active_ < 0) SetActivePage(index);
  return index;
}

bool CTabSheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return false;
  if (index == active_) return true;
  int old = active_;
  active_ = index;
  if (view_) view_->OnActivePage(index);
  if (old >= 0 && pages_->list[old]) pages_->list[old]->OnShowPage(false);
  if (pages_->list[index]) pages_->list[index]->OnShowPage(true);
  return true;
}

int CTabSheet::GetActiveIndex() const {
  return active_;
}

int CTabSheet::GetPageCount() const {
  return static_cast<int>(pages_->list.size());
}

CTabPage* CTabSheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_->list[index] : nullptr;
}
