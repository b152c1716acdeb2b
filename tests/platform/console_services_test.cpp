#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "platform/process_exit.h"

namespace tarnwick {
namespace {

// The crawl ends the process from its worker thread; buffered output must still get out.
TEST(ConsoleServicesDeathTest, ExitFromAWorkerFlushesAndEndsWithTheStatus) {
  EXPECT_EXIT(
      {
        static char buffer[256];
        std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
        std::fputs("still buffered", stderr);
        std::thread([] { makeProcessExit()->exitProcess(7); }).join();
      },
      ::testing::ExitedWithCode(7), "still buffered");
}

}  // namespace
}  // namespace tarnwick
