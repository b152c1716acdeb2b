#include <QDir>
#include <QFile>

#include "app/dialog_templates.h"
#include "app/dialogs.h"
#include "app_test_support.h"

namespace tarnwick::testing {
namespace {

using LaunchTest = AppTest;

TEST_F(LaunchTest, WebPagesOpenOnlyWhenConfirmed) {
  const auto manual = &OpenManualPage;
  const auto intro = &ShowSisterIntro;
  const char* kManual = "オンラインマニュアルの起動";
  const char* kIntro = "Fellhoundの紹介";
  const struct {
    decltype(manual) launch;
    int answer;
    bool shellSucceeds;
    std::vector<QUrl> opened;
    std::vector<std::string> messages;
    const char* title;
  } cases[] = {
      {manual, kOkId, true, {QUrl(kManualPageUrl)}, {}, kManual},
      {manual, kOkId, false, {QUrl(kManualPageUrl)}, {"ブラウザが起動されませんでした。"}, kManual},
      {manual, kCancelId, true, {}, {}, kManual},
      {intro, kOkId, true, {QUrl(kSisterPageUrl)}, {}, kIntro},
      {intro, kOkId, false, {QUrl(kSisterPageUrl)}, {"ブラウザを起動できませんでした"}, kIntro},
      {intro, kCancelId, true, {}, {}, kIntro},
  };
  for (const auto& c : cases) {
    RecordingShell shell;
    shell.succeeds = c.shellSucceeds;
    ScriptedMessageBox messages;
    ModalAnswerer answerer(c.answer);
    c.launch(nullptr, shell, messages);
    EXPECT_EQ(answerer.titles, std::vector<QString>{QString::fromUtf8(c.title)});
    EXPECT_EQ(shell.opened, c.opened);
    EXPECT_EQ(textsOf(messages), c.messages);
  }
}

TEST_F(LaunchTest, DownloadFolderIsMadeWhenMissingAndOpened) {
  const struct {
    bool plainFileBefore;  // then the shell is asked to open the file itself
    bool shellSucceeds;
    std::vector<std::string> messages;
  } cases[] = {{false, true, {}},
               {true, true, {}},
               {false, false, {"エクスプローラを起動できませんでした。"}}};
  const QString download = QDir::current().absoluteFilePath("download");
  for (const auto& c : cases) {
    QDir(download).removeRecursively();
    QFile::remove(download);
    if (c.plainFileBefore) QFile(download).open(QIODevice::WriteOnly);
    RecordingShell shell;
    shell.succeeds = c.shellSucceeds;
    ScriptedMessageBox messages;
    OpenDownloadFolder(shell, messages);
    EXPECT_EQ(shell.opened, std::vector<QUrl>{QUrl::fromLocalFile(download)});
    EXPECT_EQ(QFileInfo(download).isDir(), !c.plainFileBefore);
    EXPECT_EQ(textsOf(messages), c.messages);
  }
}

}  // namespace
}  // namespace tarnwick::testing
