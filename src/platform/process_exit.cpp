#include "platform/process_exit.h"

#include <unistd.h>

#include <cstdio>

namespace tarnwick {
namespace {

class ImmediateProcessExit final : public ProcessExit {
 public:
  // Called from the crawl worker while the main thread runs: std::exit would run static
  // destructors under the main thread's feet, so flush the streams and end at once.
  [[noreturn]] void exitProcess(int status) override {
    std::fflush(nullptr);
    _exit(status);
  }
};

}  // namespace

std::unique_ptr<ProcessExit> makeProcessExit() { return std::make_unique<ImmediateProcessExit>(); }

}  // namespace tarnwick
