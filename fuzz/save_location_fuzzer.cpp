// The save path of an arbitrary URL in both layouts, among folders some of which are
// symbolic links: every folder made for it lies below the download folder and none is
// made through a link, the path lies below the download folder (the day's folder in the
// date layout) and passes through no link, it holds no NUL, and the same URL always gives
// the same answer.
//
// Input: one byte whose low bit picks the layout, then the URL after "http://", then
// after a NUL the folders below "download" that are links, one per line.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "storage/save_location.h"

namespace tarnwick::fuzz {
namespace {

const std::string kDownload = "/fuzz/cwd/download";

// Folders and links in memory: a fuzz run must not litter the disk.
class MemoryFileSystem final : public FileSystem {
 public:
  struct State {
    std::map<std::string, EntryKind> entries{{kDownload, EntryKind::Folder}};
    std::vector<std::string> created;
  };

  class MemoryFolder final : public Folder {
   public:
    MemoryFolder(State& state, ByteString path) : state_(state), path_(std::move(path)) {}
    const ByteString& path() const override { return path_; }
    EntryInfo stat(const ByteString& name) override {
      const auto found = state_.entries.find(childPath(name));
      return {found == state_.entries.end() ? EntryKind::Missing : found->second, 0};
    }
    Status openFolder(const ByteString& name, std::unique_ptr<Folder>* folder) override {
      const std::string path = childPath(name);
      const EntryKind kind = stat(name).kind;
      if (kind == EntryKind::Missing) {
        state_.entries[path] = EntryKind::Folder;
        state_.created.push_back(path);
      } else if (kind != EntryKind::Folder) {
        return Status::local("in the way");
      }
      *folder = std::make_unique<MemoryFolder>(state_, ByteString(path));
      return Status::ok();
    }
    Status createFile(const ByteString&, std::unique_ptr<WritableFile>*) override {
      return Status::local("not here");
    }

   private:
    std::string childPath(const ByteString& name) const { return path_.str() + "/" + name.str(); }
    State& state_;
    ByteString path_;
  };

  State state;

  Status currentDirectory(ByteString* path) override {
    *path = "/fuzz/cwd";
    return Status::ok();
  }
  EntryInfo stat(const ByteString& path) override {
    const auto found = state.entries.find(path.str());
    return {found == state.entries.end() ? EntryKind::Missing : found->second, 0};
  }
  Status createFolder(const ByteString&) override { return Status::local("exists"); }
  Status openFolder(const ByteString& path, std::unique_ptr<Folder>* folder) override {
    *folder = std::make_unique<MemoryFolder>(state, path);
    return Status::ok();
  }
  Status checkLimits(const ByteString&) override { return Status::ok(); }
};

class FixedClock final : public Clock {
 public:
  ByteString todayYmd() override { return "20050314"; }
  std::chrono::steady_clock::time_point now() override { return {}; }
  void pause(std::chrono::steady_clock::duration) override {}
};

bool startsWithFolder(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  if (size < 1) return 0;
  const SaveLayout layout = (data[0] & 1) != 0 ? SaveLayout::Date : SaveLayout::Tree;
  const auto [urlText, linkList] =
      splitAtFirstNul(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  const ByteString url = "http://" + ByteString(urlText);
  MemoryFileSystem files;
  std::vector<std::string> links;
  for (std::string_view rest = linkList; !rest.empty();) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    links.push_back(kDownload + "/" + std::string(rest.substr(0, end)));
    files.state.entries.emplace(links.back(), EntryKind::Link);
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  FixedClock clock;
  SaveTarget first, second;
  const Status firstStatus = SaveLocation(layout, files, clock).pathForUrl(url, &first);
  for (const std::string& folder : files.state.created) {
    require(startsWithFolder(folder, kDownload), "folder made outside download");
    for (const std::string& link : links) {
      require(!startsWithFolder(folder, link), "folder made through a link");
    }
  }
  // The second time the folders exist already; the answer must not change.
  const Status secondStatus = SaveLocation(layout, files, clock).pathForUrl(url, &second);
  require(firstStatus.kind() == secondStatus.kind(), "same URL, refused only once");
  if (!firstStatus.isOk()) return 0;
  require(first.path == second.path, "same URL, different paths");
  const std::string path = first.path.str();
  require(path.find('\0') == std::string::npos, "NUL in a save path");
  const std::string base = layout == SaveLayout::Date ? kDownload + "/20050314" : kDownload;
  require(startsWithFolder(path, base), "save path outside the download folder");
  require(layout == SaveLayout::Tree || path.find('/', base.size() + 1) == std::string::npos,
          "date layout path not directly in the day's folder");
  for (std::size_t slash = path.find("/.", base.size()); slash != std::string::npos;
       slash = path.find("/.", slash + 1)) {
    const std::string_view name = std::string_view(path).substr(slash + 1);
    require(!name.starts_with("./") && !name.starts_with("../") && name != "." && name != "..",
            "a folder named . or .. in a save path");
  }
  for (const std::string& link : links) {
    require(!startsWithFolder(path, link), "save path through a link");
  }
  return 0;
}
