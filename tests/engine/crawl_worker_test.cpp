#include "engine/crawl_worker.h"

#include <gtest/gtest.h>

#include <new>
#include <tuple>

#include "support/crawl_run.h"

namespace tarnwick {
namespace {

// The idle end and the order of a run's reports are tested on whole crawls (crawl session
// tests); what is left to the worker alone is a run that cannot go on.
TEST(CrawlWorkerTest, RunWithoutMemoryStillEndsSayingWhy) {
  struct NoMemory final : CrawlComponentFactory {
    std::unique_ptr<Fetcher> makeFetcher(WorkQueue&, UiMessageQueue&, const CrawlJob&,
                                         const UrlTable&) override {
      throw std::bad_alloc();
    }
    std::unique_ptr<Extractor> makeExtractor(WorkQueue&, const CrawlJob&) override {
      return nullptr;
    }
  } noMemory;
  const auto statuses = testing::runCrawl(testing::crawlJob("http://h/", 3, {2}), noMemory);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(std::tie(statuses[0].code, statuses[0].value1, statuses[0].detail),
            std::tuple(UiCode::StatusFinished, 1, ByteString("out of memory")));
}

}  // namespace
}  // namespace tarnwick
