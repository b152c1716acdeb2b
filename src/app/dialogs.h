#pragma once

#include <string_view>

#include "app/dialog_template.h"

namespace tarnwick {

class MessageBox;
class ShellLauncher;

class AboutDialog final : public TemplateDialog {
 public:
  explicit AboutDialog(QWidget* parent);
};

// Accepted by "はい"; the focus starts on "いいえ", so Enter answers no.
class ExitConfirmDialog final : public TemplateDialog {
 public:
  explicit ExitConfirmDialog(QWidget* parent);
};

class ManualLaunchDialog final : public TemplateDialog {
 public:
  explicit ManualLaunchDialog(QWidget* parent);
};

class SisterIntroDialog final : public TemplateDialog {
 public:
  explicit SisterIntroDialog(QWidget* parent);
};

// The launches of the main dialog's buttons and of its start-up introduction.
void openDownloadFolder(ShellLauncher& shell, MessageBox& messages);
void openManualPage(QWidget* owner, ShellLauncher& shell, MessageBox& messages);
void showSisterIntro(QWidget* owner, ShellLauncher& shell, MessageBox& messages);

// Shows a fixed UTF-8 text through the program's message box.
void warn(MessageBox& messages, std::string_view utf8Text);

}  // namespace tarnwick
