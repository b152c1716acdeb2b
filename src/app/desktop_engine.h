#pragma once

#include <atomic>
#include <memory>

#include "engine/crawl_components.h"

namespace tarnwick {

class MessageBox;

// The crawl components over the Linux services: the curl client (whose running transfer
// ends once `abortTransfer` is set), the POSIX file system, the system clock, `messages`
// for the fatal save-layout message and the real process exit. `abortTransfer` and
// `messages` must outlive the factory.
std::unique_ptr<CrawlComponentFactory> makeDesktopComponentFactory(
    const std::atomic<bool>& abortTransfer, MessageBox& messages);

}  // namespace tarnwick
