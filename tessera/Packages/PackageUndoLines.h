// The lines of the package section of an undo file:
//
//   PACKAGE <type> <DeplPackId> "<name>" <version> <logical id> <deployer id> "<description>"
//   PACKAGE_UNIX <DeplPackId> "<name>" <version> <logical id> <deployer id> "<description>"
//                <system type> <OS type> [<system type of each further platform> ...]
//   PLAT_POLICY <DeplPackId> <logical id> <system type> <OS type> <policy type id>
//
// Tokens are separated by one blank. Name and description are always quoted; any other text
// token is quoted when it is empty or holds white space, so that every line reads back with
// its token count whatever the registration file held.
#pragma once
#include <vector>

#include "platform/text/wstring.h"

class VrTextLine;
class VrTextFile;

namespace vr::pkg {

inline constexpr const char16_t* kPackageKeyword = u"PACKAGE";
inline constexpr const char16_t* kPackageUnixKeyword = u"PACKAGE_UNIX";
inline constexpr const char16_t* kPlatPolicyKeyword = u"PLAT_POLICY";

// The package kinds, from the package's type text.
enum EPackageKind { eWINDOWS_PACKAGE = 0, eUNIX_PACKAGE = 1, eOTHER_PACKAGE = 2 };
EPackageKind PackageKindOf(const WString& type);
// "WindowsPackage", "UnixPackage" or "Other".
const char16_t* PackageKindName(EPackageKind kind);

// A text as one token of a line: a double quote becomes a single quote and a line break a
// blank (the reader has no escape for either); quoted when always is set, or when the text is
// empty or holds white space.
WString UndoToken(const WString& text, bool alwaysQuote);

// The "PACKAGE" line (Windows and other packages), without line end.
WString PackageLine(const WString& type, const WString& id, const WString& name, const WString& version,
                    const WString& logicalId, const WString& deployerId, const WString& description);
// The start of a "PACKAGE_UNIX" line up to the OS type of its first platform; further platforms
// append a blank and their system type.
WString PackageUnixLine(const WString& id, const WString& name, const WString& version, const WString& logicalId,
                        const WString& deployerId, const WString& description, long systemType, long osType);
WString PlatPolicyLine(const WString& id, const WString& logicalId, long systemType, long osType,
                       const WString& policyType);

// Whether a line of the section is one of the three and has the tokens it needs: 8 for
// "PACKAGE", at least 9 for "PACKAGE_UNIX", 6 for "PLAT_POLICY". known is set for the three
// keywords.
bool HasValidTokenCount(const VrTextLine& line, bool& known);

// One line of a package section, its tokens with the quotes removed.
struct PackageUndoItem {
  enum Kind { kPackage, kPackageUnix, kPlatPolicy } kind = kPackage;
  std::vector<WString> tokens;  // the keyword first
  WString text;                 // the line as written, for messages
  size_t line = 0;              // the file's line number
  size_t section = 0;           // which package section of the file (0 for the first)
};

// What reading the package sections of an undo file (or a section log) can find wrong.
struct PackageSectionError {
  enum Kind { kNone, kTokenCount, kUnexpectedLine, kNotTerminated } kind = kNone;
  WString text;  // the line (kTokenCount)
  size_t line = 0;
};

// Reads every "[[[PACKAGES]]]" section of the file from its start (markers in any letter
// case; blank and comment lines skipped): the items in order, or false with the first error.
// sections counts the sections, emptySections those with no line between their markers.
// cutShortEnds: a section that the end of the file cuts short (a section log of a run that
// was killed) ends there instead of being an error.
bool ReadPackageSections(VrTextFile& file, std::vector<PackageUndoItem>& items, PackageSectionError& error,
                         size_t* sections = nullptr, size_t* emptySections = nullptr, bool cutShortEnds = false);

}  // namespace vr::pkg
