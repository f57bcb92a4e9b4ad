// Extraction of one payload item to one file.
#include "payload_table.h"

#include <cstdint>

#include "host.h"
#include "host_files.h"
#include "host_texts.h"
#include "report_text.h"
#include "rtl/exception.h"

PayloadItemData::PayloadItemData(const char* type, const std::string& name) {
  if (!HostServices.FindPayload(type, name, block_)) {
    block_ = PayloadBlock{};
    Raise<EResNotFound>(FormatText(HostServices.LoadText(IDS_RES_NOT_FOUND), {name}));
  }
}

namespace {

class FileCloser {
 public:
  explicit FileCloser(HostFile file) : file_(file) {}
  ~FileCloser() { HostFiles.Close(file_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  HostFile file_;
};

}  // namespace

bool ExtractPayloadItem(const char* ResourceType, const std::string& ResourceName,
                        const std::string& FileName) {
  const PayloadItemData item(ResourceType, ResourceName);
  const HostFile file = HostFiles.CreateTruncate(FileName);
  if (file == kNoFile) {
    Raise<EFCreateError>(FormatText(HostServices.LoadText(IDS_FCREATE_ERROR), {FileName}));
  }
  // Closed before the item is released: destruction runs in reverse order.
  const FileCloser closer(file);
  if (item.Size() > 0) {
    // One write of the whole item; an item too large for one write cannot
    // be written at all.
    const bool fits = item.Size() <= static_cast<std::uint32_t>(INT32_MAX);
    const auto size = static_cast<std::int32_t>(item.Size());
    if (!fits || HostFiles.Write(file, item.Data(), size) != size) {
      Raise<EWriteError>(HostServices.LoadText(IDS_WRITE_ERROR));
    }
  }
  return true;
}
