// CTabSheet: the host's tab sheet, which hosts property pages in a tab control.
//
// The sheet keeps the pages (numbered from 0 in the order added), which one is shown and the show
// notifications; the tab control that draws the tabs is the window's own and attaches itself as
// the sheet's view. So the class library needs no window toolkit.
//
// ABI: exported from TarkoSub.so; one sheet is used by the thread of its window only.
#pragma once

#include <memory>

#include "tarko/export.h"

// A page of a tab sheet.
class TARKO_API CTabPage {
 public:
  virtual ~CTabPage();
  // Told each time the page is shown (true) or hidden (false) by the sheet.
  virtual void OnShowPage(bool shown) = 0;
};

class TARKO_API CTabSheet {
 public:
  // The tab control attached to the sheet.
  class View {
   public:
    virtual ~View();
    // A page was added at `index`.
    virtual void OnPageAdded(int index, CTabPage* page) = 0;
    // The page at `index` is now the one shown.
    virtual void OnActivePage(int index) = 0;
  };

  CTabSheet();
  ~CTabSheet();
  CTabSheet(const CTabSheet&) = delete;
  CTabSheet& operator=(const CTabSheet&) = delete;

  // Attaches the tab control (null detaches it).
  void Attach(View* view);
  // Adds a page after the others; returns its index. The first page added is shown.
  int AddPage(CTabPage* page);
  // Shows the page at `index`: the page shown until now is told it is hidden, then the new one
  // that it is shown. False for an index without a page.
  bool SetActivePage(int index);
  // The index of the page shown, -1 while there is none.
  int GetActiveIndex() const;
  int GetPageCount() const;
  CTabPage* GetPage(int index) const;

 private:
  struct Pages;
  std::unique_ptr<Pages> pages_;
  View* view_ = nullptr;
  int active_ = -1;
};
