// The fuzz targets load their input from a real file, as the programs do: one scratch file
// per process in the temporary folder, rewritten for every input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/file.h"
#include "platform/text/convert.h"

// Made on first use, removed when the process ends.
struct FuzzScratchFile {
  FuzzScratchFile() {
    WString folder;
    if (vr::os::GetTempPath(folder) != 0 || vr::os::GetTempFileName(folder, u"vrn", path) != 0) path.clear();
  }
  ~FuzzScratchFile() {
    if (!path.empty()) vr::os::DeleteFile(path);
  }
  WString path;
};

inline const WString& FuzzInputPath() {
  static const FuzzScratchFile file;
  return file.path;
}

inline bool WriteFuzzInput(const uint8_t* data, size_t size) {
  const WString& path = FuzzInputPath();
  if (path.empty()) return false;
  std::unique_ptr<vr::os::File> f;
  if (vr::os::File::Open(path, "wb", vr::os::Share::DenyNone, f) != 0) return false;
  size_t written = 0;
  const bool ok = size == 0 || (f->Write(data, size, written) == 0 && written == size);
  return f->Close() == 0 && ok;
}
