#include "engine/url_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

// A table with its two queues, driven by a script of steps: "+u" adds u, "*u" adds u
// already done, "!u" adds u already failed, "S" starts, "Du" and "Fu" end u's fetch as
// done or failed, "?u" asks for the entry after u. Adds may name a parent id ("+u@2"), whose URL is
// the referrer; URLs starting with "i" are images to save, the others pages to follow. An id is the
// URL's place in order of arrival.
struct Probe {
  explicit Probe(std::uint32_t capacity, std::size_t bytes = UrlTable::kUrlBytesBudget)
      : table(work, status, capacity, bytes) {}

  void run(const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
      const std::size_t at = step.find('@');
      const std::string url = step.substr(1, at - 1);
      const std::int32_t parent = at == std::string::npos ? 0 : std::stoi(step.substr(at + 1));
      const auto id = static_cast<std::int32_t>(std::ranges::find(ids, url) - ids.begin());
      const bool adds = step[0] == '+' || step[0] == '*' || step[0] == '!';
      if (adds && id == std::ssize(ids)) ids.push_back(url);
      const std::int32_t flags = step[0] == '!'  ? 0
                                 : url[0] == 'i' ? CrawlFlags::SaveIfAtLeast
                                                 : CrawlFlags::FollowLinks;
      if (adds) {
        const auto referrer = std::make_shared<const ByteString>(ids.at(parent));
        table.add(1, ByteString(url), parent, referrer, flags, step[0] == '+' ? 0 : 1, 0);
      }
      if (step[0] == 'S') table.start();
      if (step[0] == 'D') table.markDone(id, ByteString(url));
      if (step[0] == 'F') table.markFailed(id);
      if (step[0] == '?') {
        const auto next = table.entryAfter(id);
        ahead += next ? std::to_string(next->id) + "~" + next->url.str() + " " : "none ";
      }
    }
  }
  // What the table told since last asked: each entry after as "id~url ", each FetchRequest
  // as "id:url<referrer ", then "+" and the number of URLs added.
  std::string posted() {
    std::string out = std::exchange(ahead, {});
    for (WorkMessage m; work.take(m);) {
      const auto& r = m.as<FetchRequestPayload>();
      out += std::to_string(r.id) + ":" + r.url.str() + "<" + r.referrer.str() + " ";
    }
    int added = 0;
    for (UiMessage m; status.pop(m);) added += m.code == UiCode::StatusUrlAdded;
    return out + "+" + std::to_string(added);
  }

  WorkQueue work;
  UiMessageQueue status;
  UrlTable table;
  std::vector<std::string> ids;
  std::string ahead;
};

TEST(UrlTableTest, DuplicatesOrderOneFetchAtATimeAndAFullTable) {
  const struct {
    std::uint32_t capacity;
    const char* script;
    const char* posted;
    std::size_t bytes = UrlTable::kUrlBytesBudget;
  } cases[] = {
      {16, "+a +a S", "0:a<a +1"},
      {16, "+A +a S DA", "0:A<A 1:a<A +2"},
      {16, "*a +b *c +d S Db", "1:b<a 3:d<a +4"},
      {16, "S +a +b Fa", "0:a<a 1:b<a +2"},
      {16, "+a +b S", "0:a<a +2"},
      {16, "+a S Fa +a +b", "0:a<a 1:b<a +2"},
      {4, "+a +b +c +d +e +a S Da", "0:a<a 1:b<a +4"},  // nothing removable: e dropped
      {16, "+aaaa +bbbb +cccc +dddd", "+3", 3 * (4 + kUrlOverheadBytes)},
      // Compaction keeps a finished page's finished links only when the page was linked
      // twice, or stands in the newer half.
      {4, "*p0 *i1 +i2 +i3 +i4 +i1", "+5"},
      {4, "*p0 +p0 *i1 +i2 +i3 +i4", "+4"},
      {4, "+a *p1 *i2@1 +b +i4", "+5"},
      {4, "+a +b *p2 *i3@2 +i4", "+4"},
      // The entries after one are read for fetching ahead, finished ones passed over.
      {16, "+a *b +c S ?a ?c Da ?a", "2~c none 2~c 0:a<a 2:c<a +3"},
  };
  for (const auto& c : cases) {
    Probe probe(c.capacity, c.bytes);
    probe.run(c.script);
    EXPECT_EQ(probe.posted(), c.posted) << c.script;
  }
}

TEST(UrlTableTest, CompactionKeepsTheOutstandingFetchAndReferrersOfRemovedPages) {
  Probe probe(8);
  probe.run("*p0 *i1 *p2 +i3 *p4 +p4 *i5@2 !i6@4 +p7@2 S");
  EXPECT_EQ(probe.posted(), "3:i3<p0 +8");
  probe.run("+i8@2");  // full: keeps p0, i3 and p7, then enters i8
  EXPECT_EQ(probe.table.size(), 4u);
  probe.run("+i9 Di3 Dp7");
  EXPECT_EQ(probe.posted(), "7:p7<p2 8:i8<p2 +2");
  probe.run("+p0 +i1");  // p0 was kept, so it is a duplicate; i1 was removed
  EXPECT_EQ(probe.posted(), "+1");
}

}  // namespace
}  // namespace tarnwick
