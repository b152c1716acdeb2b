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
    std::vector<std::string> texts;
    for (const ByteString& text : messages.texts()) texts.push_back(cp932ToUtf8(text));
    EXPECT_EQ(texts, c.messages);
  }
}

TEST_F(LaunchTest, DownloadFolderIsMadeWhenMissingAndOpened) {
  enum class Before { Nothing, Folder, PlainFile };
  const struct {
    Before before;
    bool shellSucceeds;
    bool folderAfter;
    std::vector<std::string> messages;
  } cases[] = {
      {Before::Nothing, true, true, {}},
      {Before::Folder, true, true, {}},
      {Before::PlainFile, true, false, {}},  // the shell is asked to open the file itself
      {Before::Nothing, false, true, {"エクスプローラを起動できませんでした。"}},
  };
  for (const auto& c : cases) {
    QDir("download").removeRecursively();
    QFile::remove("download");
    if (c.before == Before::Folder) QDir().mkdir("download");
    if (c.before == Before::PlainFile) QFile("download").open(QIODevice::WriteOnly);
    RecordingShell shell;
    shell.succeeds = c.shellSucceeds;
    ScriptedMessageBox messages;
    OpenDownloadFolder(shell, messages);

    const QString expected = QDir::current().absoluteFilePath("download");
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(expected));
    EXPECT_EQ(QFileInfo(expected).isDir(), c.folderAfter);
    EXPECT_EQ(messages.texts().size(), c.messages.size());
    for (std::size_t i = 0; i < c.messages.size(); ++i) {
      EXPECT_EQ(cp932ToUtf8(messages.texts()[i]), c.messages[i]);
    }
  }
}

}  // namespace
}  // namespace tarnwick::testing
