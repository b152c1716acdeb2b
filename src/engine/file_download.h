#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/ahead_budget.h"
#include "engine/outbox.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "storage/save_location.h"

namespace tarnwick {

class ResponseCapture;
struct FetchContext;

// The local side of one file attempt: where the file goes, its temporary file, the progress
// messages (one per block, each before the block is written) and the commit. Worker
// thread only.
class FileDownload {
 public:
  static constexpr std::size_t kBlockSize = 65536;

  FileDownload(FetchContext& context, Outbox& outbox, Charge& charge, const ByteString& savedUrl,
               const ByteString& shownUrl);
  ~FileDownload();  // an uncommitted temporary file is removed
  FileDownload(const FileDownload&) = delete;
  FileDownload& operator=(const FileDownload&) = delete;

  // Finds where the file goes, creating the folders, and whether a file of `length` is
  // already stored there; when it is not, starts the temporary file.
  Status open(std::optional<std::uint64_t> length, bool* alreadyStored);
  // Writes the held bytes in whole blocks, the last piece too when `last`.
  Status write(ResponseCapture& capture, bool last);
  // Moves the whole file onto its name.
  Status commit();
  std::optional<std::uint64_t> length() const { return length_; }
  std::uint64_t written() const { return written_; }

 private:
  Status writeBlock(std::string_view block);

  FetchContext& context_;
  Outbox& outbox_;
  Charge& charge_;
  const ByteString& savedUrl_;
  const ByteString& shownUrl_;
  std::optional<std::uint64_t> length_;
  SaveTarget target_;
  std::unique_ptr<WritableFile> file_;
  std::uint64_t written_ = 0;
};

}  // namespace tarnwick
