#include "engine/crawl_worker.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/link_extractor.h"
#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
#include "support/crawl_run.h"

namespace tarnwick {
namespace {

UiMessage message(UiCode code) { return {code, {}, {}, 0, 0}; }

// A stand-in fetcher posts what the real one posts for a page (whose text links two images)
// or a saved file, and records each fetch as "url<referrer"; the extractor is the real one.
struct StandIns final : CrawlComponentFactory {
  struct StandInFetcher final : Fetcher {
    StandInFetcher(StandIns& s, WorkQueue& work, UiMessageQueue& status)
        : s(s), work(work), status(status) {}
    bool isBusy() const override { return s.busyAnswers-- > 0; }
    void fetchAhead(const FetchRequestPayload&) override { ADD_FAILURE() << "one connection"; }
    void fetch(const FetchRequestPayload& r) override {
      const char* busy = s.busyAnswers >= 0 ? " while busy" : "";  // no "not busy" answer yet
      s.fetched += r.url.str() + "<" + r.referrer.str() + busy + " ";
      if ((r.flags & CrawlFlags::FollowLinks) != 0) {
        status.push(message(UiCode::StatusSearching));
        auto page = std::make_unique<PageFetchedPayload>();
        std::tie(page->id, page->depth, page->url, page->pageText) =
            std::tuple(r.id, r.depth, r.url, "src=1.jpg> src=2.jpg>");
        work.post(WorkCode::PageFetched, std::move(page));
      }
      if ((r.flags & CrawlFlags::SaveIfAtLeast) != 0) {
        for (auto code : {UiCode::StatusExamining, UiCode::StatusDownloaded})
          status.push(message(code));
      }
      auto done = std::make_unique<EntryDonePayload>();
      std::tie(done->id, done->url) = std::tie(r.id, r.url);
      work.post(WorkCode::EntryDone, std::move(done));
    }
    StandIns& s;
    WorkQueue& work;
    UiMessageQueue& status;
  };

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& work, UiMessageQueue& status,
                                       const CrawlJob&) override {
    if (outOfMemory) throw std::bad_alloc();
    return std::make_unique<StandInFetcher>(*this, work, status);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& work, const CrawlJob&) override {
    return std::make_unique<LinkExtractor>(work);
  }

  bool outOfMemory = false;
  int busyAnswers = 0;  // how often the fetcher first claims to be busy
  std::string fetched;
};

TEST(CrawlWorkerTest, LoopEndsAndReportsInOrder) {
  const std::string twoFetches =
      "http://h/<http://h/ http://h/1.jpg<http://h/ http://h/2.jpg<http://h/ ";
  // Start URL, busy answers, out of memory, statuses by letter (a failed run's end as "!"),
  // fetches.
  const std::tuple<const char*, int, bool, const char*, std::string> cases[] = {
      {"http://host", 0, false, "F", ""},                // rejected start URL
      {"http://h/", 0, false, "ASAAEDEDF", twoFetches},  // idle end
      {"http://h/", 3, false, "ASAAEDEDF", twoFetches},  // requests put back while busy
      {"http://h/", 0, true, "!", ""},
  };
  for (const auto& [startUrl, busyAnswers, outOfMemory, statuses, fetched] : cases) {
    SCOPED_TRACE(::testing::Message() << startUrl << " busy " << busyAnswers);
    StandIns standIns;
    std::tie(standIns.busyAnswers, standIns.outOfMemory) = std::tie(busyAnswers, outOfMemory);
    std::string seen;
    for (const UiMessage& m : testing::runCrawl(testing::crawlJob(startUrl, 3, {2}), standIns)) {
      const bool failedRun = m.code == UiCode::StatusFinished && m.value1 == 1;
      seen += failedRun ? '!' : testing::statusLetter(m.code);
      if (failedRun) {
        EXPECT_EQ(m.detail, "out of memory");
      }
    }
    EXPECT_EQ(seen, statuses);
    EXPECT_EQ(standIns.fetched, fetched);
  }
}

}  // namespace
}  // namespace tarnwick
