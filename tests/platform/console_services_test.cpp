#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "platform/message_box.h"
#include "platform/process_exit.h"

namespace tarnwick {
namespace {

TEST(ConsoleServicesTest, WarningIsOneUtf8Line) {
  auto box = makeConsoleMessageBox();
  ::testing::internal::CaptureStderr();
  box->showWarning(
      "download\x83t\x83@\x83"
      "C\x83\x8b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81\x42");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "downloadファイルが存在しています。\n");
}

TEST(ConsoleServicesDeathTest, ExitFromAWorkerFlushesAndEndsWithTheStatus) {
  for (const int status : {0, 1, 7}) {
    SCOPED_TRACE(status);
    EXPECT_EXIT(
        {
          static char buffer[256];
          std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
          std::fputs("still buffered", stderr);
          std::thread([status] { makeProcessExit()->exitProcess(status); }).join();
        },
        ::testing::ExitedWithCode(status), "still buffered");
  }
}

}  // namespace
}  // namespace tarnwick
