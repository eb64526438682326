#include "tessera/Files/VrConfigFile.h"

#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/Files/VrFileTrace.h"
#include "tessera/Messages.h"

namespace {

constexpr WStringView kFirstLine = u"PREREQUISITES CHECK CONFIG";
constexpr WStringView kVersionKey = u"VER";
constexpr WStringView kUpdatesKey = u"UPDATES:";
constexpr WStringView kSystemSection = u"[SYSTEM_SECTION]";
constexpr WStringView kPrerequisitesSection = u"[PREREQUISITES_SECTION]";
constexpr WStringView kCrcLine = u"CONFIG FILE CRC:";

bool IsAsciiAlnum(WChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool IsHexDigit(WChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

}  // namespace

VrConfigFile::VrConfigFile(const WChar* path) : VrTextFile(path, TEXT_UTF8, LINES_LF) { hasHeader_ = true; }

void VrConfigFile::Free(bool all) {
  VrTextFile::Free(all);
  version_.clear();
  updates_.clear();
  crcText_.clear();
  prerequisitesSection_.reset();
  systemSection_.reset();
  versionLine_.reset();
  updatesLine_.reset();
}

bool VrConfigFile::IsVersion(WStringView text) {
  if (text.empty()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const WChar c = text[i];
    if (IsAsciiAlnum(c) || c == u'.' || c == u'-') continue;
    if (c != u'*') return false;
    const bool startsPart = i == 0 || text[i - 1] == u'.' || text[i - 1] == u'-';
    const bool endsPart = i + 1 == text.size() || text[i + 1] == u'.' || text[i + 1] == u'-';
    if (!startsPart || !endsPart) return false;
  }
  return true;
}

HRESULT VrConfigFile::LoadFile() {
  VR_TRACE_FUNCTION("VrConfigFile::LoadFile", "Files\\VrConfigFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    hr = VrTextFile::LoadFile();
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  VR_FILE_RETURN(hr);
}

HRESULT VrConfigFile::LoadFile(VrReadStream& stream) {
  VR_TRACE_FUNCTION("VrConfigFile::LoadFile", "Files\\VrConfigFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    errorText_.clear();
    Free(false);
    position_.Reset();
    std::string bytes;
    hr = ReadStream(stream, bytes, vrTraceFunction_, vrTraceFile_, "Configuration file is empty.",
                    "Could not allocate buffer for reading the configuration file.");
    if (SUCCEEDED(hr) && bytes.find('\0') != std::string::npos) {
      VR_TRACE_ERROR("Configuration file contains binary data ('\\0').");
      hr = E_VRFILE_CONTENT;
    }
    if (SUCCEEDED(hr)) {
      fileLength_ = bytes.size();
      hr = SetContentToUnicode(bytes);
    }
    if (SUCCEEDED(hr)) {
      CountLines();
      position_.Reset();
      hr = CheckFrame();
    }
    if (SUCCEEDED(hr)) position_.Reset();
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  if (FAILED(hr)) Free(false);
  VR_FILE_RETURN(hr);
}

HRESULT VrConfigFile::CheckFrame() {
  static constexpr const char* vrTraceFunction_ = "\"VrConfigFile::LoadFile\"";
  static constexpr const char* vrTraceFile_ = "Files\\VrConfigFile";
  VrTextLine line;
  const auto header = [&](WStringView key) {
    if (ReadLine(line, WString(key).c_str(), true, true)) return true;
    VR_TRACE_ERROR("Line ", line.GetPosition().line, " should start with ", key);
    return false;
  };

  if (!header(kFirstLine)) return E_VRFILE_CONTENT;
  if (!header(kVersionKey)) return E_VRFILE_CONTENT;
  const WString version = line.GetRestOfLine(1).value_or(WString());
  if (!IsVersion(version)) {
    VR_TRACE_ERROR("Line ", line.GetPosition().line, ": value after ", kVersionKey, " (", version, ") is not version.");
    return E_VRFILE_CONTENT;
  }
  version_ = version;
  versionLine_ = line.GetPosition();
  if (!header(kUpdatesKey)) return E_VRFILE_CONTENT;
  updates_ = line.GetRestOfLine(1).value_or(WString());
  updatesLine_ = line.GetPosition();

  uint32_t lastLine = line.GetPosition().line;
  bool crcSeen = false;
  while (!line.IsAtEnd() && ReadLine(line, nullptr, true, true)) {
    lastLine = line.GetPosition().line;
    if (line.GetTokenCount() == 0) continue;  // the empty last line
    if (crcSeen) {
      VR_TRACE_ERROR("Line ", lastLine, ": line starting with ", kCrcLine, " should be last line in file.");
      return E_VRFILE_CONTENT;
    }
    const WStringView first = *line.GetToken(0);
    const bool isSystem = vr::text::EqualsNoCase(first, kSystemSection);
    if (isSystem || vr::text::EqualsNoCase(first, kPrerequisitesSection)) {
      std::optional<VrTextPosition>& seen = isSystem ? systemSection_ : prerequisitesSection_;
      if (seen) {
        VR_TRACE_ERROR("Line ", lastLine, ": ", first, " was already defined in line ", seen->line);
        return E_VRFILE_CONTENT;
      }
      seen = line.GetPosition();
    } else if (vr::text::EqualsNoCase(first, u"CONFIG")) {
      const WStringView value = line.GetToken(3).value_or(WStringView());
      size_t digits = 0;
      while (digits < value.size() && IsHexDigit(value[digits])) ++digits;
      const bool valid = line.GetTokenCount() == 4 && vr::text::EqualsNoCase(*line.GetToken(1), u"FILE") &&
                         vr::text::EqualsNoCase(*line.GetToken(2), u"CRC:") && digits >= 1 && digits <= 8;
      if (!valid) {
        VR_TRACE_ERROR("Line ", lastLine, ": CRC (\"", value, "\") is not 4-byte hex number.");
        errorText_ = vr::msg::LoadMessage(vr::msg::MessageId::kCrcUnparsed, value);
        VR_TRACE_ERROR(errorText_);
        return E_VRFILE_CONTENT;
      }
      crcText_ = WString(8 - digits, u'0') + vr::text::ToUpper(value.substr(0, digits));
      crcSeen = true;
    }
  }

  if (!prerequisitesSection_) {
    VR_TRACE_ERROR("Line ", lastLine, ": line starting with ", kPrerequisitesSection, " not found.");
    return E_VRFILE_CONTENT;
  }
  if (!systemSection_) {
    VR_TRACE_ERROR("Line ", lastLine, ": line starting with ", kSystemSection, " not found.");
    return E_VRFILE_CONTENT;
  }
  if (!crcSeen) {
    VR_TRACE_ERROR("Line ", lastLine, ": line starting with ", kCrcLine, " not found.");
    return E_VRFILE_CONTENT;
  }
  return S_OK;
}

HRESULT VrConfigFile::SaveFile() {
  VR_TRACE_FUNCTION("VrConfigFile::SaveFile", "Files\\VrConfigFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    std::unique_ptr<VrSaveStream> stream;
    hr = StoreFile(false, &stream);
    if (SUCCEEDED(hr)) {
      const std::string crcLine = vr::text::FormatA("%s %.8X", "CONFIG FILE CRC:", crc_);
      size_t written = 0;
      const long rc = stream->Write(crcLine.data(), crcLine.size(), written);
      if (rc != ERROR_SUCCESS || written != crcLine.size()) {
        if (rc) VR_TRACE_FAILURE("fwrite", rc);
        VR_TRACE_ERROR("Error during writing the CRC to the file!");
        hr = E_FAIL;  // the new version is dropped, the file keeps its previous content
      } else {
        hr = CloseStore(stream, vrTraceFunction_, vrTraceFile_, "Error during closing the file!");
      }
    }
  }
  VR_FILE_CATCH(hr, E_FAIL, E_FAIL)
  VR_FILE_RETURN(hr);
}

HRESULT VrConfigFile::ReSaveFile() {
  VR_TRACE_FUNCTION("VrConfigFile::ReSaveFile", "Files\\VrConfigFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    hr = StoreFile(true, nullptr);
  }
  VR_FILE_CATCH(hr, E_FAIL, E_FAIL)
  VR_FILE_RETURN(hr);
}

VrConfigFile::LineKind VrConfigFile::ClassifyTokens(const VrTextLine& line) {
  const auto first = line.GetToken(0);
  if (!first) return LineKind::Other;
  if (vr::text::EqualsNoCase(*first, kPrerequisitesSection)) return LineKind::PrerequisitesSection;
  if (vr::text::EqualsNoCase(*first, kSystemSection)) return LineKind::SystemSection;
  if (vr::text::EqualsNoCase(*first, u"[PREREQUISITES]")) return LineKind::PrerequisitesTag;
  if (vr::text::EqualsNoCase(*first, u"[INFORMATION]")) return LineKind::InformationTag;
  if (vr::text::EqualsNoCase(*first, u"[SYSTEM]")) return LineKind::SystemTag;
  // The load takes every line whose first token is "CONFIG" for the CRC line.
  if (vr::text::EqualsNoCase(*first, u"CONFIG") && line.GetTokenCount() >= 3 &&
      vr::text::EqualsNoCase(*line.GetToken(1), u"FILE") && vr::text::EqualsNoCase(*line.GetToken(2), u"CRC:"))
    return LineKind::Crc;
  return LineKind::Other;
}

VrConfigFile::LineKind VrConfigFile::Classify(const VrTextLine& line) const {
  if (versionLine_ && line.GetPosition() == *versionLine_) return LineKind::Version;
  if (updatesLine_ && line.GetPosition() == *updatesLine_) return LineKind::Updates;
  return ClassifyTokens(line);
}

bool VrConfigFile::IsEndOfBlock(const VrTextLine& line) {
  switch (ClassifyTokens(line)) {
    case LineKind::PrerequisitesSection:
    case LineKind::SystemSection:
    case LineKind::PrerequisitesTag:
    case LineKind::InformationTag:
    case LineKind::SystemTag:
    case LineKind::Crc:
      return true;
    default:
      return false;
  }
}
