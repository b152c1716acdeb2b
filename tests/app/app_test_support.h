#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/dialog_template.h"
#include "app/main_dialog.h"
#include "app/profile_store.h"
#include "app/shell_launcher.h"
#include "platform/codepage.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tarnwick::testing {

// Records what would have been opened and answers with `succeeds`.
struct RecordingShell final : ShellLauncher {
  bool open(const QUrl& target) override {
    opened.push_back(target);
    return succeeds;
  }
  bool succeeds = true;
  std::vector<QUrl> opened;
};

// While it lives, answers each modal dialog that opens by clicking its control
// `buttonId`, and records the dialogs' titles.
struct ModalAnswerer {
  explicit ModalAnswerer(int buttonId) {
    QObject::connect(&timer, &QTimer::timeout, [this, buttonId] {
      auto* dialog = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      titles.push_back(dialog->windowTitle());
      dialog->control<QPushButton>(buttonId)->click();
    });
    timer.start(5);
  }
  std::vector<QString> titles;
  QTimer timer;
};

// A fresh profile store, working directory and set of stand-ins for each test, under one
// offscreen QApplication whose user configuration folder is a temporary one.
class AppTest : public ::testing::Test {
 protected:
  AppTest() : workingDirectory_(folder_.path()) {
    static TempDir configHome;
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("Tarnwick"), nullptr};
    if (QApplication::instance() == nullptr) {
      qputenv("QT_QPA_PLATFORM", "offscreen");
      qputenv("XDG_CONFIG_HOME", configHome.path().c_str());
      new QApplication(argc, argv);  // lives as long as the process
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((folder_.path() / "config").string()));
    profile_ = makeSettingsProfileStore("Corvane", "Tarnwick");
  }
  AppServices services() { return {*profile_, shell_, messages_}; }
  static QSettings stored() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Corvane", "Tarnwick");
  }
  TempDir folder_;
  ScopedCurrentDirectory workingDirectory_;
  std::unique_ptr<ProfileStore> profile_;
  RecordingShell shell_;
  ScriptedMessageBox messages_;
};

}  // namespace tarnwick::testing
