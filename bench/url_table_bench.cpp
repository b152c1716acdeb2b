// UrlTable at full size: 524,288 distinct adds, as many duplicate adds, the compaction of a
// full table, and the table's share of crawling a tree that fills it. The distinct adds are
// also timed per 65,536-add slice, so the first and the last slice show whether an add stays
// O(1) as the table fills.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/ui_message_queue.h"
#include "engine/url_table.h"
#include "engine/work_queue.h"
#include "text/byte_string.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kEntries = UrlTable::kCapacity;
constexpr std::uint32_t kSlice = 65536;
constexpr std::uint32_t kPageEvery = 8;  // one page among eight entries, the rest files

// Typical 60-byte URLs, all distinct; index kEntries is one more that the table lacks.
const std::vector<ByteString>& urls() {
  static const std::vector<ByteString> all = [] {
    std::vector<ByteString> made;
    made.reserve(kEntries + 1);
    char text[96];
    for (std::uint32_t i = 0; i <= kEntries; ++i) {
      std::snprintf(text, sizeof text, "http://www.example-host.test/docs/section%03u/page%07u.%s",
                    i % 997, i, i % kPageEvery == 0 ? "html" : "jpg");
      made.emplace_back(text);
    }
    return made;
  }();
  return all;
}

// A tree with a fan-out of 64: entry i was found on page 8 * (i / 64).
std::int32_t parentOf(std::uint32_t i) { return static_cast<std::int32_t>(kPageEvery * (i / 64)); }

// The parent's URL, shared by its 64 links as the worker shares it among a page's links.
const SharedUrl& referrerOf(std::uint32_t i) {
  static const std::vector<SharedUrl> all = [] {
    std::vector<SharedUrl> made;
    for (std::uint32_t group = 0; group <= kEntries / 64; ++group) {
      made.push_back(std::make_shared<const ByteString>(urls()[kPageEvery * group]));
    }
    return made;
  }();
  return all[i / 64];
}
std::int32_t flagsOf(std::uint32_t i) {
  return i % kPageEvery == 0 ? CrawlFlags::FollowLinks : CrawlFlags::SaveIfAtLeast;
}

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The engine pieces a table needs, with the status queue drained as the window would.
struct Crawl {
  WorkQueue workQueue;
  UiMessageQueue statusQueue;
  UrlTable table{workQueue, statusQueue};

  void drainStatus() {
    UiMessage message;
    while (statusQueue.pop(message)) {
    }
  }
  void add(std::uint32_t i) {
    table.add(1, urls()[i], parentOf(i), referrerOf(i), flagsOf(i), 0, 16384);
  }
  void addSlice(std::uint32_t first) {
    for (std::uint32_t i = first; i < first + kSlice; ++i) add(i);
  }
  void fill() {
    for (std::uint32_t first = 0; first < kEntries; first += kSlice) {
      addSlice(first);
      drainStatus();
    }
  }
};

void BM_UrlTableAddDistinct(benchmark::State& state) {
  referrerOf(0);
  double firstSlice = 0, lastSlice = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto crawl = std::make_unique<Crawl>();
    state.ResumeTiming();
    for (std::uint32_t first = 0; first < kEntries; first += kSlice) {
      const double sliceStart = threadCpuSeconds();
      crawl->addSlice(first);
      const double sliceTime = threadCpuSeconds() - sliceStart;
      if (first == 0) firstSlice += sliceTime;
      if (first + kSlice == kEntries) lastSlice += sliceTime;
      state.PauseTiming();
      crawl->drainStatus();
      state.ResumeTiming();
    }
    state.PauseTiming();
    if (crawl->table.size() != kEntries) state.SkipWithError("distinct URLs were not all held");
    crawl.reset();
    state.ResumeTiming();
  }
  const double perAdd = 1e9 / static_cast<double>(state.iterations() * kSlice);
  state.counters["first_64k_ns_per_add"] = firstSlice * perAdd;
  state.counters["last_64k_ns_per_add"] = lastSlice * perAdd;
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kEntries);
}

