// What the reader knows of the computer it runs on: the user's language and the server's
// directories that copyfile placeholders stand for. Both are process-wide (tessera is
// single-threaded) and filled by the first reader constructed.
#include <array>
#include <vector>

#include "platform/qkit/qkit.h"
#include "platform/registry/product_keys.h"
#include "platform/registry/registry.h"
#include "platform/text/casefold.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlReader.h"

namespace {

constexpr const char16_t* kVorantKey = vr::keys::kVorantKey;
constexpr const char16_t* kDepotKey = vr::keys::kDepotKey;

struct Placeholder {
  const char16_t* text;
  EServerDirectory directory;
  vr::msg::MessageId unknownMessage;
};

// In the order a path is compared with them.
constexpr Placeholder kPlaceholders[] = {
    {u"[PACKAGE_DIR]\\", eDIR_PACKAGES, vr::msg::MessageId::kPackagesPathUnknown},
    {u"[VR_INSTALL_DIR]\\", eDIR_INSTALL, vr::msg::MessageId::kInstallPathUnknown},
    {u"[VR_DATA_DIR]\\", eDIR_DATA, vr::msg::MessageId::kDataDirPathUnknown},
    {u"[VR_AGENT_DIR]\\", eDIR_AGENT, vr::msg::MessageId::kAgentInstallPathUnknown},
    {u"[VR_SHARE_DIR]\\", eDIR_SHARE, vr::msg::MessageId::kShareDirPathUnknown},
    {u"[VR_VRMSSHAREINST_DIR]\\", eDIR_SHARE_INSTALL, vr::msg::MessageId::kShareInstallPathUnknown},
};

struct ProcessState {
  bool languageChosen = false;
  WString language = u"1033";
  bool directoriesResolved = false;
  std::array<WString, eDIR_COUNT> directories;
};

ProcessState& State() {
  static ProcessState state;
  return state;
}

bool EndsWithSeparator(const WString& s) { return !s.empty() && (s.back() == u'\\' || s.back() == u'/'); }

// A REG_SZ value of HKEY_LOCAL_MACHINE; a Win32 error code when it cannot be read.
LONG ReadRegistryString(const char16_t* key, const char16_t* value, WString& out) {
  VR_TRACE_FUNCTION("ReadRegistryString", "XmlParser\\XmlReader", 16);
  return vr::registry::ReadStringValue(key, value, out);
}

}  // namespace

void CXmlReader::DetermineLanguage() {
  VR_TRACE_FUNCTION("CXmlReader::DetermineLanguage", "XmlParser\\XmlReader", 16);
  ProcessState& s = State();
  switch (qkit_Nls_t::GetLocale().GetLanguageId()) {
    case 0x411: s.language = u"1041"; break;
    case 0x412: s.language = u"1042"; break;
    case 0x804: s.language = u"2052"; break;
    default: s.language = u"1033"; break;
  }
  s.languageChosen = true;
  VR_TRACE_INFO("Language of localised texts: ", s.language);
}

void CXmlReader::ResolveDirectories() {
  VR_TRACE_FUNCTION("CXmlReader::ResolveDirectories", "XmlParser\\XmlReader", 16);
  ProcessState& s = State();
  auto& d = s.directories;
  // A value that cannot be read is traced and leaves its directory empty, to be reported only
  // when a path needs it.
  auto ReadDirectory = [](const char16_t* key, const char16_t* value, WString& out) {
    if (LONG rc = ReadRegistryString(key, value, out); rc != ERROR_SUCCESS) {
      out.clear();
      VR_TRACE_FAILURE("ReadRegistryString(\"HKEY_LOCAL_MACHINE\\", key, "\", \"", value, "\")", rc);
    }
  };
  ReadDirectory(kVorantKey, u"InstallDir", d[eDIR_INSTALL]);
  ReadDirectory(kVorantKey, u"DataDir", d[eDIR_DATA]);
  ReadDirectory(kDepotKey, u"PackagesPath", d[eDIR_PACKAGES]);
  if (d[eDIR_PACKAGES].empty() && !d[eDIR_INSTALL].empty()) {
    d[eDIR_PACKAGES] = d[eDIR_INSTALL];
    if (!EndsWithSeparator(d[eDIR_PACKAGES])) d[eDIR_PACKAGES] += u'\\';
    d[eDIR_PACKAGES] += u"Packages\\";
  }
  ReadDirectory(kVorantKey, u"InstallDir", d[eDIR_AGENT]);
  ReadDirectory(kVorantKey, u"VrMsShareInstallDir", d[eDIR_SHARE_INSTALL]);
  ReadDirectory(kVorantKey, u"ShareDir", d[eDIR_SHARE]);
  s.directoriesResolved = true;
}

const WString& CXmlReader::Language() {
  if (!State().languageChosen) DetermineLanguage();
  return State().language;
}

const WString& CXmlReader::Directory(EServerDirectory which) {
  static const WString none;
  if (which < 0 || which >= eDIR_COUNT) return none;
  if (!State().directoriesResolved) ResolveDirectories();
  return State().directories[which];
}

bool CXmlReader::ReplaceDirectoryPlaceholder(const WString& path, WString& resolved, WString& message) {
  VR_TRACE_FUNCTION("CXmlReader::ReplaceDirectoryPlaceholder", "XmlParser\\XmlReader", 16);
  for (const Placeholder& p : kPlaceholders) {
    const WStringView text(p.text);
    if (path.size() < text.size() || !vr::text::EqualsNoCase(WStringView(path).substr(0, text.size()), text))
      continue;
    const WString& dir = Directory(p.directory);
    if (dir.empty()) {
      message = vr::msg::LoadMessage(p.unknownMessage);
      VR_TRACE_ERROR("Directory of placeholder ", text, " is not known; path \"", path, "\".");
      return false;
    }
    // The registry texts end in a separator; one is added when a value lacks it.
    resolved = dir;
    if (!EndsWithSeparator(resolved)) resolved += u'\\';
    resolved.append(path, text.size(), WString::npos);
    return true;
  }
  message = vr::msg::LoadMessage(vr::msg::MessageId::kDirectoryPlaceholderFailed, path);
  VR_TRACE_ERROR("No directory placeholder at the beginning of \"", path, "\".");
  return false;
}

void CXmlReader::EnsureEnvironment() {
  if (!State().languageChosen) CXmlReader::DetermineLanguage();
  if (!State().directoriesResolved) CXmlReader::ResolveDirectories();
}
