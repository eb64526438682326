// The update-information file: items "SYSTEM-TYPE", "OS-TYPE", "SYSTEM-CPU-OS" and
// "OS-VERSION", each a keyword, ":", fields separated by "," and a closing ";", with "#"
// comments and white space between items. The readers compute new platform lists; they never
// touch WMI.
#pragma once
#include <cwchar>
#include <exception>

#include "mordant/PlatformLists.h"
#include "mordant/VrUnicodeFile.h"

// A syntax error, printed where it was found.
class SyntaxErrorException : public std::exception {
 public:
  const char* what() const noexcept override { return "SyntaxErrorException"; }
};

// The file ended, or its stream failed, where a value was expected.
class FileErrorException : public std::exception {
 public:
  const char* what() const noexcept override { return "FileErrorException"; }
};

// Add and check: true when the whole file was read. Each output list receives the complete new
// list of its kind only when an item of that kind changed something; otherwise it stays empty.
// changeLog may be null (check). otherQualifiers: the qualifiers of the SystemType property
// that are not CPU qualifiers; an item whose CPU key names one of them, or Values or ValueMap,
// is a syntax error, since its CPU qualifier would overwrite that qualifier.
bool ReadUpdateInfo(const WChar* inputFile, const WChar* changeLog, const SystemTypeList& systemTypes,
                    const CpuOsList& cpuOs, const OsTypeList& osTypes, const OsVersionList& osVersions,
                    SystemTypeList* newSystemTypes, CpuOsList* newCpuOs, OsTypeList* newOsTypes,
                    OsVersionList* newOsVersions, const std::vector<WString>& otherQualifiers = {});

// Remove: only "OS-VERSION" items. newOsVersions receives the new list only when at least one
// version was removed; *removedAny (when given) says whether one was, since the new list is
// empty when every version was removed.
bool ReadRemoveInfo(const WChar* inputFile, const OsTypeList& osTypes, const OsVersionList& osVersions,
                    OsVersionList* newOsVersions, bool* removedAny = nullptr);

// The trimmed value up to the first of delimiters; *delimiter receives it ('?' at the end of
// the file). Throws SyntaxErrorException or FileErrorException.
WString ReadValue(VrUnicodeFileT& file, WStringView delimiters, wint_t* delimiter);

// Skips white space and comments; true when an item begins (its first character pushed back).
bool SkipToNextItem(VrUnicodeFileT& file);
