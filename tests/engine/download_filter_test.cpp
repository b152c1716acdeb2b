#include "engine/download_filter.h"

#include <gtest/gtest.h>

#include "engine/work_queue.h"

namespace tarnwick {
namespace {

// Flags of the AddEntry that classify posted, or -1; its threshold goes to `minSize`.
std::int32_t postedFlags(WorkQueue& queue, std::uint32_t& minSize) {
  WorkMessage m;
  if (!queue.take(m)) return -1;
  minSize = m.as<AddEntryPayload>().minSize;
  return m.as<AddEntryPayload>().flags;
}

TEST(DownloadFilterTest, ExtensionDecidesTheCategory) {
  const struct {
    const char* url;
    const char* extension;
    int category;  // -1: ignored
  } cases[] = {
      {"http://a.b/x.y/", "html", 0},     {"http://www.host.com", "com", -1},
      {"http://localhost", "", -1},       {"http://h/dir.d/file", "", -1},
      {"http://h/INDEX.HTM", "HTM", 0},   {"http://h/p.html?q#f", "html", 0},
      {"http://h/p.html#f?q", "html", 0}, {"http://h/p.jpg?v=1.2", "", -1},
      {"http://h/p.jpg#a.b", "", -1},     {"http://h/a.tar.gz", "gz", 7},
      {"http://h/s.php?id=1", "php", -1}, {"https://h/a.jpg", "jpg", -1},
      {"HTTP://h/a.jpg", "jpg", -1},      {"http://h/r.Pdf", "Pdf", 1},
      {"http://h/i.jfif", "jfif", 2},     {"http://h/m.rmi", "rmi", 3},
      {"http://h/s.au", "au", 4},         {"http://h/v.m1v", "m1v", 5},
      {"http://h/r.smil", "smil", 6},     {"http://h/x.", "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(extensionOf(ByteString(c.url)), ByteString(c.extension));
    WorkQueue queue;
    DownloadFilter filter(queue);
    for (std::uint32_t category = 0; category < kFileCategoryCount; ++category) {
      filter.setCategory(category, category + 100, SaveIfAtLeast, 1);
    }
    filter.classify(0, ByteString(c.url), 5);
    std::uint32_t minSize = 0;
    const bool entered = postedFlags(queue, minSize) >= 0;
    EXPECT_EQ(entered ? static_cast<int>(minSize) - 100 : -1, c.category);
  }
}

TEST(DownloadFilterTest, SelectionFlagsAndDepthLimit) {
  const struct {
    std::uint32_t category;
    std::int32_t flags;
    std::int32_t enabled;
    std::uint8_t maxDepth;
    std::uint8_t depth;
    const char* url;
    std::int32_t postedFlags;  // -1: nothing posted
  } cases[] = {
      {99, 0, 0, 0, 0, "http://h/", FollowLinks},  // nothing selected
      {99, 0, 0, 0, 0, "http://h/a.gif", -1},
      {0, SaveIfAtLeast, 1, 0, 0, "http://h/", FollowLinks | SaveIfAtLeast},
      {0, 0, 0, 0, 0, "http://h/", FollowLinks},  // HTML cannot be disabled
      {2, FollowLinks | SaveIfAtLeast, 1, 0, 0, "http://h/a.gif", SaveIfAtLeast},
      {9, SaveIfAtLeast, 1, 0, 0, "http://h/a.gif", -1},
      {0, 0, 1, 2, 3, "http://h/", -1},
      {0, 0, 1, 2, 2, "http://h/", FollowLinks},
      {0, 0, 1, 255, 255, "http://h/", FollowLinks},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.category << " " << c.url << " @" << int{c.depth});
    WorkQueue queue;
    DownloadFilter filter(queue);
    filter.setMaxDepth(c.maxDepth);
    filter.setCategory(c.category, 4096, c.flags, c.enabled);
    filter.classify(c.depth, ByteString(c.url), 0);
    std::uint32_t minSize = 0;
    EXPECT_EQ(postedFlags(queue, minSize), c.postedFlags);
  }
}

}  // namespace
}  // namespace tarnwick
