#include "engine/url_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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
      // Room for three URLs' bytes: compaction gives back ib's to pd, pe finds none.
      {16, "*pa *ib +pc +pd +pe", "+4", 3 * (2 + kUrlOverheadBytes)},
      {4, "*a *@0 *ic +d +e +", "+6"},  // the empty URL, once removed, is entered again
      // Removed entries make room at once; the fetch order and the fetch that is out
      // survive moving the entries kept together.
      {4, "*p0 *i1 *i2 +i3 S +i4 +i5 +i6 Di3 +i7 Di4", "3:i3<p0 4:i4<p0 5:i5<p0 +7"},
      // Keeps p0, i3 and p7 (outstanding i3 too), and the referrer of p7, whose page went.
      {8, "*p0 *i1 *p2 +i3 *p4 +p4 *i5@2 !i6@4 +p7@2 S +i8@2 +i9 Di3 Dp7 +p0 +i1",
       "3:i3<p0 7:p7<p2 8:i8<p2 +11"},
      // The entries after one are read for fetching ahead, finished ones passed over.
      {16, "+a *b +c S ?a ?c Da ?a", "2~c none 2~c 0:a<a 2:c<a +3"},
  };
  for (const auto& c : cases) {
    Probe probe(c.capacity, c.bytes);
    probe.run(c.script);
    EXPECT_EQ(probe.posted(), c.posted) << c.script;
  }
}

// The table done plainly: a linear search for duplicates, and a marking pass over every
// entry on each add into a full table.
struct PlainTable {
  struct Entry {
    std::int32_t id, parent, flags, done, refCount, mark;
    std::string url;
  };
  auto find(std::int32_t id) { return std::ranges::find(entries, id, &Entry::id); }
  auto firstUnfinished() { return std::ranges::find(entries, 0, &Entry::done); }
  void compact() {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      Entry& e = entries[i];
      const auto parent = static_cast<std::size_t>(find(e.parent) - entries.begin());
      const bool pageLinkedOnce = (e.flags & CrawlFlags::FollowLinks) != 0 && e.refCount == 1;
      e.mark = (parent < i && entries[parent].mark != 0 && e.done) || e.flags == 0 ? 2
               : pageLinkedOnce && e.done && i < entries.size() / 2                ? 1
                                                                                   : 0;
    }
    std::erase_if(entries, [](const Entry& e) { return e.mark == 2; });
  }
  void add(const std::string& url, std::int32_t parent, std::int32_t flags) {
    if (entries.size() >= capacity) compact();
    const auto same = std::ranges::find(entries, url, &Entry::url);
    if (same != entries.end()) {
      ++same->refCount;
    } else if (entries.size() < capacity) {
      entries.push_back({nextId++, parent, flags, 0, 1, 0, url});
      ++added;
    }
  }

  std::uint32_t capacity;
  std::vector<Entry> entries;
  std::int32_t nextId = 0;
  int added = 0;
};

// Random tables of pages, images and failures, linked once or more, finished mostly in order;
// now and then an entry reports another's URL as its own.
TEST(UrlTableTest, CompactionRemovesWhatAMarkingPassOverEveryEntryRemoves) {
  const struct {
    std::uint32_t capacity;
    unsigned pages, failed, finishes;  // percent of new URLs, of steps
  } cases[] = {{8, 50, 5, 40}, {33, 70, 2, 50}, {64, 30, 0, 60}, {100, 50, 10, 45}};
  for (unsigned table = 0; table < 40; ++table)
    for (const auto& c : cases) {
      std::mt19937 random(table);
      const auto percent = [&](unsigned share) { return random() % 100 < share; };
      Probe probe(c.capacity);
      PlainTable plain{c.capacity, {}, 0, 0};
      std::int32_t page = 0;  // the last page finished, where new links are found
      for (int step = 0; step < 500; ++step) {
        const std::int32_t id = random() % (plain.nextId + 1);  // of an entry or none yet
        // A new URL, or one that may have been seen before.
        const std::string url =
            !plain.entries.empty() && percent(20)
                ? plain.entries[random() % plain.entries.size()].url
                : "u" + std::to_string(percent(70) ? step : random() % (step + 1));
        if (!percent(c.finishes)) {
          const std::int32_t flags = percent(c.failed)  ? 0
                                     : percent(c.pages) ? CrawlFlags::FollowLinks
                                                        : CrawlFlags::SaveIfAtLeast;
          const std::int32_t parent = percent(80) ? page : id;
          probe.table.add(1, ByteString(url), parent, nullptr, flags, 0, 0);
          plain.add(url, parent, flags);
        } else if (const auto entry = percent(20) ? plain.find(id) : plain.firstUnfinished();
                   entry != plain.entries.end()) {
          const bool failed = percent(5);
          page = (entry->flags & CrawlFlags::FollowLinks) != 0 ? entry->id : page;
          entry->done = 1;
          entry->flags = failed ? 0 : entry->flags;
          entry->url = !failed && percent(10) ? url : entry->url;
          if (failed) probe.table.markFailed(entry->id);
          if (!failed) probe.table.markDone(entry->id, ByteString(entry->url));
        }
        ASSERT_EQ(probe.posted() + " " + std::to_string(probe.table.size()),
                  "+" + std::to_string(std::exchange(plain.added, 0)) + " " +
                      std::to_string(plain.entries.size()))
            << "table " << table << ", capacity " << c.capacity << ", step " << step;
      }
    }
}

}  // namespace
}  // namespace tarnwick
