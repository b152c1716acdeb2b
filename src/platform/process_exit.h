#pragma once

#include <memory>

namespace tarnwick {

// Ends the whole process with a status; callable from any thread. Test stand-ins throw
// instead, so a test can see the status without ending.
class ProcessExit {
 public:
  virtual ~ProcessExit() = default;
  [[noreturn]] virtual void exitProcess(int status) = 0;
};

std::unique_ptr<ProcessExit> makeProcessExit();

}  // namespace tarnwick
