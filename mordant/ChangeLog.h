// The change log of an add: an update-information file of its own, whose added and modified
// lines are items and whose other lines are comments. Written in the locale's multibyte
// encoding while the input is read.
#pragma once
#include <memory>
#include <string>

#include "mordant/VrUnicodeFile.h"
#include "platform/text/wstring.h"

class ChangeLogT {
 public:
  // Opens (creates or truncates) the log and writes its header; false after printing
  // "Unable to open the ... log file for writing".
  bool Open(const WString& logName, const WString& inputName);
  bool IsOpen() const { return file_ != nullptr; }
  // One line of the log; a write failure throws VrUnicodeFileT::Exception.
  void Write(WStringView text);
  // The closing line when reading failed: "file i/o" or "exception thrown". Never throws.
  void CloseFailed(const char* reason);
  // Closes after a complete read; throws when the log could not be written whole.
  void Close();

 private:
  std::unique_ptr<VrUnicodeFileT> file_;
};
