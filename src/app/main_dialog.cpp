#include "app/main_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include "app/dialog_templates.h"
#include "app/dialogs.h"
#include "app/settings.h"
#include "engine/crawl_components.h"
#include "engine/crawl_session.h"
#include "platform/codepage.h"

namespace tarnwick {
namespace {

constexpr int kTickMilliseconds = 100;
constexpr int kIntroTicks = 10;
constexpr int kDepthSlot = -1;
constexpr const char* kRunCaption = "実　行";
constexpr const char* kStopCaption = "停 止";

// The number fields in the order the form is filled and read: the category whose
// threshold each holds, or the depth.
struct NumberField {
  int editId;
  int slot;
};
constexpr NumberField kNumberFields[] = {
    {kHtmlSizeEdit, 0},  {kTxtSizeEdit, 1},        {kMidiSizeEdit, 3},
    {kAudioSizeEdit, 4}, {kVideoSizeEdit, 5},      {kRealoneSizeEdit, 6},
    {kZipSizeEdit, 7},   {kDepthEdit, kDepthSlot}, {kImgSizeEdit, 2},
};

std::uint32_t& numberOf(FormValues& form, int slot) {
  return slot == kDepthSlot ? form.depth : form.sizeKb[slot];
}

int checkBoxOf(int category) { return kHtmlCheck + category; }

// The window's context menu, which holds the About item.
void showAboutMenu(QWidget* window, const QPoint& globalPos) {
  QMenu menu(window);
  const QAction* about = menu.addAction(QString::fromUtf8("Tarnwickについて(&A)..."));
  if (menu.exec(globalPos) == about) AboutDialog(window).exec();
}

}  // namespace

MainDialog::MainDialog(AppServices services)
    : TemplateDialog(kMainDialogTemplate, nullptr), services_(services) {
  // A top-level window rather than a dialog, so that task bars list it.
  setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::Window);
  setWindowIcon(programIcon());
  // The keyboard's way to the context menu besides the Menu key.
  connect(new QShortcut(Qt::SHIFT | Qt::Key_F10, this), &QShortcut::activated, this, [this] {
    const QWidget* anchor = focusWidget() ? focusWidget() : this;
    showAboutMenu(this, anchor->mapToGlobal(anchor->rect().center()));
  });
  form_ = loadSettings(services_.profile);
  control<QLabel>(kStatusLine)->clear();
  control<QLabel>(kParameterLine)->clear();
  fillForm();
  startTimer(kTickMilliseconds);
  if (form_.counter % 10 == 7) introCountdown_ = kIntroTicks;
}

MainDialog::~MainDialog() { stopRunForExit(); }

void MainDialog::fillForm() {
  control<QLineEdit>(kStartUrlEdit)->setText(form_.startUrl);
  for (int c = 0; c < kCategoryCount; ++c) {
    const std::int32_t flag = form_.download[c];
    control<QCheckBox>(checkBoxOf(c))->setChecked(flag == 1 || flag == 2);
  }
  for (const NumberField& field : kNumberFields) {
    control<QLineEdit>(field.editId)->setText(QString::number(numberOf(form_, field.slot)));
  }
  control<QRadioButton>(kTreeRadio)->setChecked(form_.saveModeTree);
  control<QRadioButton>(kDateRadio)->setChecked(!form_.saveModeTree);
}

bool MainDialog::readForm() {
  form_.saveModeTree = control<QRadioButton>(kTreeRadio)->isChecked();
  form_.startUrl = control<QLineEdit>(kStartUrlEdit)->text();
  for (int c = 0; c < kCategoryCount; ++c) {
    form_.download[c] = control<QCheckBox>(checkBoxOf(c))->isChecked() ? 1 : 0;
  }
  for (const NumberField& field : kNumberFields) {
    auto* edit = control<QLineEdit>(field.editId);
    const std::optional<std::uint32_t> number = scanUnsigned(edit->text());
    if (!number) {
      warn(services_.messages, "正の整数を入力してください。");
      edit->setFocus();
      edit->selectAll();
      return false;
    }
    numberOf(form_, field.slot) = *number;
  }
  return true;
}

void MainDialog::onButton(int id) {
  switch (id) {
    case kRunButton:
      onRunPress();
      break;
    case kResultButton:
      openDownloadFolder(services_.shell, services_.messages);
      break;
    case kHelpButton:
      openManualPage(this, services_.shell, services_.messages);
      break;
    case kExitButton:
      onExitPress();
      break;
    default:
      break;
  }
}

void MainDialog::onRunPress() {
  // The first press while running lets the current file finish; one more cuts it short.
  if (runActive_) {
    stopRequested_ ? session_->abort() : session_->stop();
    stopRequested_ = true;
    return;
  }
  // The user has just been told which field is wrong; a crawl would use stale values.
  if (readForm()) startRun();
}

void MainDialog::startRun() {
  CrawlJob job;
  fillCrawlJob(form_, job);
  if (!components_) components_ = makeLinuxCrawlComponents(services_.messages, {});
  session_.reset();
  session_ = std::make_unique<CrawlSession>(std::move(job), *components_);
  session_->start();
  control<QPushButton>(kRunButton)->setText(kStopCaption);
  runActive_ = true;
  stopRequested_ = false;
}

void MainDialog::onExitPress() {
  ExitConfirmDialog confirm(this);
  if (confirm.exec() != QDialog::Accepted) return;
  saveForm();
  if (readForm()) accept();
}

void MainDialog::tick() {
  if (runActive_) session_->drain([this](const UiMessage& message) { showMessage(message); });
  if (introCountdown_ >= 0 && introCountdown_-- == 0) {
    showSisterIntro(this, services_.shell, services_.messages);
  }
}

void MainDialog::showMessage(const UiMessage& message) {
  const QString text = QString::fromStdString(cp932ToUtf8(message.text));
  switch (message.code) {
    case UiCode::StatusSearching:
      showStatus("検索中...", text);
      break;
    case UiCode::StatusExamining:
      showStatus("調査中...", text);
      break;
    case UiCode::StatusDownloading:
      showStatus("ダウンロード中...", text);
      break;
    case UiCode::StatusDownloaded: {
      auto* list = control<QListWidget>(kResultList);
      list->addItem(text);
      list->setCurrentRow(list->count() - 1);
      list->scrollToItem(list->currentItem());
      break;
    }
    case UiCode::StatusFinished:
      finishRun();
      break;
    default:
      break;
  }
}

void MainDialog::showStatus(const char* status, const QString& parameter) {
  control<QLabel>(kStatusLine)->setText(QString::fromUtf8(status));
  control<QLabel>(kParameterLine)->setText(parameter);
}

void MainDialog::finishRun() {
  showStatus("巡回ダウンロード終了", QString());
  control<QPushButton>(kRunButton)->setText(kRunCaption);
  runActive_ = false;
}

// The worker reads the job and the queues, so it must be gone before they are.
void MainDialog::stopRunForExit() {
  if (!runActive_) return;
  session_->abort();
  // A worker waiting for its fatal message box needs this thread to show it.
  session_->wait([this](const UiMessage& message) { showMessage(message); },
                 [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); });
}

void MainDialog::done(int result) {
  stopRunForExit();
  TemplateDialog::done(result);
}

// After a failed reading the fields from the failing one on keep their earlier values.
void MainDialog::saveForm() {
  readForm();
  tarnwick::saveSettings(services_.profile, form_);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  saveForm();
  done(QDialog::Rejected);
  event->accept();
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  showAboutMenu(this, event->globalPos());
}

void MainDialog::timerEvent(QTimerEvent*) { tick(); }

}  // namespace tarnwick
