#include "engine/ahead_budget.h"

#include <algorithm>

namespace tarnwick {

void Charge::holdMemory(std::size_t bytes) {
  if (exempt_) return;
  budget_.memoryBytes_ += bytes;
  memoryBytes_ += bytes;
}

void Charge::releaseMemory(std::size_t bytes) {
  const std::size_t given = std::min(bytes, memoryBytes_);
  budget_.memoryBytes_ -= given;
  memoryBytes_ -= given;
}

void Charge::adjustFiles(std::size_t files, std::uint64_t bytes) {
  if (exempt_) return;
  budget_.files_ += files;
  files_ += files;
  budget_.fileBytes_ += bytes;
  fileBytes_ += bytes;
}

void Charge::removeFile() {
  budget_.files_ -= files_;
  budget_.fileBytes_ -= fileBytes_;
  files_ = 0;
  fileBytes_ = 0;
}

void Charge::exempt() {
  exempt_ = true;
  releaseMemory(memoryBytes_);
  removeFile();
}

}  // namespace tarnwick
