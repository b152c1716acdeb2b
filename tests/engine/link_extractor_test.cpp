#include "engine/link_extractor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/messages.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

struct Posted {
  std::string url;
  int depth;
  friend bool operator==(const Posted&, const Posted&) = default;
};

void PrintTo(const Posted& posted, std::ostream* out) {
  *out << posted.url << " @" << posted.depth;
}

constexpr std::int32_t kPageId = 41;

std::vector<Posted> extract(const std::string& pageUrl, std::uint8_t depth,
                            const std::string& text) {
  WorkQueue queue;
  LinkExtractor(queue).extractLinks(kPageId, depth, ByteString(pageUrl), ByteString(text));
  std::vector<Posted> posted;
  for (WorkMessage message; queue.take(message);) {
    EXPECT_EQ(message.code, LinkFound);
    const auto& link = message.as<LinkFoundPayload>();
    EXPECT_EQ(link.parent, kPageId);
    posted.push_back({link.url.str(), link.depth});
  }
  return posted;
}

struct Case {
  std::string pageText;
  std::vector<Posted> expected;
};

TEST(LinkExtractorTest, WorkedExamplesOnPageAtDepthTwo) {
  const std::vector<Case> cases = {
      {R"(<a href="sub/a.html">)", {{"http://host/dir/sub/a.html", 3}}},
      {R"(<a href="./b.html">)", {{"http://host/dir/b.html", 3}}},
      {R"(<a href="/c.html">)", {{"http://host/dir/c.html", 3}}},
      {R"(<a href="../d.html">)", {{"http://host/d.html", 3}}},
      {R"(<a href="../../e.html">)", {{"http://host/e.html", 3}}},
      {R"(<a href="f.html?id=1#top">)", {{"http://host/dir/f.html", 3}}},
      {R"(<a href=g.html>)", {{"http://host/dir/g.html", 3}}},
      {R"(<a href="#top">)", {{"http://host/dir/", 3}}},
      {R"(<a HREF="http://other/x/y.html">)", {{"http://other/x/y.html", 3}}},
      {R"(<a href="http://other">)", {{"http://other/", 3}}},
      {R"(<a href="http://other/v1.2/z.html">)", {{"http://other/z.html", 3}}},
      {R"(<img src="img/p.gif">)", {{"http://host/dir/img/p.gif", 2}}},
      {R"(<script SRC="//cdn/q.js">)", {{"http://host/dir//cdn/q.js", 2}}},
      {R"(<a href='h.html'>)", {{"http://host/dir/'h.html'", 3}}},
      {R"(<a href="mailto:x">)", {{"http://host/dir/mailto:x", 3}}},
      {R"(<a Href="i.html">)", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(extract("http://host/dir/page.html", 2, c.pageText), c.expected) << c.pageText;
  }
}

TEST(LinkExtractorTest, EdgeCases) {
  const std::string dir = "http://host/dir/";
  const std::string deep28 = [] {
    std::string path;
    for (int i = 0; i < 28; ++i) path += "s/";
    return path;
  }();
  struct EdgeCase {
    std::string pageUrl;
    int depth;
    std::string pageText;
    std::vector<Posted> expected;
  };
  const std::vector<EdgeCase> cases = {
      {dir + "p.html", 2, "no markers at all", {}},
      {dir + "p.html", 2, R"(href="a.html)", {}},
      {dir + "p.html", 2, R"(href=a.html> href="b.html)", {{dir + "a.html", 3}}},
      {dir + "p.html", 2, "src=x.gif>", {{dir + "x.gif", 2}}},
      {dir + "p.html", 2, R"(href="my page.html")", {{dir + "my", 3}}},
      {dir + "p.html", 2, R"(href= "a.html")", {{dir, 3}}},
      {dir + "p.html", 2, R"(href="" href=?q)", {{dir, 3}, {dir, 3}}},
      {dir + "p.html", 2, "href=a\tb'c\"", {{dir + "a\tb'c", 3}}},
      {dir + "p.html",
       2,
       R"(HREF=b.html> href=a.html>)",
       {{dir + "a.html", 3}, {dir + "b.html", 3}}},
      {dir + "p.html", 2, R"(data-src="x.js" xhref=y>)", {{dir + "y", 3}, {dir + "x.js", 2}}},
      {dir + "p.html", 2, R"(href=jump/http://x/y.html>)", {{"jump/http://x/y.html", 3}}},
      {dir + "p.html", 2, R"(href=HTTP://x/y.html>)", {{dir + "HTTP://x/y.html", 3}}},
      {"http://host/a/p.html", 0, R"(href=../../b.html>)", {{"http://host/b.html", 1}}},
      {"http://host/cgi/list.cgi?p=a/b", 0, "href=x.html>", {{"http://host/cgi/x.html", 1}}},
      {dir + "p.html", 2, "href=\"\x81\"b.html\"", {{dir + "\x81\"b.html", 3}}},
      {dir + "p.html", 2, "\x81href=a.html>", {}},
      {"http://h/p.html", 0, "href=x.y\x81/z.html>", {{"http://h/x.y\x81/z.html", 1}}},
      {"http://h/p.html", 0, "href=\x81/../q/./z.html>", {{"http://h/q/z.html", 1}}},
      {dir + "p.html", 255, "href=a.html> src=b.gif>", {{dir + "b.gif", 255}}},
      {dir + "p.html", 254, "href=a.html>", {{dir + "a.html", 255}}},
      {"http://h/p.html", 0, "href=" + deep28 + "v1.2/x>", {{"http://h/" + deep28 + "x", 1}}},
      {"http://h/p.html",
       0,
       "href=" + deep28 + "s/v1.2/x>",
       {{"http://h/" + deep28 + "s/v1.2/x", 1}}},
      {"http://h/",
       0,
       "href=" + std::string(65536, 'a') + ">",
       {{"http://h/" + std::string(65536, 'a'), 1}}},
      {"http://h/", 0, "href=" + std::string(65537, 'a') + ">", {}},
  };
  for (const EdgeCase& c : cases) {
    EXPECT_EQ(extract(c.pageUrl, static_cast<std::uint8_t>(c.depth), c.pageText), c.expected)
        << c.pageUrl << " | " << c.pageText.substr(0, 80);
  }
}

}  // namespace
}  // namespace tarnwick
