#pragma once

#include <memory>

#include "app/dialog_template.h"
#include "app/form_values.h"
#include "engine/messages.h"

namespace tarnwick {

class CrawlComponentFactory;
class CrawlSession;
class MessageBox;
class ProfileStore;
class ShellLauncher;

// What the main dialog reaches outside itself. Not owned; must outlive the dialog.
struct AppServices {
  ProfileStore& profile;
  ShellLauncher& shell;
  MessageBox& messages;
};

// The program's window: the crawl form, the run/stop button, the progress lines and
// the list of finished downloads. Runs one crawl session at a time and learns of its
// progress by draining its status messages every 100 ms.
class MainDialog final : public TemplateDialog {
 public:
  explicit MainDialog(AppServices services);
  ~MainDialog() override;

  bool runActive() const { return runActive_; }
  // One timer tick: drains the status queue and counts the introduction down.
  void tick();
  void done(int result) override;

 protected:
  void onButton(int id) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void fillForm();
  bool readForm();
  void onRunPress();
  void startRun();
  void onExitPress();
  void saveForm();
  void showMessage(const UiMessage& message);
  void showStatus(const char* status, const QString& parameter);
  void finishRun();
  void stopRunForExit();

  AppServices services_;
  FormValues form_;
  std::unique_ptr<CrawlComponentFactory> components_;  // made at the first run press
  std::unique_ptr<CrawlSession> session_;              // the last run's; kept until the next start
  bool runActive_ = false;
  bool stopRequested_ = false;
  int introCountdown_ = -1;
};

}  // namespace tarnwick
