// What the pages of the configuration window use of it: its edit, delete and add buttons, which
// they enable and disable as they are shown, and its edit command.
#pragma once

namespace veldrane::ui {

class PageOwner {
 public:
  virtual ~PageOwner() = default;
  virtual void EnableStationButtons(bool edit, bool remove, bool add) = 0;
  // The edit command, as the edit button gives it.
  virtual void EditCommand() = 0;
};

}  // namespace veldrane::ui
