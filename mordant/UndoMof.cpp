#include "mordant/UndoMof.h"

#include <cstdio>

#include "mordant/PlatformInfo.h"
#include "mordant/RunHeader.h"
#include "mordant/VrUnicodeFile.h"
#include "platform/os/file.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "wbem/WbemUtils.h"
#include "wbem/ConsoleText.h"

using vr::text::FormatA;

namespace {

// The namespace as the MOF compiler's pragma takes it.
const char* const kMofNamespace = "//./root/Tamberlin/Vorant/data";
const char* const kRule = "\n-------------------------------------------------------\n";

void Err(const std::string& text) { WriteConsoleText(stderr, text); }

void ReportWriteError(const VrUnicodeFileT& file, const VrUnicodeFileT::Exception& e) {
  Err(FormatA("%s ERROR:\n   An unexpected file i/o error occurred in the proximity of\n   line %u while reading file "
              "\"%S\".\n     Source Code  : %s\n     Source Line  : %u\n     Error Code   : %s\n     Error Details:\n  "
              "     %s%s",
              kRule, file.Line(), file.FileName(), e.SourceUnit(), e.SourceLine(), GetErrorKindName(e.Kind()),
              e.Message(), kRule));
}

}  // namespace

bool CreateUndoMof(IWbemClassObject* managedNode, const WChar* undoMof, int action, const WChar* inputFile) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "CreateUndoMof()");
  if (!undoMof) return true;
  const WString name(undoMof);
  if (name.empty()) {
    Err("\nERROR: The specified <undo-mof> filename was blank, so it cannot be\n  written to.\n");
    return false;
  }
  std::unique_ptr<VrUnicodeFileT> file;
  try {
    file = VrUnicodeFileT::Create(undoMof, VrUnicodeFileT::eWRITE, VrUnicodeFileT::eUNICODE_LE);
  } catch (const VrUnicodeFileT::Exception& e) {
    if (e.Kind() == VrUnicodeFileT::eOpenFailed) {
      Err(FormatA("%s ERROR:\n   Could not open file \"%S\" for writing.\n     Error Details:\n       %s%s", kRule, name,
                  e.Message(), kRule));
    } else {
      Err(FormatA("%s ERROR:\n   An unexpected file i/o error occurred while trying to open\n   file \"%S\" for "
                  "writing.\n     Source Code  : %s\n     Source Line  : %u\n     Error Code   : %s\n     Error "
                  "Details:\n       %s%s",
                  kRule, name, e.SourceUnit(), e.SourceLine(), GetErrorKindName(e.Kind()), e.Message(), kRule));
    }
    return false;
  }

  context.line = __LINE__;
  CBstr text;
  const HRESULT hr = managedNode->GetObjectText(0, text.Receive());
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__,
                "ERROR: IWbemClassObject::GetObjectText() failed -- unable to get\n  object text for VR_ManagedNode, so "
                "that the \"%S\"\n  undo MOF file can be created.\n  hr = 0x%08X  %s\n",
                name, static_cast<unsigned>(hr), GetHresultName(hr));
    try {
      file->Close();
    } catch (...) {
      // The run stops anyway; the file holds at most its byte-order mark.
    }
    return false;
  }
  const WString classText = text.str();

  context.line = __LINE__;
  try {
    if (WantFileComments()) {
      file->PutString(vr::text::Format(u"//\n// %s:\n//\n//   Created on %s\n//   while processing %S from \"%s\"\n//\n",
                                       vr::text::WideToUtf8(name), FormatRunDateTime(),
                                       action == eREMOVE ? u"removes" : u"updates",
                                       vr::text::WideToUtf8(inputFile ? WString(inputFile) : WString())));
    }
    file->PutString(vr::text::Format(u"\n#pragma namespace(\"%s\")\n\n#pragma classflags (\"updateonly\", "
                                     u"\"forceupdate\")\n\n%S\n",
                                     kMofNamespace, classText));
    file->Close();
  } catch (const VrUnicodeFileT::Exception& e) {
    ReportWriteError(*file, e);
    // Half an undo MOF is no undo: it goes, and the run stops before anything is changed.
    file.reset();
    vr::os::DeleteFile(name);
    return false;
  }
  return true;
}
