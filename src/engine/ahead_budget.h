#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

// What entries fetched ahead of the table's current one may hold before their turn: memory
// (page text, body bytes not yet written, the entries themselves) and files received on
// disk, waiting to be committed.
struct AheadLimits {
  std::size_t memoryBytes = std::size_t{128} << 20;
  std::size_t files = 256;  // each holds a descriptor until its commit
  std::uint64_t fileBytes = std::uint64_t{1} << 30;
};

// The sum of what entries ahead hold, against the limits. New entries start ahead only while
// every sum is under its limit; a transfer ahead that would take memory past the limit waits
// for room. Worker thread only.
class AheadBudget {
 public:
  explicit AheadBudget(AheadLimits limits = {}) : limits_(limits) {}

  bool roomToStart() const {
    return memoryBytes_ < limits_.memoryBytes && files_ < limits_.files &&
           fileBytes_ < limits_.fileBytes;
  }
  bool roomFor(std::size_t memoryBytes) const {
    return memoryBytes_ + memoryBytes <= limits_.memoryBytes;
  }

 private:
  friend class Charge;

  const AheadLimits limits_;
  std::size_t memoryBytes_ = 0;
  std::size_t files_ = 0;
  std::uint64_t fileBytes_ = 0;
};

// One entry's share of the budget. Once the entry is the current one it holds what it must
// and nothing counts; what it held is given back then, or when it ends.
class Charge {
 public:
  explicit Charge(AheadBudget& budget) : budget_(budget) {}
  ~Charge() { exempt(); }
  Charge(const Charge&) = delete;
  Charge& operator=(const Charge&) = delete;

  // Whether `bytes` more memory stays within the limit; always for the current entry.
  bool hasRoomFor(std::size_t bytes) const { return exempt_ || budget_.roomFor(bytes); }
  void holdMemory(std::size_t bytes);
  void releaseMemory(std::size_t bytes);
  void addFile() { adjustFiles(1, 0); }
  void addFileBytes(std::uint64_t bytes) { adjustFiles(0, bytes); }
  // The file is committed or removed: it no longer counts.
  void removeFile();
  void exempt();

 private:
  void adjustFiles(std::size_t files, std::uint64_t bytes);

  AheadBudget& budget_;
  bool exempt_ = false;
  std::size_t memoryBytes_ = 0;
  std::size_t files_ = 0;
  std::uint64_t fileBytes_ = 0;
};

}  // namespace tarnwick
