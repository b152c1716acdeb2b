#include <QDir>
#include <functional>

#include "app/dialog_templates.h"
#include "app/dialogs.h"
#include "app_test_support.h"

namespace tarnwick::testing {
namespace {

using LaunchTest = AppTest;

// Web pages open only when confirmed; the download folder opens at once, made if missing.
TEST_F(LaunchTest, LaunchesOpenThroughTheShell) {
  const QString download = QDir::current().absoluteFilePath("download");
  const struct {
    std::function<void(ShellLauncher&, MessageBox&)> launch;
    const char* title;  // of the confirmation; empty when none opens
    QUrl target;
    const char* failure;  // when the shell cannot open it
  } launches[] = {
      {[](auto& s, auto& m) { openManualPage(nullptr, s, m); }, "オンラインマニュアルの起動",
       QUrl(kManualPageUrl), "ブラウザが起動されませんでした。"},
      {[](auto& s, auto& m) { showSisterIntro(nullptr, s, m); }, "Fellhoundの紹介",
       QUrl(kSisterPageUrl), "ブラウザを起動できませんでした"},
      {openDownloadFolder, "", QUrl::fromLocalFile(download),
       "エクスプローラを起動できませんでした。"},
  };
  const std::pair<int, bool> answers[] = {{kOkId, true}, {kOkId, false}, {kCancelId, true}};
  for (const auto& l : launches) {
    for (const auto& [answer, shellSucceeds] : answers) {
      SCOPED_TRACE(l.title);
      QDir(download).removeRecursively();
      RecordingShell shell;
      shell.succeeds = shellSucceeds;
      ScriptedMessageBox messages;
      ModalAnswerer answerer(answer);
      l.launch(shell, messages);
      const bool asked = *l.title != '\0', opens = !asked || answer == kOkId;
      EXPECT_EQ(answerer.titles, asked ? std::vector{QString(l.title)} : std::vector<QString>{});
      EXPECT_EQ(shell.opened, opens ? std::vector{l.target} : std::vector<QUrl>{});
      EXPECT_EQ(messages.texts, opens && !shellSucceeds ? std::vector{utf8ToCp932(l.failure)}
                                                        : std::vector<ByteString>{});
      EXPECT_EQ(QDir(download).exists(), !asked);
    }
  }
  // A plain file in the folder's place is opened as it is.
  QDir(download).removeRecursively();
  QFile(download).open(QIODevice::WriteOnly);
  RecordingShell shell;
  openDownloadFolder(shell, messages_);
  EXPECT_EQ(shell.opened, std::vector{QUrl::fromLocalFile(download)});
  EXPECT_TRUE(QFileInfo(download).isFile());
}

// A static text is one line that never grows, so a text wider than it is cut off.
TEST_F(LaunchTest, EveryStaticTextFitsItsWidth) {
  const QFontMetrics metrics(dialogFont());
  for (const DialogTemplate* dialog :
       {&kMainDialogTemplate, &kAboutDialogTemplate, &kExitConfirmTemplate, &kManualLaunchTemplate,
        &kSisterIntroTemplate}) {
    for (const ControlEntry& c : dialog->controls) {
      if (c.kind != ControlKind::StaticText) continue;
      const QRect area = toPixels(QRect(0, 0, c.width, c.height), baseUnitsOf(dialogFont()));
      EXPECT_LE(metrics.horizontalAdvance(QString::fromUtf8(c.text)), area.width()) << c.text;
    }
  }
}

}  // namespace
}  // namespace tarnwick::testing
