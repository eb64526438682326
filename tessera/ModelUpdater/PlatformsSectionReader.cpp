// Reading the [[[PLATFORMS]]] section of an undo file: every line is checked for its keyword,
// action word and fields, and turned into the change set that reverses it against the model
// WMI holds now. Values named by the section but gone from WMI produce nothing.
#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/VrTextFile.h"
#include "tessera/Files/VrTextLine.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/PlatformReversal.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/XmlParser/XmlValues.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using vr::text::EqualsNoCase;
using vr::text::ToLower;

namespace PlatformOperations {
namespace {

// One line of the section, its tokens checked for shape.
class SectionLine {
 public:
  explicit SectionLine(const VrTextLine& line) : line_(line) {}
  size_t Count() const { return line_.GetTokenCount(); }
  WString Plain(size_t i) const { return line_.CopyToken(i).value_or(WString()); }
  // A field written between double quotes; nothing when it is not, or its quote is left open.
  // The tokeniser strips a closed pair of quotes, and the text between them cannot hold a
  // quote; an open quote stays in the token.
  std::optional<WString> Quoted(size_t i) const {
    const auto offset = line_.GetTokenOffset(i);
    auto token = line_.CopyToken(i);
    if (!offset || !token) return std::nullopt;
    const WString& text = line_.GetText();
    if (*offset >= text.size() || text[*offset] != u'"') return std::nullopt;
    if (token->find(u'"') != WString::npos) return std::nullopt;
    return token;
  }
  std::optional<int32_t> Number(size_t i) const {
    int32_t n = 0;
    if (!XmlValues::ParseWholeInt32(Plain(i), n)) return std::nullopt;
    return n;
  }

