#include "ui/station_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>
#include <iterator>
#include <limits>
#include <utility>

#include "fw/cstring.h"
#include "hostlink/station_limits.h"
#include "hostlink/texts.h"
#include "tarko/header.h"
#include "ui/dialog_units.h"
#include "ui/drop_down.h"
#include "ui/interaction.h"
#include "ui/ui_text.h"
#include "ui/up_down.h"

namespace veldrane::ui {
namespace {

// One row per meter kind, the row index being the kind.
constexpr int kKindRows = static_cast<int>(std::size(texts::kKindNames));

// Letters typed into the name and tag fields become capitals: ASCII letters only, so Korean
// text stays as it is typed.
class UpperAsciiValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (QChar& c : input) {
      if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
    }
    return Acceptable;
  }
};

QLabel* Label(QWidget* parent, const DialogUnits& du, const QString& text, int x, int y, int w,
              int h) {
  auto* label = new QLabel(text, parent);
  PlaceWhole(label, du, x, y, w, h);
  return label;
}

// Selects the whole text with the cursor at its start, so that the field shows the start of a
// long text (selecting from the start leaves the cursor, and the view, at its end).
void SelectAllFromStart(QLineEdit* field) {
  const qsizetype length = field->text().size();
  field->setSelection(static_cast<int>(length), -static_cast<int>(length));
}

// A text field that shows the start of its text when the focus comes to it, selected whole as
// the keyboard brings it (the dialog's first field gets the focus that way as it opens).
class TextField : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    if (!text().isEmpty() && selectedText() == text()) SelectAllFromStart(this);
  }
};

QLineEdit* Field(QWidget* parent, const DialogUnits& du, const char* object_name, int x, int y,
                 int w, int h) {
  auto* field = new TextField(parent);
  field->setObjectName(QString::fromLatin1(object_name));
  field->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
  Place(field, du, x, y, w, h);
  return field;
}

}  // namespace

bool ParseInteger(const QString& text, int64_t low, int64_t high, int64_t* value) {
  QString t = text.trimmed();
  int i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
    negative = t[i++] == QLatin1Char('-');
  }
  if (i == t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return false;
    v = v * 10 + (t[i].unicode() - '0');
    if (v > (int64_t{1} << 32)) return false;
  }
  v = negative ? -v : v;
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

