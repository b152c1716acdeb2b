#pragma once

#include <memory>

#include "text/byte_string.h"

namespace tarnwick {

// A modal warning with one OK button, titled with the program's name. May be called
// from the worker thread; returns when the user has dismissed it. Never fails.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  virtual void showWarning(const ByteString& text) = 0;  // text in code page 932
};

// Writes the text, converted to UTF-8, as one line to standard error.
std::unique_ptr<MessageBox> makeConsoleMessageBox();

}  // namespace tarnwick
