#include "tessera/UndoFile.h"

#include <cstdlib>

#include "platform/text/byte_order_mark.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"

namespace vr::undo {
namespace {


struct SectionKind {
  int bit;
  const char16_t* begin;
  const char16_t* end;
  vr::msg::MessageId unexpectedLineMessage;  // a marker of another section inside this one
  vr::msg::MessageId unterminatedMessage;    // the file ends inside this section
};

constexpr SectionKind kSections[] = {
    {kSectionPlatforms, kPlatformsBegin, kPlatformsEnd, vr::msg::MessageId::kUndoPlatformsUnexpectedLine,
     vr::msg::MessageId::kUndoPlatformsUnterminated},
    {kSectionPackages, kPackagesBegin, kPackagesEnd, vr::msg::MessageId::kUndoPackagesUnexpectedLine,
     vr::msg::MessageId::kUndoPackagesUnterminated},
    {kSectionPrereq, kPrereqBegin, kPrereqEnd, vr::msg::MessageId::kUndoPrereqUnexpectedLine,
     vr::msg::MessageId::kUndoPrereqUnterminated},
};

bool StartsWithNoCase(WStringView text, WStringView key) {
  return text.size() >= key.size() && vr::text::EqualsNoCase(text.substr(0, key.size()), key);
}

// The line as ReadLine leaves it, without its leading blanks.
WString TrimmedText(const VrTextLine& line) {
  const WString& t = line.GetText();
  size_t i = 0;
  while (i < t.size() && VrIsWhiteSpace(t[i])) ++i;
  size_t e = t.size();
  while (e > i && VrIsWhiteSpace(t[e - 1])) --e;
  return t.substr(i, e - i);
}

// An undo file saved by an editor as UTF-8 reads, as the UTF-16 text undo files are, as
// pairs of its bytes. True when the bytes of the content, taken back apart, begin (behind a
// UTF-8 byte-order mark or not) with the first header key: then the file is UTF-8 text.
bool IsUtf8UndoFile(const WString& content) {
  std::string bytes;
  const WStringView key(kPatchKey);
  for (size_t i = 0; i < content.size() && bytes.size() < key.size() + 3; ++i) {
    bytes += static_cast<char>(content[i] & 0xFF);
    bytes += static_cast<char>(content[i] >> 8);
  }
  if (vr::text::SniffByteOrderMark(bytes) == vr::text::ByteOrderMark::Utf8) bytes.erase(0, vr::text::kUtf8Mark.size());
  if (bytes.size() < key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (vr::text::ToLowerChar(static_cast<WChar>(static_cast<unsigned char>(bytes[i]))) != vr::text::ToLowerChar(key[i]))
      return false;
  return true;
}

}  // namespace

WString FormatCreationTime(uint16_t month, uint16_t day, uint16_t year, uint16_t hour,
                           uint16_t minute, uint16_t second, long biasMinutes) {
  const char16_t sign = biasMinutes > 0 ? u'-' : u'+';
  const long magnitude = std::labs(biasMinutes);
  return vr::text::Format(u"%02hu/%02hu/%04hu %02hu:%02hu:%02hu %c%02d:%02d", month, day, year, hour,
                          minute, second, sign, static_cast<int>(magnitude / 60),
                          static_cast<int>(magnitude % 60));
}

void AppendHeader(VrLogFile& file, const UndoHeader& header) {
  file.AppendLine(WString(kPatchKey) + header.patch, true);
  file.AppendLine(WString(kCreatedOnKey) + header.createdOn, true);
  file.AppendLine(WString(kConfigFileKey) + header.configFile, true);
  file.AppendLine(WString(kVersionsKey) + header.supportedVersions, true);
}

int ValidateUndoFile(VrLogFile& file, UndoHeader& header, int& sections, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::ValidateUndoFile", "UndoFile", vr::trace::kRunFlags);
  const WString& path = file.GetPath();
  sections = 0;
  file.ResetPosition();
  VrTextLine line;

  const char16_t* keys[] = {kPatchKey, kCreatedOnKey, kConfigFileKey, kVersionsKey};
  WString* fields[] = {&header.patch, &header.createdOn, &header.configFile, &header.supportedVersions};
  for (size_t k = 0; k < 4; ++k) {
    const bool read = file.ReadLine(line, nullptr, true, true);
    const WString text = TrimmedText(line);
    const uint32_t number = line.GetPosition().line;
    if (k == 0 && !StartsWithNoCase(text, keys[k]) && IsUtf8UndoFile(file.GetContent())) {
      message = vr::msg::LoadMessage(vr::msg::MessageId::kUndoFileIsUtf8, path);
      VR_TRACE_ERROR("Undo file '", path, "' is UTF-8 text, not UTF-16.");
      return vr::front::kExitUndoSyntax;
    }
    if (!read || text.empty() || !StartsWithNoCase(text, keys[k])) {
      message = vr::msg::LoadMessage(vr::msg::MessageId::kUndoLineBadStart, static_cast<unsigned>(number), path, keys[k]);
      VR_TRACE_ERROR("Syntax error in line ", static_cast<unsigned>(number), " of file '", path,
                     "': line does not start with '", keys[k], "'.");
      return vr::front::kExitUndoSyntax;
    }
    *fields[k] = text.substr(WStringView(keys[k]).size());
  }

  const SectionKind* open = nullptr;
  while (file.ReadLine(line, nullptr, true, true)) {
    if (line.GetTokenCount() == 0) {
      if (line.IsAtEnd()) break;
      continue;
    }
    const WStringView first = *line.GetToken(0);
    const unsigned number = line.GetPosition().line;
    if (!open) {
      for (const auto& s : kSections)
        if (vr::text::EqualsNoCase(first, s.begin)) open = &s;
      if (!open) {
        message = vr::msg::LoadMessage(vr::msg::MessageId::kUndoUnexpectedLine, number, path);
        VR_TRACE_ERROR("Syntax error in line ", number, " of undo file '", path, "': unexpected line '",
                       line.GetText(), "'.");
        return vr::front::kExitUndoSyntax;
      }
    } else if (vr::text::EqualsNoCase(first, open->end)) {
      sections |= open->bit;
      open = nullptr;
    } else {
      for (const auto& other : kSections) {
        if (&other == open) continue;
        if (vr::text::EqualsNoCase(first, other.begin) || vr::text::EqualsNoCase(first, other.end)) {
          message = vr::msg::LoadMessage(open->unexpectedLineMessage, number, path);
          VR_TRACE_ERROR("Syntax error in line ", number, " of undo file '", path, "': marker '",
                         WString(first), "' inside section '", open->begin, "'.");
          return vr::front::kExitUndoSyntax;
        }
      }
    }
    if (line.IsAtEnd()) break;
  }
  if (open) {
    message = vr::msg::LoadMessage(open->unterminatedMessage, path, open->end);
    VR_TRACE_ERROR("Syntax error in undo file '", path, "': section '", open->begin,
                   "' not terminated with line '", open->end, "'.");
    return vr::front::kExitUndoSyntax;
  }
  return 0;
}

}  // namespace vr::undo
