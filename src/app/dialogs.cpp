#include "app/dialogs.h"

#include <QDir>
#include <QFileInfo>

#include "app/dialog_templates.h"
#include "app/shell_launcher.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

namespace tarnwick {
namespace {

constexpr const char* kDownloadFolder = "download";

// Runs `dialog` and, when it is accepted, opens `url`; a failed launch shows `failure`.
void launchAfter(TemplateDialog&& dialog, const char* url, const char* failure,
                 ShellLauncher& shell, MessageBox& messages) {
  if (dialog.exec() != QDialog::Accepted) return;
  if (!shell.open(QUrl(QString::fromUtf8(url)))) warn(messages, failure);
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(kAboutDialogTemplate, parent) {}
ExitConfirmDialog::ExitConfirmDialog(QWidget* parent)
    : TemplateDialog(kExitConfirmTemplate, parent) {}
ManualLaunchDialog::ManualLaunchDialog(QWidget* parent)
    : TemplateDialog(kManualLaunchTemplate, parent) {}
SisterIntroDialog::SisterIntroDialog(QWidget* parent)
    : TemplateDialog(kSisterIntroTemplate, parent) {}

void warn(MessageBox& messages, std::string_view utf8Text) {
  messages.showWarning(utf8ToCp932(utf8Text));
}

void openDownloadFolder(ShellLauncher& shell, MessageBox& messages) {
  QFileInfo folder(kDownloadFolder);
  if (!folder.exists()) QDir().mkdir(kDownloadFolder);
  folder.refresh();
  // A folder that neither exists nor can be made is a launch that cannot succeed.
  if (!folder.exists() || !shell.open(QUrl::fromLocalFile(folder.absoluteFilePath()))) {
    warn(messages, "エクスプローラを起動できませんでした。");
  }
}

void openManualPage(QWidget* owner, ShellLauncher& shell, MessageBox& messages) {
  launchAfter(ManualLaunchDialog(owner), kManualPageUrl, "ブラウザが起動されませんでした。", shell,
              messages);
}

void showSisterIntro(QWidget* owner, ShellLauncher& shell, MessageBox& messages) {
  launchAfter(SisterIntroDialog(owner), kSisterPageUrl, "ブラウザを起動できませんでした", shell,
              messages);
}

}  // namespace tarnwick
