#pragma once

#include <string>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/messages.h"

namespace tarnwick::testing {

// A status code as one letter: Searching, Examining, url Added, downLoading, Downloaded,
// Finished, failed (X).
char statusLetter(UiCode code);

// A job for `startUrl` that saves the given categories at any size.
CrawlJob crawlJob(const std::string& startUrl, std::uint8_t depth,
                  const std::vector<std::int32_t>& saveCategories,
                  SaveLayout layout = SaveLayout::Tree);

// Runs the job in a crawl session as a front end does and returns every status message,
// StatusFinished last.
std::vector<UiMessage> runCrawl(CrawlJob job, CrawlComponentFactory& components);

}  // namespace tarnwick::testing
