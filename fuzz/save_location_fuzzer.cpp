// The save path of an arbitrary URL in both layouts: resolved lexically it always lies
// below the download folder (the day's folder in the date layout), it holds no NUL, every
// folder made for it lies below the download folder too, and the same URL always gives
// the same path.
//
// Input: one byte whose low bit picks the layout, then the URL after "http://".

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"
#include "platform/services.h"
#include "storage/save_location.h"

namespace tarnwick::fuzz {
namespace {

constexpr std::string_view kCurrentDirectory = "/fuzz/cwd";

// Folders in memory: a fuzz run must not litter the disk.
class FolderRecorder final : public FileSystem {
 public:
  EntryInfo stat(const ByteString& path) override {
    return {folders_.contains(path.str()) ? EntryKind::Folder : EntryKind::Missing, 0};
  }
  ByteString currentDirectory() override { return ByteString(kCurrentDirectory); }
  bool createFolder(const ByteString& path) override {
    created_.push_back(path.str());
    return folders_.insert(path.str()).second;
  }
  std::unique_ptr<WritableFile> createFile(const ByteString&) override { return nullptr; }
  bool rename(const ByteString&, const ByteString&) override { return false; }
  bool remove(const ByteString&) override { return false; }

  const std::vector<std::string>& created() const { return created_; }

 private:
  std::set<std::string> folders_;
  std::vector<std::string> created_;
};

class FixedClock final : public Clock {
 public:
  ByteString todayYmd() override { return "20050314"; }
  void pause(std::chrono::milliseconds) override {}
};

class NoMessageBox final : public MessageBox {
 public:
  void showWarning(const ByteString&) override { require(false, "warning shown"); }
};

class NoExit final : public ProcessExit {
 public:
  [[noreturn]] void exitProcess(int) override {
    require(false, "process ended");
    std::abort();
  }
};

// The segments of an absolute path after "." and ".." are applied, as the kernel would
// apply them to a path of existing folders.
std::vector<std::string> resolveLexically(std::string_view path) {
  std::vector<std::string> resolved;
  std::size_t from = 0;
  for (;;) {
    const std::size_t slash = path.find('/', from);
    const std::string_view segment = path.substr(from, slash - from);
    if (segment == "..") {
      if (!resolved.empty()) resolved.pop_back();
    } else if (!segment.empty() && segment != ".") {
      resolved.emplace_back(segment);
    }
    if (slash == std::string_view::npos) return resolved;
    from = slash + 1;
  }
}

// True when `path` resolves to an entry strictly below `base`, `exactDepth` levels down
// when that is not 0.
bool liesBelow(std::string_view path, std::string_view base, std::size_t exactDepth = 0) {
  const std::vector<std::string> inner = resolveLexically(path);
  const std::vector<std::string> outer = resolveLexically(base);
  if (inner.size() <= outer.size() || !std::equal(outer.begin(), outer.end(), inner.begin())) {
    return false;
  }
  return exactDepth == 0 || inner.size() == outer.size() + exactDepth;
}

std::optional<SaveTarget> savePath(SaveLayout layout, const ByteString& url,
                                   FolderRecorder& files) {
  FixedClock clock;
  NoMessageBox messageBox;
  NoExit exit;
  const PlatformServices services{nullptr, &files, &clock, &messageBox, &exit};
  SaveLocation location(layout, services);
  return location.pathForUrl(url);
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  if (size < 1) return 0;
  const SaveLayout layout = (data[0] & 1) != 0 ? SaveLayout::Date : SaveLayout::Tree;
  const ByteString url =
      "http://" + ByteString(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  const std::string download = std::string(kCurrentDirectory) + "/download";
  const std::string base = layout == SaveLayout::Date ? download + "/20050314" : download;

  FolderRecorder files;
  const std::optional<SaveTarget> first = savePath(layout, url, files);
  for (const std::string& folder : files.created()) {
    const bool isDownload = resolveLexically(folder) == resolveLexically(download);
    require(isDownload || liesBelow(folder, download), "folder made outside download");
  }
  // The second time the folders exist already; the answer must not change.
  const std::optional<SaveTarget> second = savePath(layout, url, files);
  require(first.has_value() == second.has_value(), "same URL, refused only once");
  if (!first) return 0;
  require(first->path == second->path, "same URL, different paths");
  const std::string_view path = first->path.view();
  require(path.find('\0') == std::string_view::npos, "NUL in a save path");
  require(liesBelow(path, base, layout == SaveLayout::Date ? 1 : 0),
          "save path outside the download folder");
  return 0;
}
