#include "tessera/Packages/PackageUndoLines.h"

#include "platform/text/format.h"
#include "tessera/Files/VrTextLine.h"

namespace vr::pkg {

EPackageKind PackageKindOf(const WString& type) {
  if (type == u"WindowsPackage") return eWINDOWS_PACKAGE;
  if (type == u"UnixPackage") return eUNIX_PACKAGE;
  return eOTHER_PACKAGE;
}

const char16_t* PackageKindName(EPackageKind kind) {
  switch (kind) {
    case eWINDOWS_PACKAGE: return u"WindowsPackage";
    case eUNIX_PACKAGE: return u"UnixPackage";
    default: return u"Other";
  }
}

WString UndoToken(const WString& text, bool alwaysQuote) {
  WString token;
  token.reserve(text.size() + 2);
  bool blank = text.empty();
  for (WChar c : text) {
    if (c == u'"') c = u'\'';
    else if (c == u'\r' || c == u'\n' || c == 0x85 || c == 0x2028 || c == 0x2029 || c < 0x20) c = u' ';
    if (VrIsWhiteSpace(c)) blank = true;
    token += c;
  }
  if (alwaysQuote || blank) return u"\"" + token + u"\"";
  return token;
}

WString PackageLine(const WString& type, const WString& id, const WString& name, const WString& version,
                    const WString& logicalId, const WString& deployerId, const WString& description) {
  return WString(kPackageKeyword) + u" " + UndoToken(type, false) + u" " + UndoToken(id, false) + u" " +
         UndoToken(name, true) + u" " + UndoToken(version, false) + u" " + UndoToken(logicalId, false) + u" " +
         UndoToken(deployerId, false) + u" " + UndoToken(description, true);
}

WString PackageUnixLine(const WString& id, const WString& name, const WString& version, const WString& logicalId,
                        const WString& deployerId, const WString& description, long systemType, long osType) {
  return WString(kPackageUnixKeyword) + u" " + UndoToken(id, false) + u" " + UndoToken(name, true) + u" " +
         UndoToken(version, false) + u" " + UndoToken(logicalId, false) + u" " + UndoToken(deployerId, false) +
         u" " + UndoToken(description, true) + vr::text::Format(u" %ld %ld", systemType, osType);
}

WString PlatPolicyLine(const WString& id, const WString& logicalId, long systemType, long osType,
                       const WString& policyType) {
  return WString(kPlatPolicyKeyword) + u" " + UndoToken(id, false) + u" " + UndoToken(logicalId, false) +
         vr::text::Format(u" %ld %ld ", systemType, osType) + UndoToken(policyType, false);
}

bool HasValidTokenCount(const VrTextLine& line, bool& known) {
  known = false;
  const auto first = line.GetToken(0);
  if (!first) return false;
  const size_t count = line.GetTokenCount();
  if (*first == kPackageKeyword) {
    known = true;
    return count == 8;
  }
  if (*first == kPackageUnixKeyword) {
    known = true;
    return count >= 9;
  }
  if (*first == kPlatPolicyKeyword) {
    known = true;
    return count == 6;
  }
  return false;
}

}  // namespace vr::pkg
