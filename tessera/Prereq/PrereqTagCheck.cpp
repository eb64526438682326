// The registration file's tag texts are written into the configuration file as they stand, so
// each must be exactly one block of its own name and kind: anything that would end the block
// when the file is read again (another tag line, a section line, the CRC line) would leave the
// file with blocks nobody registered, or without its frame.
#include "platform/text/format.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Messages.h"
#include "tessera/Prereq/PrereqSupport.h"
#include "tessera/TesseraTrace.h"
#include "tessera/Prereq/PrereqSection.h"
#include "tessera/XmlParser/XmlReader.h"

namespace vr::prereq {

bool CheckTagText(const WString& name, const WString& text, bool system, WString& reason) {
  using Kind = VrConfigFile::LineKind;
  const WString wantedName = TrimmedName(name);
  const char16_t* tag = system ? kSystemTag : kPrerequisitesTag;
  if (wantedName.empty()) {
    reason = u"the tag has no name";
    return false;
  }
  VrTextFile scratch(nullptr, TEXT_ASCII, LINES_LF);
  scratch.Append(TagText(text), false);
  VrTextLine line;
  bool first = true;
  while (scratch.ReadLine(line, nullptr, false, false)) {
    const Kind kind = VrConfigFile::ClassifyTokens(line);
    const unsigned number = line.GetPosition().line;
    if (first) {
      first = false;
      const Kind wanted = system ? Kind::SystemTag : Kind::PrerequisitesTag;
      if (kind != wanted || !vr::text::EqualsNoCase(TagNameOf(line), wantedName)) {
        reason = WString(u"its first line is not '") + tag + u" " + wantedName + u"'";
        return false;
      }
    } else if (kind == Kind::PrerequisitesTag || kind == Kind::SystemTag || kind == Kind::InformationTag) {
      reason = vr::text::Format(u"its line %u is a further tag line", number);
      return false;
    } else if (kind == Kind::PrerequisitesSection || kind == Kind::SystemSection) {
      reason = vr::text::Format(u"its line %u is a section line", number);
      return false;
    } else if (kind == Kind::Crc) {
      reason = vr::text::Format(u"its line %u is a CRC line", number);
      return false;
    }
    if (line.IsAtEnd()) break;
  }
  if (first) {
    reason = u"its text is empty";
    return false;
  }
  return true;
}

}  // namespace vr::prereq

bool PrereqSection::CheckTags(const CXmlReader& reader, WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::CheckTags", "Prereq\\PrereqTagCheck", vr::trace::kRunFlags);
  auto check = [&](const std::vector<CReqCheckTag>& tags, bool system) {
    for (const auto& t : tags) {
      WString reason;
      if (vr::prereq::CheckTagText(t.name, t.text, system, reason)) continue;
      message = vr::msg::LoadMessage(vr::msg::MessageId::kPrereqTagNotOneBlock, system ? u"system" : u"prerequisites", t.name, reason);
      VR_TRACE_ERROR(message);
      WriteCommonLog(message);
      return false;
    }
    return true;
  };
  return check(reader.SystemTags(), true) && check(reader.PrerequisiteTags(), false);
}
