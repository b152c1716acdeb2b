// extractLinks over a 1 MiB page with 5,000 links: four marker passes, resolution,
// normalisation and one LinkFound posted to a real WorkQueue per link.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "engine/link_extractor.h"
#include "engine/work_queue.h"
#include "text/byte_string.h"

namespace tarnwick {
namespace {

constexpr std::size_t kPageSize = 1 << 20;
constexpr int kLinkCount = 5000;
const ByteString kPageUrl = "http://www.example.test/catalogue/section/index.html";

// The kinds of link a real page mixes: relative names, parent steps, rooted and absolute
// links, each with or without a query.
std::string linkValue(std::mt19937& rng, int link) {
  const std::string number = std::to_string(rng() % 100000);
  switch (link % 5) {
    case 0:
      return "items/page" + number + ".html";
    case 1:
      return "../archive/2004/notes" + number + ".html?from=index";
    case 2:
      return "/catalogue/img/photo" + number + ".jpg";
    case 3:
      return "http://mirror.example.test/files/pack" + number + ".zip";
    default:
      return "./detail/entry" + number + ".html#top";
  }
}

// Plain ASCII prose around the links, spaced so that 5,000 links fill exactly 1 MiB.
// Every fifth link is an image written with "src=", the rest anchors with "href=".
std::string generatePage() {
  std::mt19937 rng(6);
  static constexpr const char* kWords[] = {"the ",   "crawl ", "index ", "page ",
                                           "which ", "files ", "of ",    "hyper "};
  const std::size_t textPerLink = kPageSize / kLinkCount;
  std::string page = "<html><head><title>bench</title></head><body>\n";
  for (int link = 0; link < kLinkCount; ++link) {
    const std::size_t paragraphEnd = page.size() + textPerLink;
    page += "<p class=\"text\">";
    const bool image = link % 5 == 2;
    page += image ? "<img src=\"" : "<a href=\"";
    page += linkValue(rng, link);
    page += image ? "\" alt=\"photo\">" : "\">more</a>";
    while (page.size() + 8 < paragraphEnd) page += kWords[rng() % std::size(kWords)];
    page += "</p>\n";
  }
  page.resize(kPageSize, ' ');
  return page;
}

void drain(WorkQueue& queue) {
  WorkMessage message;
  while (queue.take(message)) message.payload.reset();
}

void BM_ExtractLinks(benchmark::State& state) {
  const ByteString page(generatePage());
  WorkQueue queue;
  LinkExtractor extractor(queue);
  for (auto _ : state) {
    extractor.extractLinks(0, 1, kPageUrl, page);
    state.PauseTiming();
    if (queue.size() != kLinkCount) state.SkipWithError("a link was lost or invented");
    drain(queue);  // releasing the payloads is the consumer's work, not the extractor's
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * page.length());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kLinkCount);
  state.SetLabel("items = links");
}

BENCHMARK(BM_ExtractLinks)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwick
