#include "engine/download_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/work_queue.h"

namespace tarnwick {
namespace {

TEST(DownloadFilterTest, ExtensionSelectionAndDepthDecideWhatEnters) {
  WorkQueue queue;
  DownloadFilter filter(queue);
  filter.setMaxDepth(2);
  filter.setCategory(0, 100, CrawlFlags::SaveIfAtLeast, 0);  // HTML stays enabled and followed
  filter.setCategory(2, 102, CrawlFlags::FollowLinks | CrawlFlags::SaveIfAtLeast,
                     1);                                     // nothing else follows links
  filter.setCategory(4, 104, CrawlFlags::SaveIfAtLeast, 0);  // disabled; 3 is never set
  for (std::uint32_t category : {1, 5, 6, 7}) {
    filter.setCategory(category, 100 + category, CrawlFlags::SaveIfAtLeast, 1);
  }
  // URL, depth, its extension, what enters as "flags:category" ("" for nothing), and
  // whether https is allowed.
  struct Case {
    const char* url;
    std::uint8_t depth;
    const char *extension, *entered;
    bool https = false;
  };
  const Case cases[] = {
      {"http://a.b/x.y/", 0, "html", "3:0"},
      {"http://www.host.com", 0, "com", ""},
      {"http://localhost", 0, "", ""},
      {"http://h/dir.d/file", 0, "", ""},
      {"http://h/INDEX.HTM", 2, "HTM", "3:0"},
      {"http://h/INDEX.HTM", 3, "HTM", ""},
      {"http://h/p.html?q#f", 0, "html", "3:0"},
      {"http://h/p.html#f?q", 0, "html", "3:0"},
      {"http://h/p.jpg?v=1.2", 0, "", ""},
      {"http://h/p.jpg#a.b", 0, "", ""},
      {"http://h/a.tar.gz", 0, "gz", "2:7"},
      {"http://h/s.php?id=1", 0, "php", ""},
      {"https://h/a.jpg", 0, "jpg", ""},
      {"https://h/a.jpg", 0, "jpg", "2:2", true},
      {"HTTPS://h/a.jpg", 0, "jpg", "", true},
      {"HTTP://h/a.jpg", 0, "jpg", ""},
      {"http://h/r.Pdf", 0, "Pdf", "2:1", true},
      {"http://h/i.jfif", 2, "jfif", "2:2"},
      {"http://h/i.gif", 3, "gif", ""},
      {"http://h/m.rmi", 0, "rmi", ""},
      {"http://h/s.au", 0, "au", ""},
      {"http://h/v.m1v", 0, "m1v", "2:5"},
      {"http://h/r.smil", 0, "smil", "2:6"},
      {"http://h/x.", 0, "", ""},
      {"jump/http://x/y.html", 0, "html", ""},
  };
  for (const auto& [url, depth, extension, entered, https] : cases) {
    SCOPED_TRACE(url);
    EXPECT_EQ(extensionOf(ByteString(url)), ByteString(extension));
    const auto referrer = std::make_shared<const ByteString>("http://h/");
    filter.setAllowHttps(https);
    filter.classify(depth, ByteString(url), 5, referrer);
    std::string posted;
    if (WorkMessage m; queue.take(m)) {
      const auto& entry = m.as<AddEntryPayload>();
      EXPECT_EQ(std::tie(entry.url, entry.depth, entry.parent, entry.referrer),
                std::tuple(ByteString(url), depth, 5, referrer));
      posted = std::to_string(entry.flags) + ":" + std::to_string(entry.minSize - 100);
    }
    EXPECT_EQ(posted, entered);
  }
}

}  // namespace
}  // namespace tarnwick
