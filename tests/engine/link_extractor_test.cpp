#include "engine/link_extractor.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/messages.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

constexpr std::int32_t kPageId = 41;

// Every link posted for the page, each as "url @depth;".
std::string extract(const std::string& pageUrl, std::uint8_t depth, const std::string& text) {
  WorkQueue queue;
  LinkExtractor(queue).extractLinks(kPageId, depth, ByteString(pageUrl), ByteString(text));
  std::string posted;
  for (WorkMessage message; queue.take(message);) {
    EXPECT_EQ(message.code, WorkCode::LinkFound);
    const auto& link = message.as<LinkFoundPayload>();
    EXPECT_EQ(link.parent, kPageId);
    posted += link.url.str() + " @" + std::to_string(link.depth) + ";";
  }
  return posted;
}

struct Case {
  std::string pageText, expected;
  std::string pageUrl = "http://host/dir/p.html";
  std::uint8_t depth = 2;
};

TEST(LinkExtractorTest, FindsResolvesAndLimitsLinks) {
  const std::string dir = "http://host/dir/", a64k(65536, 'a');
  std::string deep28;
  for (int i = 0; i < 28; ++i) deep28 += "s/";
  const Case cases[] = {
      {R"(<a href="sub/a.html">)", dir + "sub/a.html @3;"},
      {R"(<a href="./b.html">)", dir + "b.html @3;"},
      {R"(<a href="/c.html">)", dir + "c.html @3;"},
      {R"(<a href="../d.html">)", "http://host/d.html @3;"},
      {R"(<a href="../../e.html">)", "http://host/e.html @3;"},
      {R"(<a href="f.html?id=1#top">)", dir + "f.html @3;"},
      {R"(<a href=g.html>)", dir + "g.html @3;"},
      {R"(<a href="#top">)", dir + " @3;"},
      {R"(<a HREF="http://other/x/y.html">)", "http://other/x/y.html @3;"},
      {R"(<a href="http://other">)", "http://other/ @3;"},
      {R"(<a href="http://other/v1.2/z.html">)", "http://other/z.html @3;"},
      {R"(<img src="img/p.gif">)", dir + "img/p.gif @2;"},
      {R"(<script SRC="//cdn/q.js">)", dir + "/cdn/q.js @2;"},
      {R"(<a href='h.html'>)", dir + "'h.html' @3;"},
      {R"(<a href="mailto:x">)", dir + "mailto:x @3;"},
      {R"(<a Href="i.html">)", ""},
      {"no markers at all", ""},
      {R"(href="a.html)", ""},
      {R"(href=a.html> href="b.html)", dir + "a.html @3;"},
      {"src=x.gif>", dir + "x.gif @2;"},
      {R"(href="my page.html")", dir + "my @3;"},
      {R"(href= "a.html")", dir + " @3;"},
      {R"(href="" href=?q)", dir + " @3;" + dir + " @3;"},
      {"href=a\tb'c\"", dir + "a\tb'c @3;"},
      {R"(HREF=b.html> href=a.html>)", dir + "a.html @3;" + dir + "b.html @3;"},
      {R"(data-src="x.js" xhref=y>)", dir + "y @3;" + dir + "x.js @2;"},
      {R"(href=jump/http://x/y.html>)", "jump/http://x/y.html @3;"},
      {R"(href=HTTP://x/y.html>)", dir + "HTTP://x/y.html @3;"},
      {R"(href=../../b.html>)", "http://host/b.html @1;", "http://host/a/p.html", 0},
      {"href=x.html>", "http://host/cgi/x.html @1;", "http://host/cgi/list.cgi?p=a/b", 0},
      {"href=\"\x81\"b.html\"", dir + "\x81\"b.html @3;"},
      {"\x81href=a.html>", ""},
      {"href=x.y\x81/z.html>", "http://h/x.y\x81/z.html @1;", "http://h/p.html", 0},
      {"href=\x81/../q/./z.html>", "http://h/q/z.html @1;", "http://h/p.html", 0},
      {"href=a.html> src=b.gif>", dir + "b.gif @255;", dir + "p.html", 255},
      {"href=a.html>", dir + "a.html @255;", dir + "p.html", 254},
      {"href=" + deep28 + "v1.2/x>", "http://h/" + deep28 + "x @1;", "http://h/p.html", 0},
      {"href=" + deep28 + "s/v1.2/x>", "http://h/" + deep28 + "s/v1.2/x @1;", "http://h/", 0},
      {"href=" + a64k + ">", "http://h/" + a64k + " @1;", "http://h/", 0},
      {"href=" + a64k + "a>", "", "http://h/", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(extract(c.pageUrl, c.depth, c.pageText), c.expected)
        << c.pageUrl << " | " << c.pageText.substr(0, 80);
  }
}

}  // namespace
}  // namespace tarnwick
