#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <map>
#include <span>

namespace tarnwick {

enum class ControlKind {
  GroupBox,
  StaticText,
  Edit,
  CheckBox,
  RadioButton,
  PushButton,
  DefaultPushButton,
  ListBox,
  Icon,  // `text` names the icon resource; width and height are the system icon size
};

enum ControlStyle : unsigned {
  NoStyle = 0,
  TabStop = 1,
  NoHorizontalScroll = 2,  // an edit that takes no more text than it can show
};

inline constexpr int kNoControlId = -1;
inline constexpr int kOkId = 1;
inline constexpr int kCancelId = 2;

// One control of a dialog template; positions and sizes are in dialog units.
struct ControlEntry {
  ControlKind kind;
  int id;
  const char* text;  // UTF-8
  int x, y, width, height;
  unsigned style;
};

struct DialogTemplate {
  const char* caption;  // UTF-8
  int width, height;    // dialog units
  bool minimizeButton;
  std::span<const ControlEntry> controls;
};

// The average character width and the character height of a font, in pixels: the
// scale of dialog units (a horizontal unit is a quarter of the first, a vertical one an
// eighth of the second).
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// The program's icon in the resources, as an Icon control names it.
inline constexpr const char* kProgramIconResource = ":/icons/tarnwick.svg";

QFont dialogFont();
DialogBaseUnits baseUnitsOf(const QFont& font);
QRect toPixels(const QRect& dialogUnits, DialogBaseUnits base);
QIcon programIcon();

// A modal dialog made from a template. Controls are created in template order, which
// is the tab order; the first tab stop takes the focus. A push button calls
// onButton(id); by default id 1 accepts and id 2 rejects the dialog.
class TemplateDialog : public QDialog {
  Q_OBJECT

 public:
  TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent);

  QWidget* control(int id) const;
  template <typename Widget>
  Widget* control(int id) const {
    return qobject_cast<Widget*>(control(id));
  }

 protected:
  virtual void onButton(int id);

 private:
  QWidget* build(const ControlEntry& entry, DialogBaseUnits base);

  std::map<int, QWidget*> controls_;
};

}  // namespace tarnwick
