#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "storage/save_layout.h"
#include "text/byte_string.h"

namespace tarnwick {

class UiMessageQueue;

// Flag word carried by every URL from classification to fetch; 0 marks a failed entry.
struct CrawlFlags {
  static constexpr std::int32_t FollowLinks = 1;  // fetch as text and search it for links
  static constexpr std::int32_t SaveIfAtLeast =
      2;  // save when the content length reaches the threshold
};

// Messages between the worker and the window, in both directions.
enum class UiCode : std::int32_t {
  StatusSearching = 47831,
  StatusExamining = 47832,
  StatusUrlAdded = 47833,
  StatusDownloading = 47834,
  StatusDownloaded = 47835,
  StatusFinished = 47836,     // detail: why the run failed, with value1 1; empty when it did not
  StatusEntryFailed = 47837,  // text: URL, detail: reason; value1 1 when a file could not be saved
  ControlStart = 47840,
  ControlStop = 47842,
};

// Messages inside the engine, on the worker thread.
enum class WorkCode : std::int32_t {
  FetchRequest = 59964,
  EntryDone = 59965,
  EntryFailed = 59966,
  PageFetched = 59967,
  LinkFound = 59968,
  AddEntry = 59969,
  QuitCrawl = 59970,
};

// Copied by value into and out of a UiMessageQueue; the texts belong to the message.
struct UiMessage {
  UiCode code{};
  ByteString text;
  ByteString detail;
  std::int32_t value1 = 0;
  std::int32_t value2 = 0;
};

// Payload records of the work messages. A poster creates one, the queue owns it
// while it waits, and the handler owns it once taken.
struct WorkPayload {
  virtual ~WorkPayload() = default;
  // Bytes of text this payload holds, for the work queue's budget of link traffic.
  virtual std::size_t heldBytes() const { return 0; }
};

// What a URL's text costs in memory, its bytes and what holds them, for the budgets of link
// traffic and of the URL table.
inline constexpr std::size_t kUrlOverheadBytes = 64;
inline std::size_t urlCost(const ByteString& url) { return url.str().size() + kUrlOverheadBytes; }

// The URL of the page on which links were found, shared by all of them.
using SharedUrl = std::shared_ptr<const ByteString>;

struct FetchRequestPayload final : WorkPayload {
  std::int32_t id = 0;
  std::uint8_t depth = 0;
  ByteString url;
  ByteString referrer;
  std::int32_t flags = 0;
  std::uint32_t minSize = 0;
};

struct EntryDonePayload final : WorkPayload {
  std::int32_t id = 0;
  ByteString url;
};

struct EntryFailedPayload final : WorkPayload {
  std::int32_t id = 0;
};

struct PageFetchedPayload final : WorkPayload {
  std::int32_t id = 0;
  std::uint8_t depth = 0;
  ByteString url;
  ByteString pageText;
};

struct LinkFoundPayload final : WorkPayload {
  std::uint8_t depth = 0;
  ByteString url;
  std::int32_t parent = 0;
  SharedUrl referrer;  // the parent's URL

  std::size_t heldBytes() const override { return urlCost(url); }
};

struct AddEntryPayload final : WorkPayload {
  std::uint8_t depth = 0;
  ByteString url;
  std::int32_t parent = 0;
  std::int32_t flags = 0;
  std::int32_t done = 0;
  std::uint32_t minSize = 0;
  SharedUrl referrer;  // the parent's URL

  std::size_t heldBytes() const override { return urlCost(url); }
};

struct WorkMessage {
  WorkCode code{};
  std::unique_ptr<WorkPayload> payload;

  // The payload as the record its code names; the code decides the type.
  template <typename Payload>
  Payload& as() const {
    return static_cast<Payload&>(*payload);
  }
};

inline constexpr std::size_t kMaxDownloadRows = 9;

// The settings of one run. The window fills it before the worker starts and leaves
// it alone while the run is active; the worker only reads it.
struct CrawlJob {
  // 4,194,304 KB would be 2^32 bytes, one past what a row's threshold holds.
  static constexpr std::uint32_t kLargestThresholdKb = 4194303;

  // Appends a row as the window fills it: files of `category` are saved from `thresholdKb`
  // kilobytes on. Larger thresholds are clamped; a row past the last slot is ignored.
  void addDownloadRow(std::int32_t category, std::uint32_t thresholdKb) {
    if (rowCount >= kMaxDownloadRows) return;
    rowCategory[rowCount] = category;
    rowFlags[rowCount] = CrawlFlags::SaveIfAtLeast;
    rowMinSize[rowCount] = std::min(thresholdKb, kLargestThresholdKb) * 1024;
    ++rowCount;
  }

  std::uint8_t maxDepth = 0;
  ByteString startUrl;
  std::array<std::int32_t, kMaxDownloadRows> rowCategory{};
  std::array<std::int32_t, kMaxDownloadRows> rowFlags{};
  std::array<std::uint32_t, kMaxDownloadRows> rowMinSize{};
  std::uint32_t rowCount = 0;
  SaveLayout saveLayout = SaveLayout::Tree;
  // Off, the crawl speaks plain HTTP only; on, "https://" counts wherever "http://" does.
  bool allowHttps = false;
  // Links to follow stay on the start URL's host and port; embedded files do not.
  bool sameHostOnly = false;
  UiMessageQueue* statusQueue = nullptr;
  UiMessageQueue* controlQueue = nullptr;
  // Up to this many requests are fetched at once; results still apply in table order.
  std::uint32_t connections = 1;
  // Set by the owner (any thread) to end the running transfers at once, without retries.
  // May stay null.
  const std::atomic<bool>* abortRequest = nullptr;
};

}  // namespace tarnwick
