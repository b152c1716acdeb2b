#include "platform/clock.h"

#include <time.h>

#include <thread>

namespace tarnwick {
namespace {

class SystemClock final : public Clock {
 public:
  ByteString todayYmd() override {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[16];
    const std::size_t length = strftime(text, sizeof text, "%Y%m%d", &local);
    return ByteString(text, length);
  }

  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }

  void pause(std::chrono::steady_clock::duration duration) override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

std::unique_ptr<Clock> makeSystemClock() { return std::make_unique<SystemClock>(); }

}  // namespace tarnwick