StationDialog::StationDialog(QWidget* parent, window::Document& doc, window::StationId station,
                             Interaction& ui)
    : QDialog(parent), doc_(doc), station_(station), ui_(ui) {
  // The values: a new station starts empty with no kind row; an edited one is copied.
  if (station_) {
    window::StationFields f = doc_.GetStation(station_);
    values_ = {f.description, f.name, f.number, f.decimals, f.tag, f.kind};
  }

  setWindowTitle(FromCp949(texts::kStationDialogCaption));
  setFont(DialogFont());
  DialogUnits du(font());
  setFixedSize(du.X(199), du.Y(167));

  // The template, control by control; its order is the tab order.
  Label(this, du, FromCp949(texts::kNameLabel), 8, 11, 46, 8);
  name_ = Field(this, du, "name", 56, 8, 88, 14);
  name_->setValidator(new UpperAsciiValidator(name_));
  Label(this, du, FromCp949(texts::kKindLabel), 8, 33, 46, 8);
  QStringList kinds;
  for (const char* row : texts::kKindNames) kinds << FromCp949(row);
  kind_ = MakeDropDown(this, du, "kind", kinds, 56, 30, 88, 66, kKindRows);
  Label(this, du, FromCp949(texts::kNumberLabel), 8, 55, 46, 8);
  number_ = Field(this, du, "number", 56, 52, 32, 14);
  number_spin_ = new UpDown(this);
  number_spin_->setObjectName(QStringLiteral("number_updown"));
  Place(number_spin_, du, 80, 55, 9, 14);
  Label(this, du, QStringLiteral("(0 - %1)").arg(kMaxStationNumber), 92, 55, 36, 8);
  Label(this, du, FromCp949(texts::kDecimalsLabel), 8, 77, 46, 8);
  decimals_ = Field(this, du, "decimals", 56, 74, 32, 14);
  decimals_spin_ = new UpDown(this);
  decimals_spin_->setObjectName(QStringLiteral("decimals_updown"));
  Place(decimals_spin_, du, 80, 78, 9, 14);
  Label(this, du, QStringLiteral("(0 - %1)").arg(kMaxDecimals), 92, 78, 28, 8);
  browse_ = new QPushButton(QStringLiteral("..."), this);
  browse_->setObjectName(QStringLiteral("browse"));
  Place(browse_, du, 128, 80, 16, 14);
  Label(this, du, FromCp949(texts::kTagLabel), 8, 99, 46, 8);
  tag_ = Field(this, du, "tag", 56, 96, 88, 14);
  tag_->setValidator(new UpperAsciiValidator(tag_));
  Label(this, du, FromCp949(texts::kDescriptionLabel), 8, 119, 46, 8);
  description_ = Field(this, du, "description", 56, 118, 88, 42);
  description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ok_ = new QPushButton(FromCp949(texts::kRegisterButton), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setDefault(true);
  Place(ok_, du, 152, 8, 40, 14);
  cancel_ = new QPushButton(FromCp949(texts::kCancelButton), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  Place(cancel_, du, 152, 30, 40, 14);

  QWidget* order[] = {name_, kind_, number_, decimals_, browse_, tag_, description_, ok_, cancel_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(ok_, &QPushButton::clicked, this, &StationDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &StationDialog::reject);
  connect(browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });

  // Opening: the values into the controls, each text field showing its start, then the
  // up-downs' ranges.
  for (auto [field, text] :
       {std::pair{name_, &values_.name}, std::pair{description_, &values_.description},
        std::pair{tag_, &values_.tag}}) {
    field->setText(FromCp949(*text));
    field->setCursorPosition(0);
  }
  number_->setText(QString::number(values_.number));
  decimals_->setText(QString::number(values_.decimals));
  kind_->setCurrentIndex(values_.kind >= 0 && values_.kind < kKindRows ? values_.kind : -1);
  number_spin_->Attach(number_);
  number_spin_->SetRange(0, kMaxStationNumber);
  decimals_spin_->Attach(decimals_);
  decimals_spin_->SetRange(0, static_cast<int>(kMaxDecimals));
  name_->setFocus();
}

void StationDialog::FocusField(QLineEdit* field) {
  field->setFocus(Qt::OtherFocusReason);
  SelectAllFromStart(field);
}

bool StationDialog::TransferText(QLineEdit* field, std::string* value) {
  qsizetype bad = 0;
  if (ToCp949Exact(field->text(), value, &bad)) return true;
  QString text = FromCp949(texts::kNotCp949Field).arg(CharacterAt(field->text(), bad));
  ui_.ShowMessage(this, kNotCp949Message, text);
  FocusField(field);
  return false;
}

bool StationDialog::TransferFromControls() {
  if (!TransferText(description_, &values_.description)) return false;
  if (!TransferText(name_, &values_.name)) return false;
  int64_t v = 0;
  if (!ParseInteger(number_->text(), INT32_MIN, INT32_MAX, &v)) {
    ui_.ShowMessage(this, kEnterIntegerMessage, FromCp949(texts::kEnterInteger));
    FocusField(number_);
    return false;
  }
  values_.number = static_cast<int32_t>(v);
  if (!ParseInteger(decimals_->text(), INT32_MIN, UINT32_MAX, &v)) {
    ui_.ShowMessage(this, kEnterIntegerMessage, FromCp949(texts::kEnterInteger));
    FocusField(decimals_);
    return false;
  }
  if (v < 0 || v > 7) {
    CString text;
    text.Format(texts::kEnterRange, 0u, 7u);
    ui_.ShowMessage(this, kEnterRangeMessage, FromCp949(text.GetString()));
    FocusField(decimals_);
    return false;
  }
  values_.decimals = static_cast<uint32_t>(v);
  if (!TransferText(tag_, &values_.tag)) return false;
  values_.kind = kind_->currentIndex();
  return true;
}

void StationDialog::Refuse(int32_t id, QLineEdit* field) {
  CTarkoError::ErrMsg(id, 0, nullptr);
  FocusField(field);
}

void StationDialog::accept() {
  if (!TransferFromControls()) return;
  CString name(values_.name.data(), values_.name.size());
  name.Trim();
  values_.name.assign(name.GetString(), name.GetLength());
  if (values_.name.empty()) return Refuse(2700, name_);
  if (int32_t id = doc_.CheckName(values_.name, station_)) return Refuse(id, name_);
  if (int32_t id = doc_.CheckNumber(values_.number, station_)) return Refuse(id, number_);
  QDialog::accept();
}

void StationDialog::OnBrowse() {
  if (!doc_.HasTagBrowser()) return;
  // The value as it stands (the station's tag, the last browse, or the last OK's transfer).
  if (doc_.BrowseTag(values_.tag)) tag_->setText(FromCp949(values_.tag));
}

}  // namespace veldrane::ui
