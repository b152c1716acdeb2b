#include "engine/url_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

// A table with its two queues; reads back what the table posted.
struct Probe {
  explicit Probe(std::uint32_t capacity) : table(work, status, capacity) {}

  void add(const std::string& url, std::int32_t parent, std::int32_t flags, bool done = false) {
    table.add(1, ByteString(url), parent, flags, done ? 1 : 0, 0);
  }
  // Each FetchRequest as "id:url<referrer".
  std::vector<std::string> fetches() {
    std::vector<std::string> out;
    for (WorkMessage m; work.take(m);) {
      const auto& r = m.as<FetchRequestPayload>();
      out.push_back(std::to_string(r.id) + ":" + r.url.str() + "<" + r.referrer.str());
    }
    return out;
  }
  int urlsAdded() {
    int added = 0;
    for (UiMessage m; status.pop(m);) added += m.code == StatusUrlAdded ? 1 : 0;
    return added;
  }

  WorkQueue work;
  UiMessageQueue status;
  UrlTable table;
};

TEST(UrlTableTest, DuplicatesOrderAndOneFetchAtATime) {
  enum Op { Add, AddDone, Start, Done, Fail };
  const struct {
    std::vector<std::pair<Op, std::string>> steps;
    std::vector<std::string> fetched;
    int added;
  } cases[] = {
      {{{Add, "a"}, {Add, "a"}, {Start, ""}}, {"0:a<a"}, 1},
      {{{Add, "A"}, {Add, "a"}, {Start, ""}, {Done, "A"}}, {"0:A<A", "1:a<A"}, 2},
      {{{AddDone, "a"}, {Add, "b"}, {AddDone, "c"}, {Add, "d"}, {Start, ""}, {Done, "b"}},
       {"1:b<a", "3:d<a"},
       4},
      {{{Start, ""}, {Add, "a"}, {Add, "b"}, {Fail, "a"}}, {"0:a<a", "1:b<a"}, 2},
      {{{Add, "a"}, {Add, "b"}, {Start, ""}}, {"0:a<a"}, 2},
      {{{Add, "a"}, {Start, ""}, {Fail, "a"}, {Add, "a"}, {Add, "b"}}, {"0:a<a", "1:b<a"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fetched.back());
    Probe probe(16);
    std::vector<std::string> entered;  // a URL's place here is its id
    for (const auto& [op, url] : c.steps) {
      const auto id = std::find(entered.begin(), entered.end(), url) - entered.begin();
      if ((op == Add || op == AddDone) && id == std::ssize(entered)) entered.push_back(url);
      if (op == Add || op == AddDone) probe.add(url, 0, FollowLinks, op == AddDone);
      if (op == Start) probe.table.start();
      if (op == Done) probe.table.markDone(static_cast<std::int32_t>(id), ByteString(url));
      if (op == Fail) probe.table.markFailed(static_cast<std::int32_t>(id));
    }
    EXPECT_EQ(probe.fetches(), c.fetched);
    EXPECT_EQ(probe.urlsAdded(), c.added);
  }
}

TEST(UrlTableTest, CompactionKeepsTheOutstandingFetchAndReferrersOfRemovedPages) {
  Probe probe(8);
  probe.add("p0", 0, FollowLinks, true);
  probe.add("i1", 0, SaveIfAtLeast, true);
  probe.add("p2", 0, FollowLinks, true);
  probe.add("i3", 0, SaveIfAtLeast);
  probe.add("p4", 0, FollowLinks, true);
  probe.add("p4", 0, FollowLinks);  // second reference
  probe.add("i5", 2, SaveIfAtLeast, true);
  probe.add("i6", 4, 0, true);  // failed
  probe.add("p7", 2, FollowLinks);
  probe.table.start();
  EXPECT_EQ(probe.fetches(), std::vector<std::string>{"3:i3<p0"});
  probe.add("i8", 2, SaveIfAtLeast);  // full: keeps p0, i3 and p7, then enters i8
  EXPECT_EQ(probe.table.size(), 4u);
  // Long enough for no link of a removed page to be still on its way.
  for (WorkMessage m; probe.work.takenCount() < 2 * WorkQueue::kCapacity; probe.work.take(m)) {
    probe.work.post(QuitCrawl);
  }
  probe.add("i9", 0, SaveIfAtLeast);
  probe.table.markDone(3, ByteString("i3"));
  probe.table.markDone(7, ByteString("p7"));
  EXPECT_EQ(probe.fetches(), (std::vector<std::string>{"7:p7<p2", "8:i8<p2"}));
  EXPECT_EQ(probe.urlsAdded(), 10);
  probe.add("p0", 0, FollowLinks);    // kept: still a duplicate
  probe.add("i1", 0, SaveIfAtLeast);  // removed: entered again
  EXPECT_EQ(probe.urlsAdded(), 1);
}

TEST(UrlTableTest, FullTableWithNothingRemovableDropsTheNewUrl) {
  Probe probe(4);
  for (const char* url : {"a", "b", "c", "d", "e", "a"}) probe.add(url, 0, FollowLinks);
  EXPECT_EQ(probe.table.size(), 4u);
  EXPECT_EQ(probe.urlsAdded(), 4);
  probe.table.start();
  probe.table.markDone(0, ByteString("a"));
  EXPECT_EQ(probe.fetches(), (std::vector<std::string>{"0:a<a", "1:b<a"}));
}

}  // namespace
}  // namespace tarnwick
