// Peak resident memory of extracting one hostile page: 2 MB of links, each of which resolves
// to a 7.8 KB URL below a long folder name. Read whole, they would take 1.3 GB; the work
// queue's budget for link traffic refuses what would pass it. A program of its own, so no
// other benchmark's memory counts toward the peak.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "engine/link_extractor.h"
#include "engine/work_queue.h"
#include "proc_status.h"

namespace tarnwick {
namespace {

void BM_PeakMemoryOfLongLinksPage(benchmark::State& state) {
  const ByteString pageUrl("http://h/" + std::string(7800, 'f') + "/links.html");
  std::string links;
  for (int i = 0; links.size() < 2'000'000; ++i) links += "<a href=" + std::to_string(i) + ".zip>";
  const ByteString page(links);
  std::uint32_t waiting = 0;
  for (auto _ : state) {
    auto workQueue = std::make_unique<WorkQueue>();
    LinkExtractor(*workQueue).extractLinks(0, 0, pageUrl, page);
    waiting = workQueue->size();
  }
  state.counters["links_waiting"] = waiting;
  state.counters["peak_rss_MiB"] = statusMiB("VmHWM");
}

BENCHMARK(BM_PeakMemoryOfLongLinksPage)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick
