// Peak resident memory of a crawl at its fullest: every UrlTable entry in use, the work
// queue full of links, the status queue full (a window that has not drained it yet).
// A program of its own, so no other benchmark's memory counts toward the peak.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/ui_message_queue.h"
#include "engine/url_table.h"
#include "engine/work_queue.h"
#include "proc_status.h"

namespace tarnwick {
namespace {

// A typical 60-byte URL, distinct for every i.
ByteString url(std::uint32_t i) {
  char text[96];
  std::snprintf(text, sizeof text, "http://www.example-host.test/docs/section%03u/page%07u.jpg",
                i % 997, i);
  return ByteString(text);
}

void BM_PeakMemoryOfFullCrawl(benchmark::State& state) {
  double tableMiB = 0, peakMiB = 0;
  for (auto _ : state) {
    auto controlQueue = std::make_unique<UiMessageQueue>();
    auto statusQueue = std::make_unique<UiMessageQueue>();
    auto workQueue = std::make_unique<WorkQueue>();
    auto table = std::make_unique<UrlTable>(*workQueue, *statusQueue);
    // Every entry found on the start page, so all share its URL as their referrer.
    const auto referrer = std::make_shared<const ByteString>(url(0));
    for (std::uint32_t i = 0; i < UrlTable::kCapacity; ++i) {
      table->add(1, url(i), 0, referrer, CrawlFlags::SaveIfAtLeast, 0, 16384);
    }
    tableMiB = statusMiB("VmRSS");

    std::uint32_t links = 0;
    for (;; ++links) {
      // AddEntry: the largest of the link records that can fill the queue.
      auto entry = std::make_unique<AddEntryPayload>();
      entry->url = url(UrlTable::kCapacity + links);
      entry->flags = CrawlFlags::SaveIfAtLeast;
      entry->referrer = referrer;
      if (!workQueue->post(WorkCode::AddEntry, std::move(entry))) break;
    }
    peakMiB = statusMiB("VmHWM");
    if (table->size() != UrlTable::kCapacity || workQueue->size() != links || links == 0) {
      state.SkipWithError("the table or the work queue did not fill");
    }
  }
  state.counters["rss_full_table_MiB"] = tableMiB;
  state.counters["peak_rss_MiB"] = peakMiB;
}

BENCHMARK(BM_PeakMemoryOfFullCrawl)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick
