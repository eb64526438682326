// Arbitrary bytes loaded as a prerequisite configuration file: no crash, no hang; a load that
// succeeds has found both sections and the CRC line, and a load that fails leaves it empty.
#include <cstdlib>

#include "tessera/Files/FuzzFile.h"
#include "tessera/Files/VrConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteFuzzInput(data, size)) return 0;
  VrConfigFile f(FuzzInputPath().c_str());
  if (SUCCEEDED(f.LoadFile())) {
    if (!f.GetSystemSectionPosition() || !f.GetPrerequisitesSectionPosition() || f.GetCrcText().size() != 8 ||
        !VrConfigFile::IsVersion(f.GetVersion()))
      std::abort();
    VrTextLine line;
    while (f.ReadLine(line, nullptr, true, true) && !line.IsAtEnd()) {
      f.IsEndOfSystem(line);
      f.IsEndOfRequirements(line);
    }
  } else if (f.HasContent()) {
    std::abort();
  }
  return 0;
}