void BM_UrlTableAddDuplicate(benchmark::State& state) {
  referrerOf(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto crawl = std::make_unique<Crawl>();
    crawl->fill();
    state.ResumeTiming();
    for (std::uint32_t i = 0; i < kEntries; ++i) crawl->add(i);
    state.PauseTiming();
    if (crawl->table.size() != kEntries) state.SkipWithError("a duplicate was entered");
    crawl.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kEntries);
}

// The first three quarters of a full table finish, then the add that finds it full: the
// compaction drops the finished subtrees. Both are timed, as the table keeps account of
// what compaction may remove as entries finish.
void BM_UrlTableCompaction(benchmark::State& state) {
  referrerOf(0);
  std::uint32_t kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto crawl = std::make_unique<Crawl>();
    crawl->fill();
    state.ResumeTiming();
    for (std::uint32_t i = 0; i < kEntries / 4 * 3; ++i) {
      crawl->table.markDone(static_cast<std::int32_t>(i), urls()[i]);
    }
    crawl->add(kEntries);
    state.PauseTiming();
    kept = crawl->table.size();
    if (kept >= kEntries) state.SkipWithError("compaction removed nothing");
    crawl.reset();
    state.ResumeTiming();
  }
  state.counters["entries_after"] = kept;
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kEntries);
}

// The table's share of crawling bench/tree-crawl's endless tree to depth N: page pX links
// pages pX0..pX9 one level down and embeds images iX0..iX9 at its own level, each fetched
// in order of discovery and finished before the page's links come in, as the worker does.
// Depth 4 (122,221 URLs) fits the table; depth 5 (1,222,221) fills it at about 82,600
// fetches, and from then on every fetch of a page adds into a full table.
void BM_UrlTableTreeCrawl(benchmark::State& state) {
  const auto depth = static_cast<std::uint8_t>(state.range(0));
  const std::string root = "http://127.0.0.1:8080/";
  std::int64_t fetched = 0;
  std::uint32_t held = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto crawl = std::make_unique<Crawl>();
    state.ResumeTiming();
    crawl->table.add(0, ByteString(root + "p.html"), 0, nullptr, CrawlFlags::FollowLinks, 0, 0);
    crawl->table.start();
    for (WorkMessage message; crawl->workQueue.take(message); ++fetched) {
      const auto& page = message.as<FetchRequestPayload>();
      crawl->table.markDone(page.id, page.url);
      if ((page.flags & CrawlFlags::FollowLinks) == 0) continue;
      const std::string number =
          page.url.str().substr(root.size() + 1, page.url.length() - root.size() - 6);
      const auto referrer = std::make_shared<const ByteString>(page.url);
      for (char k = '0'; depth > page.depth && k <= '9'; ++k) {
        crawl->table.add(page.depth + 1, ByteString(root + "p" + number + k + ".html"), page.id,
                         referrer, CrawlFlags::FollowLinks, 0, 0);
      }
      for (char k = '0'; k <= '9'; ++k) {
        crawl->table.add(page.depth, ByteString(root + "i" + number + k + ".jpg"), page.id,
                         referrer, CrawlFlags::SaveIfAtLeast, 0, 65536);
      }
      crawl->drainStatus();
    }
    held = crawl->table.size();
    state.PauseTiming();
    crawl.reset();
    state.ResumeTiming();
  }
  state.counters["urls_fetched"] =
      static_cast<double>(fetched) / static_cast<double>(state.iterations());
  state.counters["entries_held_at_end"] = held;
  state.SetItemsProcessed(fetched);
}

BENCHMARK(BM_UrlTableAddDistinct)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_UrlTableAddDuplicate)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_UrlTableCompaction)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_UrlTableTreeCrawl)->Arg(4)->Arg(5)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace tarnwick
