#include "app/form_values.h"

#include <gtest/gtest.h>

#include <optional>
namespace tarnwick {
namespace {

TEST(FormValuesTest, NumberFieldsReadLikeScanfUnsigned) {
  const struct {
    QString text;
    std::optional<std::uint32_t> expected;
  } cases[] = {
      {"12abc", 12u},
      {" 7", 7u},
      {"\t+5", 5u},
      {"-1", 4294967295u},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"１２", std::nullopt},  // full-width digits are not digits to scanf
      {QString(62, ' ') + "9", 9u},
      {QString(63, ' ') + "9", std::nullopt},  // only the first 63 characters count
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scanUnsigned(c.text), c.expected) << '"' << c.text.toStdString() << '"';
  }
}

TEST(FormValuesTest, JobTakesTickedRowsDepthAndLayout) {
  const struct {
    std::array<std::int32_t, kCategoryCount> download;
    std::array<std::uint32_t, kCategoryCount> sizeKb;
    std::uint32_t depth;
    bool tree;
    std::vector<std::int32_t> categories;
    std::vector<std::uint32_t> minSizes;
    std::uint8_t maxDepth;
    SaveLayout layout;
  } cases[] = {
      {{0, 0, 1, 0, 0, 0, 0, 0},
       {0, 0, 64, 0, 0, 0, 0, 0},
       4,
       true,
       {2},
       {65536},
       4,
       SaveLayout::Tree},
      {{0, 0, 0, 0, 0, 0, 0, 0}, {9, 9, 9, 9, 9, 9, 9, 9}, 256, false, {}, {}, 0, SaveLayout::Date},
      {{1, 0, 0, 0, 1, 0, 0, 1},
       {1, 2, 3, 4, 5, 6, 7, 8},
       260,
       true,
       {0, 4, 7},
       {1024, 5120, 8192},
       4,
       SaveLayout::Tree},
      // Thresholds whose byte count would not fit 32 bits stop just below 4 GiB.
      {{0, 0, 0, 0, 0, 1, 1, 0},
       {0, 0, 0, 0, 0, 4194303, 4194304, 0},
       1,
       true,
       {5, 6},
       {4294966272u, 4294966272u},
       1,
       SaveLayout::Tree},
  };
  for (const auto& c : cases) {
    FormValues form;
    form.startUrl = "http://example.test/ページ.html";
    form.download = c.download;
    form.sizeKb = c.sizeKb;
    form.depth = c.depth;
    form.saveModeTree = c.tree;
    CrawlJob job;
    job.rowCount = 5;  // left from an earlier run
    fillCrawlJob(form, job);

    ASSERT_EQ(job.rowCount, c.categories.size());
    for (std::uint32_t row = 0; row < job.rowCount; ++row) {
      EXPECT_EQ(job.rowCategory[row], c.categories[row]);
      EXPECT_EQ(job.rowMinSize[row], c.minSizes[row]);
      EXPECT_EQ(job.rowFlags[row], SaveIfAtLeast);
    }
    EXPECT_EQ(job.maxDepth, c.maxDepth);
    EXPECT_EQ(job.saveLayout, c.layout);
    EXPECT_EQ(job.startUrl, ByteString("http://example.test/\x83\x79\x81\x5B\x83\x57.html"));
  }
}

}  // namespace
}  // namespace tarnwick
