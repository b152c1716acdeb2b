#pragma once

#include <chrono>
#include <memory>

#include "text/byte_string.h"

namespace tarnwick {

// Time of day and short pauses. Safe to use from any thread; never fails.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date as "%Y%m%d", such as "20050314".
  virtual ByteString todayYmd() = 0;
  // A steady time, for measuring pauses.
  virtual std::chrono::steady_clock::time_point now() = 0;
  // Blocks the calling thread for `duration`.
  virtual void pause(std::chrono::steady_clock::duration duration) = 0;
};

std::unique_ptr<Clock> makeSystemClock();

}  // namespace tarnwick
