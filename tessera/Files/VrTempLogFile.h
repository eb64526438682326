// A log on a new, uniquely named file ("vrn..." in the temporary folder, mode 0600) created
// with the object, and with delete-on-destruction removed again when the object goes.
#pragma once
#include "tessera/Files/VrLogFile.h"

class VrTempLogFile : public VrLogFile {
 public:
  VrTempLogFile(bool deleteOnDestruction, bool hasHeader);
  ~VrTempLogFile() override;

  bool GetDeleteOnDestruction() const { return deleteOnDestruction_; }

 private:
  bool deleteOnDestruction_;
};
