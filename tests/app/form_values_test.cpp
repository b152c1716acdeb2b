#include "app/form_values.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarnwick {
namespace {

// A field is read as the first 63 characters of its text.
TEST(FormValuesTest, NumberFieldsReadOnlyTheirFirst63Characters) {
  EXPECT_EQ(scanUnsigned(QString(62, ' ') + "9"), 9u);
  EXPECT_EQ(scanUnsigned(QString(63, ' ') + "9"), std::nullopt);
}

TEST(FormValuesTest, JobTakesTickedRowsDepthAndLayout) {
  using Rows = std::vector<std::pair<std::int32_t, std::uint32_t>>;  // category, minimum bytes
  const struct {
    const char* ticked;  // '1' per ticked category
    std::array<std::uint32_t, kCategoryCount> sizeKb;
    std::uint32_t depth;
    bool tree;
    Rows rows;
    std::uint8_t maxDepth;
  } cases[] = {
      {"00100000", {0, 0, 64, 0, 0, 0, 0, 0}, 4, true, {{2, 65536}}, 4},
      {"00000000", {9, 9, 9, 9, 9, 9, 9, 9}, 256, false, {}, 0},
      {"10001001", {1, 2, 3, 4, 5, 6, 7, 8}, 260, true, {{0, 1024}, {4, 5120}, {7, 8192}}, 4},
      // Thresholds whose byte count would not fit 32 bits stop just below 4 GiB.
      {"00000110", {0, 0, 0, 0, 0, 4194303, 4194304, 0}, 1, true, {{5, ~1023u}, {6, ~1023u}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ticked);
    FormValues form;
    form.startUrl = "http://example.test/ページ.html";
    for (int i = 0; i < kCategoryCount; ++i) form.download[i] = c.ticked[i] - '0';
    form.sizeKb = c.sizeKb;
    form.depth = c.depth;
    form.saveModeTree = c.tree;
    CrawlJob job;
    job.rowCount = 5;  // left from an earlier run
    fillCrawlJob(form, job);
    Rows rows;
    for (std::uint32_t row = 0; row < job.rowCount; ++row) {
      rows.emplace_back(job.rowCategory[row], job.rowMinSize[row]);
      EXPECT_EQ(job.rowFlags[row], CrawlFlags::SaveIfAtLeast);
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(job.maxDepth, c.maxDepth);
    EXPECT_EQ(job.saveLayout, c.tree ? SaveLayout::Tree : SaveLayout::Date);
    EXPECT_EQ(job.startUrl, ByteString("http://example.test/\x83\x79\x81\x5B\x83\x57.html"));
  }
}

}  // namespace
}  // namespace tarnwick
