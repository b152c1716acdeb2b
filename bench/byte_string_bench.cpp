// Search throughput of ByteString on 1 MiB pages, beside the plain byte searches it is
// built on, so the cost of the character-boundary checks reads off as a ratio.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "text/byte_string.h"

namespace tarnwick {
namespace {

constexpr std::size_t kPageSize = 1 << 20;
constexpr std::string_view kMarker = "href=";
constexpr std::string_view kTerminators = "\"?#> ";

enum Corpus { kAsciiHtml, kShiftJisHtml };

void appendDoubleByte(std::string& out, std::mt19937& rng) {
  unsigned lead, trail;
  switch (rng() % 3) {
    case 0:  // hiragana
      lead = 0x82, trail = 0x9F + rng() % 0x53;
      break;
    case 1:  // katakana
      lead = 0x83, trail = 0x40 + rng() % 0x57;
      break;
    default:  // kanji, with trail bytes over the whole range
      lead = rng() % 2 ? 0x88 + rng() % 0x18 : 0xE0 + rng() % 0x0B;
      trail = 0x40 + rng() % 0xBD;
  }
  if (trail == 0x7F) ++trail;
  out += static_cast<char>(lead);
  out += static_cast<char>(trail);
}

void appendWords(std::string& out, std::mt19937& rng, bool japanese) {
  static constexpr std::string_view kWords[] = {"the ",   "crawl ", "index ", "page ",
                                                "which ", "files ", "of ",    "hyper "};
  const unsigned count = 20 + rng() % 60;
  for (unsigned i = 0; i < count; ++i) {
    if (japanese) {
      appendDoubleByte(out, rng);
    } else {
      out += kWords[rng() % std::size(kWords)];
    }
  }
}

// A page of paragraphs, links and images; the text between tags is ASCII words or
// double-byte characters. Deterministic, so every run measures the same bytes.
std::string generatePage(Corpus corpus) {
  std::mt19937 rng(6);
  std::string page = "<html><head><title>bench</title></head><body>\n";
  while (page.size() < kPageSize) {
    page += "<p class=\"text\">";
    appendWords(page, rng, corpus == kShiftJisHtml);
    page += "<a href=\"dir" + std::to_string(rng() % 100) + "/page" + std::to_string(rng()) +
            ".html?x=1\">";
    appendWords(page, rng, corpus == kShiftJisHtml);
    page += "</a><img src=\"img/" + std::to_string(rng() % 1000) + ".gif\"></p>\n";
  }
  page.resize(kPageSize);
  return page;
}

const ByteString& page(const benchmark::State& state) {
  static const ByteString pages[] = {ByteString(generatePage(kAsciiHtml)),
                                     ByteString(generatePage(kShiftJisHtml))};
  return pages[state.range(0)];
}

// Runs `visitAll` (which returns how many hits it visited) once per iteration.
template <typename VisitAll>
void measure(benchmark::State& state, VisitAll visitAll) {
  const ByteString& text = page(state);
  for (auto _ : state) benchmark::DoNotOptimize(visitAll(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.length());
  state.SetLabel(state.range(0) == kAsciiHtml ? "ascii-html" : "shift-jis-html");
}

void BM_ByteStringFindMarker(benchmark::State& state) {
  measure(state, [](const ByteString& text) {
    int hits = 0;
    for (int p = text.find(kMarker); p >= 0; p = text.find(kMarker, p + 1)) ++hits;
    return hits;
  });
}

void BM_MemmemMarker(benchmark::State& state) {
  measure(state, [](const ByteString& text) {
    int hits = 0;
    const char* end = text.data() + text.length();
    for (const char* p = text.data();
         (p = static_cast<const char*>(memmem(p, end - p, kMarker.data(), kMarker.size()))); ++p) {
      ++hits;
    }
    return hits;
  });
}

void BM_ByteStringFindOneOfTerminators(benchmark::State& state) {
  measure(state, [](const ByteString& text) {
    int hits = 0;
    for (int p = text.findOneOf(kTerminators); p >= 0; p = text.findOneOf(kTerminators, p + 1)) {
      ++hits;
    }
    return hits;
  });
}

// Lower bound for a set scan: memchr for one member of the set, the double quote.
void BM_MemchrQuote(benchmark::State& state) {
  measure(state, [](const ByteString& text) {
    int hits = 0;
    const char* end = text.data() + text.length();
    for (const char* p = text.data(); (p = static_cast<const char*>(std::memchr(p, '"', end - p)));
         ++p) {
      ++hits;
    }
    return hits;
  });
}

// The standard library's byte-wise set search, unaware of double-byte characters.
void BM_FindFirstOfTerminators(benchmark::State& state) {
  measure(state, [](const ByteString& text) {
    int hits = 0;
    const std::string_view bytes = text.view();
    for (auto p = bytes.find_first_of(kTerminators); p != std::string_view::npos;
         p = bytes.find_first_of(kTerminators, p + 1)) {
      ++hits;
    }
    return hits;
  });
}

BENCHMARK(BM_MemmemMarker)->Arg(kAsciiHtml)->Arg(kShiftJisHtml);
BENCHMARK(BM_ByteStringFindMarker)->Arg(kAsciiHtml)->Arg(kShiftJisHtml);
BENCHMARK(BM_MemchrQuote)->Arg(kAsciiHtml)->Arg(kShiftJisHtml);
BENCHMARK(BM_FindFirstOfTerminators)->Arg(kAsciiHtml)->Arg(kShiftJisHtml);
BENCHMARK(BM_ByteStringFindOneOfTerminators)->Arg(kAsciiHtml)->Arg(kShiftJisHtml);

}  // namespace
}  // namespace tarnwick
