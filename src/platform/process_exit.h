#pragma once

#include <memory>

namespace tarnwick {

// Ends the whole process with a status, after flushing what the program wrote; callable
// from any thread. Never returns.
class ProcessExit {
 public:
  virtual ~ProcessExit() = default;
  [[noreturn]] virtual void exitProcess(int status) = 0;
};

std::unique_ptr<ProcessExit> makeProcessExit();

}  // namespace tarnwick
