#include "app/dialog_template.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

namespace tarnwick {
namespace {

constexpr const char* kDialogFontFamily = "ＭＳ Ｐゴシック";
// Built to the same metrics, so the templates' sizes fit the texts.
constexpr const char* kDialogFontStandIn = "IPAPGothic";
constexpr int kDialogFontPoints = 9;
constexpr int kSystemIconSize = 32;

int mulDiv(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

// For an edit without horizontal scrolling: a change that would make the text wider
// than the edit shows is refused on its own, so the text typed before it stays.
class FitsWidthValidator final : public QValidator {
 public:
  explicit FitsWidthValidator(QLineEdit* edit) : QValidator(edit), edit_(edit) {}
  State validate(QString& text, int&) const override {
    return edit_->fontMetrics().horizontalAdvance(text) <= textRoom() ? Acceptable : Invalid;
  }

 private:
  // Where QLineEdit lays text out: inside the style's frame and the text margins, two
  // pixels in on each side, with one pixel kept for the cursor after the last character.
  int textRoom() const {
    QStyleOptionFrame frame;
    frame.initFrom(edit_);
    frame.lineWidth = edit_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit_);
    const QRect contents =
        edit_->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit_);
    return contents.marginsRemoved(edit_->textMargins()).width() - 2 * 2 - 1;
  }

  const QLineEdit* edit_;
};

QLabel* makeIcon(const ControlEntry& entry, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(QIcon(QString::fromUtf8(entry.text)).pixmap(kSystemIconSize));
  return label;
}

QLabel* makeStaticText(const ControlEntry& entry, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(entry.text), parent);
  label->setTextFormat(Qt::PlainText);  // URLs are shown here; never read them as markup
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QWidget* makeWidget(const ControlEntry& entry, QWidget* parent) {
  const QString text = QString::fromUtf8(entry.text);
  switch (entry.kind) {
    case ControlKind::GroupBox:
      return new QGroupBox(text, parent);
    case ControlKind::StaticText:
      return makeStaticText(entry, parent);
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(parent);
      if (entry.style & NoHorizontalScroll) edit->setValidator(new FitsWidthValidator(edit));
      return edit;
    }
    case ControlKind::CheckBox:
      return new QCheckBox(text, parent);
    case ControlKind::RadioButton:
      return new QRadioButton(text, parent);
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(text, parent);
      button->setDefault(entry.kind == ControlKind::DefaultPushButton);
      return button;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(parent);
      list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      list->setTextElideMode(Qt::ElideNone);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      return list;
    }
    case ControlKind::Icon:
      return makeIcon(entry, parent);
  }
  return nullptr;
}

Qt::FocusPolicy focusPolicyOf(const ControlEntry& entry) {
  switch (entry.kind) {
    case ControlKind::GroupBox:
    case ControlKind::StaticText:
    case ControlKind::Icon:
      return Qt::NoFocus;
    default:
      return (entry.style & TabStop) ? Qt::StrongFocus : Qt::ClickFocus;
  }
}

}  // namespace

QFont dialogFont() {
  if (!QFont::substitutes(kDialogFontFamily).contains(kDialogFontStandIn)) {
    QFont::insertSubstitution(kDialogFontFamily, kDialogFontStandIn);
  }
  return QFont(kDialogFontFamily, kDialogFontPoints);
}

DialogBaseUnits baseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabetWidth =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {(alphabetWidth / 26 + 1) / 2, metrics.height()};
}

QRect toPixels(const QRect& units, DialogBaseUnits base) {
  return {mulDiv(units.x(), base.x, 4), mulDiv(units.y(), base.y, 8),
          mulDiv(units.width(), base.x, 4), mulDiv(units.height(), base.y, 8)};
}

QIcon programIcon() { return QIcon(kProgramIconResource); }

TemplateDialog::TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (dialogTemplate.minimizeButton) flags |= Qt::WindowMinimizeButtonHint;
  setWindowFlags(flags);
  setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
  setFont(dialogFont());
  const DialogBaseUnits base = baseUnitsOf(font());
  setFixedSize(toPixels(QRect(0, 0, dialogTemplate.width, dialogTemplate.height), base).size());

  QWidget* firstTabStop = nullptr;
  for (const ControlEntry& entry : dialogTemplate.controls) {
    QWidget* widget = build(entry, base);
    if (!firstTabStop && widget->focusPolicy() == Qt::StrongFocus) firstTabStop = widget;
  }
  if (firstTabStop) firstTabStop->setFocus();
}

QWidget* TemplateDialog::build(const ControlEntry& entry, DialogBaseUnits base) {
  QWidget* widget = makeWidget(entry, this);
  QRect area = toPixels(QRect(entry.x, entry.y, entry.width, entry.height), base);
  if (entry.kind == ControlKind::Icon) area.setSize(QSize(kSystemIconSize, kSystemIconSize));
  widget->setGeometry(area);
  widget->setFocusPolicy(focusPolicyOf(entry));
  if (entry.id != kNoControlId) {
    widget->setObjectName(QString("control%1").arg(entry.id));
    controls_[entry.id] = widget;
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    const int id = entry.id;
    connect(button, &QPushButton::clicked, this, [this, id] { onButton(id); });
  }
  return widget;
}

QWidget* TemplateDialog::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void TemplateDialog::onButton(int id) {
  if (id == kOkId) accept();
  if (id == kCancelId) reject();
}

}  // namespace tarnwick
