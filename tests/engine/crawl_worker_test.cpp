#include "engine/crawl_worker.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

UiMessage message(std::int32_t code) {
  UiMessage m;
  m.code = code;
  return m;
}

// What the stand-ins share and what the test reads back.
struct Shared {
  UiMessageQueue& control;
  bool stopDuringFetch;
  int busyAnswers;  // how often the fetcher first claims to be busy
  UiMessageQueue* status = nullptr;
  std::vector<std::string> fetched;  // "url<referrer"
};

// Posts what the real fetcher posts for a page and for a saved file, and one LinkFound per
// of the two images on the start page as the real extractor would.
class StandIn final : public Fetcher, public Extractor {
 public:
  StandIn(WorkQueue& work, Shared& shared) : work_(work), shared_(shared) {}
  bool isBusy() const override { return shared_.busyAnswers-- > 0; }
  void fetch(const FetchRequestPayload& r) override {
    // A fetch must follow a "not busy" answer.
    const char* busy = shared_.busyAnswers >= 0 ? " while busy" : "";
    shared_.fetched.push_back(r.url.str() + "<" + r.referrer.str() + busy);
    if (shared_.stopDuringFetch) shared_.control.push(message(ControlStop));  // start was taken
    if ((r.flags & FollowLinks) != 0) {
      shared_.status->push(message(StatusSearching));
      auto page = std::make_unique<PageFetchedPayload>();
      std::tie(page->id, page->depth, page->url) = std::tie(r.id, r.depth, r.url);
      work_.post(PageFetched, std::move(page));
    }
    if ((r.flags & SaveIfAtLeast) != 0) {
      for (auto code : {StatusExamining, StatusDownloading, StatusDownloading, StatusDownloaded}) {
        shared_.status->push(message(code));
      }
    }
    auto done = std::make_unique<EntryDonePayload>();
    std::tie(done->id, done->url) = std::tie(r.id, r.url);
    work_.post(EntryDone, std::move(done));
  }
  void extractLinks(std::int32_t id, std::uint8_t depth, const ByteString&,
                    const ByteString&) override {
    for (const char* url : {"http://h/1.jpg", "http://h/2.jpg"}) {
      auto link = std::make_unique<LinkFoundPayload>();
      std::tie(link->depth, link->url, link->parent) =
          std::make_tuple(static_cast<std::uint8_t>(depth + 1), ByteString(url), id);
      work_.post(LinkFound, std::move(link));
    }
  }

 private:
  WorkQueue& work_;
  Shared& shared_;
};

struct StandIns final : CrawlComponentFactory, Shared {
  explicit StandIns(const Shared& shared) : Shared(shared) {}
  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& work, UiMessageQueue& statusQueue,
                                       const CrawlJob&) override {
    status = &statusQueue;
    return std::make_unique<StandIn>(work, *this);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& work) override {
    return std::make_unique<StandIn>(work, *this);
  }
};

TEST(CrawlWorkerTest, LoopEndsAndReportsInOrder) {
  const std::vector<std::int32_t> twoImages{
      StatusUrlAdded,    StatusSearching,   StatusUrlAdded,   StatusUrlAdded,  StatusExamining,
      StatusDownloading, StatusDownloading, StatusDownloaded, StatusExamining, StatusDownloading,
      StatusDownloading, StatusDownloaded,  StatusFinished};
  const std::vector<std::string> twoFetches{"http://h/<http://h/", "http://h/1.jpg<http://h/",
                                            "http://h/2.jpg<http://h/"};
  const struct {
    const char* name;
    const char* startUrl;
    bool stopDuringFetch;
    int busyAnswers;
    std::vector<std::int32_t> statuses;
    std::vector<std::string> fetched;
  } cases[] = {
      {"start URL rejected", "http://host", false, 0, {StatusFinished}, {}},
      {"page with two images, idle end", "http://h/", false, 0, twoImages, twoFetches},
      {"request put back while busy", "http://h/", false, 3, twoImages, twoFetches},
      {"stop during a fetch",
       "http://h/",
       true,
       0,
       {StatusUrlAdded, StatusSearching, StatusFinished},
       {"http://h/<http://h/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UiMessageQueue status;
    UiMessageQueue control;
    CrawlJob job;
    job.maxDepth = 3;
    job.startUrl = ByteString(c.startUrl);
    std::tie(job.rowCategory[0], job.rowFlags[0], job.rowCount) = std::tuple(2, SaveIfAtLeast, 1);
    std::tie(job.statusQueue, job.controlQueue) = std::tuple(&status, &control);
    StandIns standIns({control, c.stopDuringFetch, c.busyAnswers, nullptr, {}});
    std::thread worker([&] { CrawlWorker(job, standIns); });
    control.push(message(ControlStart));
    worker.join();  // the idle rule or the stop ends the run by itself
    std::vector<std::int32_t> statuses;
    for (UiMessage m; status.pop(m);) statuses.push_back(m.code);
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(standIns.fetched, c.fetched);
  }
}

}  // namespace
}  // namespace tarnwick
