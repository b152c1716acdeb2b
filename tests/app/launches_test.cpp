#include <QDir>
#include <QFile>

#include "app/dialog_templates.h"
#include "app/dialogs.h"
#include "app_test_support.h"

namespace tarnwick::testing {
namespace {

using LaunchTest = AppTest;

TEST_F(LaunchTest, WebPagesOpenOnlyWhenConfirmed) {
  const struct {
    void (*launch)(QWidget*, ShellLauncher&, MessageBox&);
    const char* title;
    const char* url;
    const char* failure;  // when the shell cannot open the page
  } pages[] = {
      {OpenManualPage, "オンラインマニュアルの起動", kManualPageUrl,
       "ブラウザが起動されませんでした。"},
      {ShowSisterIntro, "Fellhoundの紹介", kSisterPageUrl, "ブラウザを起動できませんでした"},
  };
  const std::pair<int, bool> answers[] = {{kOkId, true}, {kOkId, false}, {kCancelId, true}};
  for (const auto& page : pages) {
    for (const auto& [answer, shellSucceeds] : answers) {
      RecordingShell shell;
      shell.succeeds = shellSucceeds;
      ScriptedMessageBox messages;
      ModalAnswerer answerer(answer);
      page.launch(nullptr, shell, messages);
      EXPECT_EQ(answerer.titles, std::vector<QString>{QString::fromUtf8(page.title)});
      const bool confirmed = answer == kOkId;
      EXPECT_EQ(shell.opened, confirmed ? std::vector{QUrl(page.url)} : std::vector<QUrl>{});
      EXPECT_EQ(textsOf(messages), confirmed && !shellSucceeds
                                       ? std::vector<std::string>{page.failure}
                                       : std::vector<std::string>{});
    }
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
