#include "mordant/ChangeLog.h"

#include <cstdio>
#include <cstring>

#include "mordant/RunHeader.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "wbem/ConsoleText.h"

using vr::text::Format;
using vr::text::FormatA;

bool ChangeLogT::Open(const WString& logName, const WString& inputName) {
  try {
    file_ = VrUnicodeFileT::Create(logName.c_str(), VrUnicodeFileT::eWRITE, VrUnicodeFileT::eMBCS);
    if (WantFileComments()) {
      Write(Format(u"#\n# %S:\n#\n#   Created on %S\n#   while processing updates from \"%S\"\n#\n", logName,
                   vr::text::Utf8ToWide(FormatRunDateTime()), inputName));
    }
    return true;
  } catch (const VrUnicodeFileT::Exception&) {
    const int err = errno;
    file_.reset();
    const std::string text = FormatA("\nERROR: Unable to open the \"%S\" log file for writing:\n  errno = %d  %s\n",
                                     logName, err, std::strerror(err));
    WriteConsoleText(stderr, text);
    return false;
  }
}

void ChangeLogT::Write(WStringView text) {
  if (file_) file_->PutString(text);
}

void ChangeLogT::CloseFailed(const char* reason) {
  if (!file_) return;
  try {
    file_->PutString(Format(u"***\n*** FAILED before processing completed!!! (%s)\n***\n", reason));
    file_->Close();
  } catch (...) {
    // The read has failed already; a log that cannot take its last line changes nothing.
  }
  file_.reset();
}

void ChangeLogT::Close() {
  if (!file_) return;
  std::unique_ptr<VrUnicodeFileT> file = std::move(file_);
  file->Close();
}
