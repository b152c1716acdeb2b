#include "platform/message_box.h"

#include <cstdio>

#include "platform/codepage.h"

namespace tarnwick {
namespace {

class ConsoleMessageBox final : public MessageBox {
 public:
  void showWarning(const ByteString& text) override {
    const std::string line = cp932ToUtf8(text) + "\n";
    // One fwrite keeps the line whole when other threads write to stderr too.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

std::unique_ptr<MessageBox> makeConsoleMessageBox() {
  return std::make_unique<ConsoleMessageBox>();
}

}  // namespace tarnwick
