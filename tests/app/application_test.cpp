#include "app/application.h"

#include <QLineEdit>
#include <QMenu>

#include "app_test_support.h"

namespace tarnwick::testing {
namespace {

using ApplicationTest = AppTest;

// Qt's own texts follow the locale, such as a text field's standard context menu.
TEST_F(ApplicationTest, ToolkitTextsFollowTheLocale) {
  QTranslator translator;
  Application::installToolkitTranslation(translator, QLocale(QLocale::Japanese, QLocale::Japan));
  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  EXPECT_TRUE(menu->actions().value(0)->text().startsWith("元に戻す"))
      << menu->actions().value(0)->text().toStdString();
}

}  // namespace
}  // namespace tarnwick::testing
