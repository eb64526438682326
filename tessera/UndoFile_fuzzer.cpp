// libFuzzer: any bytes as an undo file, loaded as the unregistration loads it and checked by
// ValidateUndoFile. A refusal is 53 with a message; anything else (a crash, a hang, a success
// without the header fields or with sections that do not exist) is a finding.
#include <cstdlib>

#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/FuzzFile.h"
#include "tessera/UndoFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteFuzzInput(data, size)) return 0;
  VrLogFile undo(FuzzInputPath().c_str(), true);
  if (FAILED(undo.LoadFile())) return 0;
  vr::undo::UndoHeader header;
  int sections = 0;
  WString message;
  const int status = vr::undo::ValidateUndoFile(undo, header, sections, message);
  constexpr int kAll = vr::undo::kSectionPackages | vr::undo::kSectionPlatforms | vr::undo::kSectionPrereq;
  if (status == 0 && (sections & ~kAll) != 0) std::abort();
  if (status != 0 && (status != 53 || message.empty())) std::abort();
  return 0;
}
