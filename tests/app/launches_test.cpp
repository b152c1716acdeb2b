#include <QDir>
#include <QFile>
#include <functional>

#include "app/dialog_templates.h"
#include "app/dialogs.h"
#include "app_test_support.h"

namespace tarnwick::testing {
namespace {

class LaunchTest : public AppTest {};

TEST_F(LaunchTest, WebPagesOpenOnlyWhenConfirmed) {
  using Launch = std::function<void(ShellLauncher&, MessageBox&)>;
  const Launch manual = [](ShellLauncher& s, MessageBox& m) { OpenManualPage(nullptr, s, m); };
  const Launch intro = [](ShellLauncher& s, MessageBox& m) { ShowSisterIntro(nullptr, s, m); };
  const char* kManual = "オンラインマニュアルの起動";
  const char* kIntro = "Fellhoundの紹介";
  const struct {
    Launch launch;
    int answer;
    bool shellSucceeds;
    std::vector<QString> opened;
    std::vector<std::string> messages;
    const char* title;
  } cases[] = {
      {manual, kOkId, true, {kManualPageUrl}, {}, kManual},
      {manual, kOkId, false, {kManualPageUrl}, {"ブラウザが起動されませんでした。"}, kManual},
      {manual, kCancelId, true, {}, {}, kManual},
      {intro, kOkId, true, {kSisterPageUrl}, {}, kIntro},
      {intro, kOkId, false, {kSisterPageUrl}, {"ブラウザを起動できませんでした"}, kIntro},
      {intro, kCancelId, true, {}, {}, kIntro},
  };
  for (const auto& c : cases) {
    RecordingShell shell;
    shell.succeeds = c.shellSucceeds;
    ScriptedMessageBox messages;
    ModalAnswerer answerer(c.answer);
    c.launch(shell, messages);

    ASSERT_EQ(answerer.titles.size(), 1u);
    EXPECT_EQ(answerer.titles[0], QString::fromUtf8(c.title));
    std::vector<QString> opened;
    for (const QUrl& url : shell.opened) opened.push_back(url.toString());
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(textsOf(messages), c.messages);
  }
}

TEST_F(LaunchTest, DownloadFolderIsMadeWhenMissingAndOpened) {
  const struct {
    bool plainFileBefore;
    bool shellSucceeds;
    std::vector<std::string> messages;
  } cases[] = {
      {false, true, {}},
      {true, true, {}},  // the shell is asked to open the file itself
      {false, false, {"エクスプローラを起動できませんでした。"}},
  };
  for (const auto& c : cases) {
    QFile::remove("download");
    if (c.plainFileBefore) QFile("download").open(QIODevice::WriteOnly);
    RecordingShell shell;
    shell.succeeds = c.shellSucceeds;
    ScriptedMessageBox messages;
    OpenDownloadFolder(shell, messages);

    const QString expected = QDir::current().absoluteFilePath("download");
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(expected));
    EXPECT_EQ(QFileInfo(expected).isDir(), !c.plainFileBefore);
    EXPECT_EQ(textsOf(messages), c.messages);
    QDir("download").removeRecursively();
  }
}

}  // namespace
}  // namespace tarnwick::testing
