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
#include "platform/text/wstring.h"

class VrTextLine;

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

}  // namespace vr::pkg
