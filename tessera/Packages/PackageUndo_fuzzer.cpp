// libFuzzer: any bytes as an undo file whose package sections the unregistration reads, and
// as the package section's record in a run journal. A section that is read has only lines of
// the three kinds with their token counts; a refusal says what it found; a record that reads
// serialises to text that reads back the same. A crash, a hang or a broken promise is a finding.
#include <cstdlib>
#include <string>

#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/FuzzFile.h"
#include "tessera/Packages/PackageRecord.h"
#include "tessera/Packages/PackageUndoLines.h"

using namespace vr::pkg;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  PackageRecord record;
  std::string why;
  if (ParseRecord(text, record, why)) {
    if (record.complete) {
      PackageRecord again;
      if (!ParseRecord(SerializeRecord(record), again, why) || !again.complete ||
          SerializeRecord(again) != SerializeRecord(record))
        std::abort();
    }
  } else if (why.empty()) {
    std::abort();
  }

  if (!WriteFuzzInput(data, size)) return 0;
  VrLogFile undo(FuzzInputPath().c_str(), true);
  if (FAILED(undo.LoadFile())) return 0;
  std::vector<PackageUndoItem> items;
  PackageSectionError error;
  if (ReadPackageSections(undo, items, error)) {
    if (error.kind != PackageSectionError::kNone) std::abort();
    for (const auto& item : items) {
      const size_t n = item.tokens.size();
      if (item.kind == PackageUndoItem::kPackage && n != 8) std::abort();
      if (item.kind == PackageUndoItem::kPackageUnix && n < 9) std::abort();
      if (item.kind == PackageUndoItem::kPlatPolicy && n != 6) std::abort();
    }
  } else if (error.kind == PackageSectionError::kNone) {
    std::abort();
  }
  return 0;
}
