// The drop-down lists of the window's templates. A template gives a list's position and the
// height of its open list; the closed box is as tall as the style makes it. The open list is a
// list of its own height with a scroll bar (not a popup that grows to hold every row), and no
// row is cut: the closed box and the open list are at least as wide as the widest row.
#pragma once

#include <QStringList>

class QComboBox;
class QWidget;

namespace veldrane::ui {

class DialogUnits;

// A list at x, y (dialog units) with `rows`; `width` and `open_height` are the template's.
// `visible_rows` rows show at once when it is open (0: as many as the open height holds).
QComboBox* MakeDropDown(QWidget* parent, const DialogUnits& du, const char* name,
                        const QStringList& rows, int x, int y, int width, int open_height,
                        int visible_rows = 0);

// The styles draw a closed box's text this far inside its field, on either side.
inline constexpr int kLabelMargin = 1;
// The room for text in the closed box of `list` at `width` pixels.
int ClosedTextRoom(const QComboBox* list, int width);
// The width, in pixels, that shows every row of `list` uncut in the closed box.
int ClosedWidthForRows(const QComboBox* list);

}  // namespace veldrane::ui
