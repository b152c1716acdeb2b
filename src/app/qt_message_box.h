#pragma once

#include <memory>

#include "platform/message_box.h"

namespace tarnwick {

// QMessageBox with the warning icon, one OK button and the main window's caption as title.
// Make it on the UI thread. A call from another thread shows the box on the UI thread
// and waits there until the user has dismissed it.
std::unique_ptr<MessageBox> makeQtMessageBox();

}  // namespace tarnwick
