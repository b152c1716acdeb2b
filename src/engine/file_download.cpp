#include "engine/file_download.h"

#include <algorithm>

#include "engine/entry_fetch.h"
#include "engine/response_capture.h"

namespace tarnwick {
namespace {

// The message fields carry unsigned 32-bit sizes; a larger size shows its low 32 bits.
std::int32_t reportedSize(std::uint64_t size) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

}  // namespace

FileDownload::FileDownload(FetchContext& context, Outbox& outbox, Charge& charge,
                           const ByteString& savedUrl, const ByteString& shownUrl)
    : context_(context),
      outbox_(outbox),
      charge_(charge),
      savedUrl_(savedUrl),
      shownUrl_(shownUrl) {}

FileDownload::~FileDownload() {
  if (file_) charge_.removeFile();
}

Status FileDownload::open(std::optional<std::uint64_t> length, bool* alreadyStored) {
  length_ = length;
  SaveLocation location(context_.saveLayout, *context_.services.files, *context_.services.clock);
  Status status = location.pathForUrl(savedUrl_, &target_);
  *alreadyStored = status.isOk() && length_ && *length_ == target_.storedSize;
  if (!status.isOk() || *alreadyStored) return status;
  status = target_.folder->createFile(target_.name, &file_);
  if (!status.isOk()) return status;
  charge_.addFile();
  outbox_.status({UiCode::StatusDownloading, shownUrl_, {}, 0, reportedSize(length_.value_or(0))});
  return Status::ok();
}

Status FileDownload::write(ResponseCapture& capture, bool last) {
  const std::string_view held = capture.heldBytes();
  std::size_t taken = 0;
  Status status;
  while (status.isOk() && taken < held.size() && (last || held.size() - taken >= kBlockSize)) {
    const std::string_view block = held.substr(taken, kBlockSize);
    status = writeBlock(block);
    taken += block.size();
  }
  capture.dropHeldBytes(taken);
  return status;
}

// Progress is posted before the block is written.
Status FileDownload::writeBlock(std::string_view block) {
  written_ += block.size();
  outbox_.status({UiCode::StatusDownloading,
                  shownUrl_,
                  {},
                  reportedSize(written_),
                  reportedSize(length_.value_or(0))});
  charge_.addFileBytes(block.size());
  return file_->write(block);
}

Status FileDownload::commit() {
  const Status status = file_->commit();
  charge_.removeFile();
  file_.reset();
  if (!status.isOk()) return status;
  const std::int32_t size = reportedSize(length_.value_or(written_));
  outbox_.status({UiCode::StatusDownloaded, shownUrl_, target_.path, size, size});
  return Status::ok();
}

}  // namespace tarnwick
