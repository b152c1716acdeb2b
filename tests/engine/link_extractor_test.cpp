#include "engine/link_extractor.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/messages.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

constexpr std::int32_t kPageId = 41;

// Every link posted for the page, each as "url @depth;".
std::string extract(const std::string& pageUrl, std::uint8_t depth, const std::string& text,
                    const LinkOptions& options) {
  WorkQueue queue;
  LinkExtractor(queue, options).extractLinks(kPageId, depth, ByteString(pageUrl), ByteString(text));
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
  LinkOptions options = {};
};

TEST(LinkExtractorTest, FindsResolvesAndLimitsLinks) {
  const std::string dir = "http://host/dir/", page = dir + "p.html", a8k(8192 - 9, 'a');
  std::string deep28;
  for (int i = 0; i < 28; ++i) deep28 += "s/";
  const LinkOptions https{true, false, {}}, sameHost{true, true, "http://u:p@HOST:81?a=/b"};
  // Where a row's result has changed, the former one follows it.
  const Case cases[] = {
      {R"(<a href="sub/a.html">)", dir + "sub/a.html @3;"},
      {R"(<a href="./b.html">)", dir + "b.html @3;"},
      {R"(<a href="/c.html">)", "http://host/c.html @3;"},  // was http://host/dir/c.html
      {R"(<a href="../d.html">)", "http://host/d.html @3;"},
      {R"(<a href="../../e.html">)", "http://host/e.html @3;"},
      {R"(<a href="f.html?id=1#top">)", dir + "f.html @3;"},
      {R"(<a href=g.html>)", dir + "g.html @3;"},
      {R"(<a href="#top">)", page + " @3;"},  // was http://host/dir/
      {R"(<a HREF="http://other/x/y.html">)", "http://other/x/y.html @3;"},
      {R"(<a href="http://other">)", "http://other/ @3;"},
      {R"(<a href="http://other/v1.2/z.html">)",
       "http://other/v1.2/z.html @3;"},  // was http://other/z.html
      {R"(<img src="img/p.gif">)", dir + "img/p.gif @2;"},
      {R"(<script SRC="//cdn/q.js">)", "http://cdn/q.js @2;"},  // was http://host/dir//cdn/q.js
      {R"(<a href='h.html'>)", dir + "h.html @3;"},             // was http://host/dir/'h.html'
      {R"(<a href="mailto:x">)", dir + "mailto:x @3;"},
      {R"(<a Href="i.html">)", ""},
      {R"(href=HTTP://x/y.html>)", "http://x/y.html @3;"},  // was http://host/dir/HTTP://x/y.html
      {R"(href=jump/http://x/y.html>)", "jump/http://x/y.html @3;"},
      {"href=a..b/.../~f.l/./x/../y.html>", dir + "a..b/.../~f.l/y.html @3;"},
      {"href=/c.html>", "http://u@h:81/c.html @1;", "http://u@h:81/a/p.html?q=/x", 0},
      {R"(href="" href=?q href= "a.html")", page + " @3;" + page + " @3;" + page + " @3;"},
      {"href=x.html> href=#a>", "http://host/cgi/x.html @1;http://host/cgi/./list.cgi @1;",
       "http://host/cgi/./list.cgi?p=a/b", 0},
      {"href='x y' href='z.html'", dir + "x @3;" + dir + "z.html @3;"},
      {"href=a\tb'c\"", dir + "a\tb'c @3;"},
      {"href=Http://X/./b.html> href=https://x/a.html>",
       "http://X/b.html @3;" + dir + "https://x/a.html @3;"},
      {"href=a.html> href=/c.html> href=HTTPS://x/./b.html> href=http://z> "
       "href=jump/https://y/> SRC=//cdn/q.js>",
       "https://host/dir/a.html @3;https://host/c.html @3;https://x/b.html @3;http://z/ @3;"
       "jump/https://y/ @3;https://cdn/q.js @2;",
       "https://host/dir/p.html", 2, https},
      {"href=a.html> href=https://host:81/b.html> href=http://host/c.html> "
       "href=http://x@host:81/d.html> HREF=//other/e.html> src=http://other/f.gif>",
       "http://host:81/dir/a.html @3;https://host:81/b.html @3;http://x@host:81/d.html @3;"
       "http://other/f.gif @2;",
       "http://host:81/dir/p.html", 2, sameHost},
      {R"(href=a.html> href="b.html)", dir + "a.html @3;"},
      {R"(href=a.html> href=")", dir + "a.html @3;"},
      {R"(href="my page.html")", dir + "my @3;"},
      {R"(HREF=b.html> href=a.html>)", dir + "a.html @3;" + dir + "b.html @3;"},
      {R"(data-src="x.js" xhref=y>)", dir + "y @3;" + dir + "x.js @2;"},
      {"href=\"\x81\"b.html\"", dir + "\x81\"b.html @3;"},
      {"\x81href=a.html>", ""},
      {"href=\x81/../q/./z.html>", "http://h/\x81/../q/z.html @1;", "http://h/p.html", 0},
      {"href=a.html> src=b.gif>", dir + "b.gif @255;", page, 255},
      {"href=a.html>", dir + "a.html @255;", page, 254},
      {"href=" + deep28 + "../x>", "http://h/" + deep28.substr(2) + "x @1;", "http://h/p.html", 0},
      {"href=./" + deep28 + "s/../x>", "http://h/" + deep28 + "s/../x @1;", "http://h/", 0},
      {"href=" + a8k + ">", "http://h/" + a8k + " @1;", "http://h/", 0},  // 8,192 bytes
      {"href=" + a8k + "a>", "", "http://h/", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(extract(c.pageUrl, c.depth, c.pageText, c.options), c.expected)
        << c.pageUrl << " | " << c.pageText.substr(0, 80);
  }
}

}  // namespace
}  // namespace tarnwick
