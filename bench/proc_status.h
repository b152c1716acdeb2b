#pragma once

#include <fstream>
#include <string>

namespace tarnwick {

// A field of /proc/self/status such as VmRSS or VmHWM, in MiB; -1 when it cannot be read.
inline double statusMiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string name; status >> name;) {
    if (name == field + ":") {
      double kib = 0;
      status >> kib;
      return kib / 1024;
    }
  }
  return -1;
}

}  // namespace tarnwick
