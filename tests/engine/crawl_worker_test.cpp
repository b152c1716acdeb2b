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
    StandInFetcher(StandIns& s, WorkQueue& work) : s(s), work(work) {}
    bool isBusy() const override { return s.busyAnswers-- > 0; }
    void fetch(const FetchRequestPayload& r) override {
      const char* busy = s.busyAnswers >= 0 ? " while busy" : "";  // no "not busy" answer yet
      s.fetched += r.url.str() + "<" + r.referrer.str() + busy + " ";
      if (s.stopDuringFetch) s.control.push(message(UiCode::ControlStop));  // start was taken
      if ((r.flags & CrawlFlags::FollowLinks) != 0) {
        s.status.push(message(UiCode::StatusSearching));
        auto page = std::make_unique<PageFetchedPayload>();
        std::tie(page->id, page->depth, page->url, page->pageText) =
            std::tuple(r.id, r.depth, r.url, "src=1.jpg> src=2.jpg>");
        work.post(WorkCode::PageFetched, std::move(page));
      }
      if ((r.flags & CrawlFlags::SaveIfAtLeast) != 0) {
        for (auto code : {UiCode::StatusExamining, UiCode::StatusDownloaded})
          s.status.push(message(code));
      }
      auto done = std::make_unique<EntryDonePayload>();
      std::tie(done->id, done->url) = std::tie(r.id, r.url);
      work.post(WorkCode::EntryDone, std::move(done));
    }
    StandIns& s;
    WorkQueue& work;
  };

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& work, UiMessageQueue&, const CrawlJob&) override {
    return std::make_unique<StandInFetcher>(*this, work);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& work, const CrawlJob&) override {
    return std::make_unique<LinkExtractor>(work);
  }

  bool stopDuringFetch = false;
  int busyAnswers = 0;  // how often the fetcher first claims to be busy
  UiMessageQueue control, status;
  std::string fetched;
};

TEST(CrawlWorkerTest, LoopEndsAndReportsInOrder) {
  const std::string twoFetches =
      "http://h/<http://h/ http://h/1.jpg<http://h/ http://h/2.jpg<http://h/ ";
  // Start URL, stop during the first fetch, busy answers, statuses by letter, fetches.
  const std::tuple<const char*, bool, int, const char*, std::string> cases[] = {
      {"http://host", false, 0, "F", ""},                // rejected start URL
      {"http://h/", false, 0, "ASAAEDEDF", twoFetches},  // idle end
      {"http://h/", false, 3, "ASAAEDEDF", twoFetches},  // requests put back while busy
      {"http://h/", true, 0, "ASF", "http://h/<http://h/ "},
  };
  for (const auto& [startUrl, stop, busyAnswers, statuses, fetched] : cases) {
    SCOPED_TRACE(::testing::Message() << startUrl << " stop " << stop << " busy " << busyAnswers);
    StandIns standIns;
    std::tie(standIns.stopDuringFetch, standIns.busyAnswers) = std::tie(stop, busyAnswers);
    bool stopSent = false;  // the idle rule or the stand-in should end the run by itself
    const CrawlJob job = testing::crawlJob(startUrl, 3, {2}, standIns.control, standIns.status);
    std::string seen;
    for (const UiMessage& m : testing::runCrawl(job, standIns, &stopSent)) {
      seen += testing::statusLetter(m.code);
    }
    EXPECT_FALSE(stopSent);
    EXPECT_EQ(seen, statuses);
    EXPECT_EQ(standIns.fetched, fetched);
  }
}

}  // namespace
}  // namespace tarnwick