 private:
  const VrTextLine& line_;
};

enum class Keyword { kOsType, kOsVersion, kSystemType, kSystemTypeOsType, kNodeDisc, kNodeGroup, kUnknown };

Keyword KeywordOf(const WString& token) {
  if (EqualsNoCase(token, u"OS-TYPE")) return Keyword::kOsType;
  if (EqualsNoCase(token, u"OS-VERSION")) return Keyword::kOsVersion;
  if (EqualsNoCase(token, u"SYSTEM-TYPE")) return Keyword::kSystemType;
  if (EqualsNoCase(token, u"SYSTEM-TYPE-OS-TYPE")) return Keyword::kSystemTypeOsType;
  if (EqualsNoCase(token, u"NODEDISC")) return Keyword::kNodeDisc;
  if (EqualsNoCase(token, u"NODEGROUP")) return Keyword::kNodeGroup;
  return Keyword::kUnknown;
}

// Takes one line into the requests; false when its action word or fields are not those of its
// keyword.
bool TakeLine(Keyword keyword, const SectionLine& line, ReversalRequests& requests) {
  const WString action = line.Plain(1);
  const bool add = EqualsNoCase(action, u"ADD");
  const bool change = EqualsNoCase(action, u"CHANGE");
  const bool increment = EqualsNoCase(action, u"INCREMENT");
  switch (keyword) {
    case Keyword::kOsType:
    case Keyword::kOsVersion:
    case Keyword::kSystemType: {
      ValueRequests& r = keyword == Keyword::kOsType      ? requests.osTypes
                         : keyword == Keyword::kOsVersion ? requests.osVersions
                                                          : requests.systemTypes;
      if (add) {
        if (line.Count() != 4 || !line.Quoted(3)) return false;
        r.added.insert(ToLower(line.Plain(2)));
        return true;
      }
      if (change) {
        const auto oldCaption = line.Quoted(3);
        if (line.Count() != 5 || !oldCaption || !line.Quoted(4)) return false;
        r.oldCaption.emplace(ToLower(line.Plain(2)), *oldCaption);
        return true;
      }
      return false;
    }
    case Keyword::kSystemTypeOsType:
      if (!add && !change) return false;
      if (line.Count() != 4) return false;
      if (add) requests.cpuOsTypes[ToLower(line.Plain(2))].insert(ToLower(line.Plain(3)));
      return true;
    case Keyword::kNodeDisc: {
      if (!add && !change && !increment) return false;
      const size_t count = change ? 7 : 6;
      const auto method = line.Number(2);
      const auto property = line.Number(3);
      const auto value = line.Quoted(4);
      const auto expression = line.Quoted(count - 1);
      if (line.Count() != count || !method || !property || !value || !expression) return false;
      if (change && !line.Quoted(5)) return false;
      AddMatchRequest(requests, PlatformMatch{*expression, *method, *property, {}, 0}, 1,
                      change ? std::optional<WString>(*value) : std::nullopt);
      return true;
    }
    case Keyword::kNodeGroup:
      if (!add && !change) return false;
      // Name, quoted Caption, Parent (empty for a top group, so the line may end after the caption).
      if ((line.Count() != 4 && line.Count() != 5) || !line.Quoted(3)) return false;
      if (add) requests.groups.push_back(line.Plain(2));
      return true;
    case Keyword::kUnknown:
      break;
  }
  return false;
}

bool IsMarker(const VrTextLine& line, const char16_t* marker) {
  return line.GetTokenCount() > 0 && EqualsNoCase(line.CopyToken(0).value_or(WString()), marker);
}

// Reads every [[[PLATFORMS]]] section of the text (markers in any letter case; a file may hold
// the section more than once, and each counts); S_OK with empty requests when there is none.
// A line that is not a section line gives kUndoSectionSyntax with message 3055 or 3033.
HRESULT ReadSection(const OperationContext& context, VrTextFile& undo, ReversalRequests& requests, WString& error,
                    VrLogFile& log, const char* vrTraceFunction_, const char* vrTraceFile_) {
  undo.ResetPosition();
  VrTextLine line;
  bool any = false;
  while (undo.ReadLine(line, nullptr, true, true)) {
    if (!IsMarker(line, vr::undo::kPlatformsBegin)) {
      if (line.IsAtEnd()) break;
      continue;
    }
    while (!line.IsAtEnd() && undo.ReadLine(line, nullptr, true, true)) {
      if (line.GetTokenCount() == 0) {
        if (line.IsAtEnd()) break;
        continue;
      }
      if (IsMarker(line, vr::undo::kPlatformsEnd)) break;
      const WString first = line.CopyToken(0).value_or(WString());
      const uint32_t number = line.GetPosition().line;
      const Keyword keyword = KeywordOf(first);
      if (keyword == Keyword::kUnknown) {
        if (first.empty() || first == u" " || first == u"\n") continue;
        ReportMessage(LoadMessage(MessageId::kUndoPlatformsSyntax, number), error, log);
        return kUndoSectionSyntax;
      }
      if (line.GetTokenCount() < 2 || !TakeLine(keyword, SectionLine(line), requests)) {
        ReportMessage(LoadMessage(MessageId::kUndoPlatformsSyntaxAfter, first, number), error, log);
        return kUndoSectionSyntax;
      }
      any = true;
    }
    if (line.IsAtEnd()) break;
  }
  if (!any)
    VR_TRACE_INFO(context.mode == OP_ROLLBACK ? "Nothing to rollback in platform section is empty"
                                              : "Nothing to uninstall in platform section is empty");
  return S_OK;
}

}  // namespace

HRESULT CreateUninstallationAndUnDoVect(const OperationContext& context, VrTextFile& undo, const PlatformModel& wmi,
                                        PlatformChanges& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CreateUninstallationAndUnDoVect", "ModelUpdater\\PlatformsSectionReader",
                    vr::trace::kModelFlags);
  try {
    ReversalRequests requests;
    if (const HRESULT hr = ReadSection(context, undo, requests, error, log, vrTraceFunction_, vrTraceFile_); FAILED(hr))
      return hr;
    CreateReversalChanges(wmi, requests, false, changes);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations
