#include "tessera/Packages/PackageUndoLines.h"

#include "platform/text/format.h"
#include "platform/text/casefold.h"
#include "tessera/Files/VrTextFile.h"
#include "tessera/Files/VrTextLine.h"
#include "tessera/UndoFile.h"

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

bool ReadPackageSections(VrTextFile& file, std::vector<PackageUndoItem>& items, PackageSectionError& error,
                         size_t* sections, size_t* emptySections, bool cutShortEnds) {
  items.clear();
  error = PackageSectionError();
  size_t count = 0, empty = 0;
  VrTextLine line;
  file.ResetPosition();
  bool inSection = false, hasLines = false;
  while (file.ReadLine(line, nullptr, true, true)) {
    const auto first = line.GetToken(0);
    if (!first) {  // the empty remainder after the last line end
      if (line.IsAtEnd()) break;
      continue;
    }
    const WString keyword(*first);
    if (!inSection) {
      if (vr::text::EqualsNoCase(keyword, vr::undo::kPackagesBegin)) {
        inSection = true;
        hasLines = false;
        ++count;
      }
    } else if (vr::text::EqualsNoCase(keyword, vr::undo::kPackagesEnd)) {
      if (!hasLines) ++empty;
      inSection = false;
    } else {
      hasLines = true;
      bool known = false;
      if (!HasValidTokenCount(line, known)) {
        error = {known ? PackageSectionError::kTokenCount : PackageSectionError::kUnexpectedLine, line.GetText(),
                 line.GetPosition().line};
        return false;
      }
      PackageUndoItem item;
      item.kind = keyword == kPackageKeyword       ? PackageUndoItem::kPackage
                  : keyword == kPackageUnixKeyword ? PackageUndoItem::kPackageUnix
                                                   : PackageUndoItem::kPlatPolicy;
      for (size_t i = 0; i < line.GetTokenCount(); ++i) item.tokens.emplace_back(*line.GetToken(i));
      item.text = line.GetText();
      item.line = line.GetPosition().line;
      item.section = count - 1;
      items.push_back(std::move(item));
    }
    if (line.IsAtEnd()) break;
  }
  if (sections) *sections = count;
  if (emptySections) *emptySections = empty;
  if (inSection && !cutShortEnds) {
    error = {PackageSectionError::kNotTerminated, WString(), 0};
    return false;
  }
  return true;
}

}  // namespace vr::pkg
