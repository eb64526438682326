// A log on a new, uniquely named file ("vrn..." in the temporary folder, mode 0600) created
// with the object, and with delete-on-destruction removed again when the object goes.
// A run's section logs are durable instead: a file of the run journal in the host root, named
// by the journal, created with the object and flushed to disk at every line written through,
// so that a killed run's undo lines survive it.
#pragma once
#include "tessera/Files/VrLogFile.h"

class VrTempLogFile : public VrLogFile {
 public:
  VrTempLogFile(bool deleteOnDestruction, bool hasHeader);
  // A durable log on path (a new, empty file; an existing one is emptied). A file that cannot
  // be created leaves the object without path, as a failed temporary name does.
  VrTempLogFile(const WString& path, bool deleteOnDestruction, bool hasHeader);
  ~VrTempLogFile() override;

  bool GetDeleteOnDestruction() const { return deleteOnDestruction_; }
  // Keeps the file after all (for instance when its lines could not be copied elsewhere).
  void SetDeleteOnDestruction(bool deleteOnDestruction) { deleteOnDestruction_ = deleteOnDestruction; }

 private:
  bool deleteOnDestruction_;
};
