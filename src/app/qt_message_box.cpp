#include "app/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "app/dialog_templates.h"
#include "platform/codepage.h"

namespace tarnwick {
namespace {

class QtMessageBox final : public MessageBox {
 public:
  void showWarning(const ByteString& text) override {
    const QString message = QString::fromStdString(cp932ToUtf8(text));
    const auto show = [message] {
      QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kProgramTitle), message,
                      QMessageBox::Ok, QApplication::activeWindow());
      box.exec();
    };
    if (QThread::currentThread() == uiThreadAnchor_.thread()) {
      show();
    } else {
      QMetaObject::invokeMethod(&uiThreadAnchor_, show, Qt::BlockingQueuedConnection);
    }
  }

 private:
  QObject uiThreadAnchor_;  // lives on the thread that made the box
};

}  // namespace

std::unique_ptr<MessageBox> makeQtMessageBox() { return std::make_unique<QtMessageBox>(); }

}  // namespace tarnwick
