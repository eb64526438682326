// The one place that hands a file to libxml2: a bounded, offline parse that validates against
// the document type definition the document names and opens nothing else. Internal to the
// DOM of this folder.
#pragma once
#include <string>

struct _xmlDoc;

namespace vr::xml::detail {

struct ParseFailure {
  long code = 0;        // libxml2 error number, or one of the codes below
  std::string reason;   // one line, UTF-8
  std::string url;      // the file the error is in (the document or its DTD)
  long line = 0;
  long column = 0;
};

// Codes of the failures this layer itself detects.
constexpr long kFailOpen = 10001;          // the file cannot be opened or read
constexpr long kFailTooLarge = 10002;      // beyond kMaxDocumentBytes
constexpr long kFailRefused = 10003;       // an entity declaration, external resource, depth or length bound
constexpr long kFailNoDtd = 10004;         // validation asked for, but no DTD named or found
constexpr long kFailInvalid = 10005;       // not valid against the DTD (libxml2 gave no detail)

// Parses the file (a native path). validate: load the named DTD and validate against it; when
// false no DTD is read at all. Returns the document, or nullptr with failure filled.
_xmlDoc* ParseFile(const std::string& nativePath, bool validate, ParseFailure& failure);

// Frees a document returned by ParseFile.
void FreeDocument(_xmlDoc* doc);

}  // namespace vr::xml::detail
