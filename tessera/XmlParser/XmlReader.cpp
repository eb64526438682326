#include "tessera/XmlParser/XmlReader.h"

#include "platform/com/runtime.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "platform/xml/dom.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlValues.h"

CXmlReader::CXmlReader(WString serverVersion) : serverVersion_(std::move(serverVersion)) {
  VR_TRACE_FUNCTION("CXmlReader::CXmlReader", "XmlParser\\XmlReader", 16);
  EnsureEnvironment();
}

CXmlReader::~CXmlReader() {
  VR_TRACE_FUNCTION("CXmlReader::~CXmlReader", "XmlParser\\XmlReader", 16);
  Clear();
}

void CXmlReader::Clear() {
  document_.reset();
  config_ = CXmlConfiguration();
  loadFailureReason_.clear();
}

namespace {

// Line ends and other control characters of the parser's reason become blanks, so that it
// stays one line; blanks at its ends go.
WString OneLine(const WString& reason) {
  WString text;
  for (WChar c : reason) text += (c < 0x20 || c == 0x7F) ? u' ' : c;
  const size_t first = text.find_first_not_of(u' ');
  if (first == WString::npos) return WString();
  return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

// The parser's reason as one line for the run log, with the place where the parser stopped
// in front.
WString OneLineReason(const WString& reason, const WString& url, long line) {
  WString text = u"XML parser: ";
  if (!url.empty()) text += u"'" + url + u"'";
  if (line > 0) text += vr::text::Format(u"%S line %ld", url.empty() ? u"" : u",", line);
  if (!url.empty() || line > 0) text += u": ";
  for (WChar c : reason) text += (c < 0x20 || c == 0x7F) ? u' ' : c;
  return text;
}

CXmlReader::Rejection& Rejected() {
  static CXmlReader::Rejection rejection;
  return rejection;
}

}  // namespace

const CXmlReader::Rejection& CXmlReader::LastRejection() { return Rejected(); }

void CXmlReader::ClearLastRejection() { Rejected() = Rejection(); }

int CXmlReader::Load(const WString& path) {
  VR_TRACE_FUNCTION("CXmlReader::Load", "XmlParser\\XmlReader", 16);
  Clear();
  ClearLastRejection();
  VR_TRACE_INFO("Loading XML configuration file \"", path, "\".");

  std::shared_ptr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, &unknown);
  auto document = std::dynamic_pointer_cast<IXMLDOMDocument2>(unknown);
  if (FAILED(hr) || !document) {
    VR_TRACE_FAILURE("CoCreateInstance(DOMDocument)", FAILED(hr) ? hr : E_NOINTERFACE);
    return kLoadNoDom;
  }
  if (hr = document->put_validateOnParse(VARIANT_TRUE); FAILED(hr)) {
    VR_TRACE_FAILURE("IXMLDOMDocument2::put_validateOnParse", hr);
    return kLoadPropertyFailed;
  }
  if (hr = document->put_async(VARIANT_FALSE); FAILED(hr)) {
    VR_TRACE_FAILURE("IXMLDOMDocument2::put_async", hr);
    return kLoadPropertyFailed;
  }

  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = document->load(path, &loaded);
  if (FAILED(hr) || loaded != VARIANT_TRUE) {
    std::shared_ptr<IXMLDOMParseError> error;
    WString reason, url;
    long line = 0;
    if (SUCCEEDED(document->get_parseError(&error)) && error) {
      error->get_reason(&reason);
      error->get_url(&url);
      error->get_line(&line);
    }
    if (!reason.empty()) loadFailureReason_ = OneLineReason(reason, url, line);
    if (!reason.empty()) Rejected() = Rejection{url.empty() ? path : url, line, OneLine(reason)};
    VR_TRACE_ERROR("-> subHR failure from IXMLDOMDocument2::load(\"", path, "\") = ", vr::trace::Hr(hr),
                   ": line ", line, ": ", reason);
    return kLoadNotValid;
  }

  std::shared_ptr<IXMLDOMElement> root;
  hr = document->get_documentElement(&root);
  if (FAILED(hr)) {
    VR_TRACE_FAILURE("IXMLDOMDocument2::get_documentElement", hr);
    return kLoadRootFailed;
  }
  if (!root) {
    VR_TRACE_ERROR("The document has no root element.");
    return kLoadNoRoot;
  }

  // Records are built aside and taken over only when the whole walk succeeds, so that a
  // failed load leaves none behind.
  CXmlConfiguration config;
  ReadDocument(*root, config);
  config_ = std::move(config);
  document_ = std::move(document);
  VR_TRACE_INFO("Loaded: ", static_cast<unsigned long>(config_.platforms.size()), " platforms, ",
                static_cast<unsigned long>(config_.packages.size()), " packages, ",
                static_cast<unsigned long>(config_.systemTags.size()), " system tags, ",
                static_cast<unsigned long>(config_.prerequisiteTags.size()), " prerequisite tags.");
  return kLoadOk;
}

const WString& CXmlReader::ReqCheckVersion() const {
  return config_.prerequisitesSectionVersion.empty() ? config_.systemsSectionVersion
                                                     : config_.prerequisitesSectionVersion;
}

bool CXmlReader::GetPlatformType(long systemType, long osType, WString& platformType) const {
  VR_TRACE_FUNCTION("CXmlReader::GetPlatformType", "XmlParser\\XmlReader", 16);
  for (const CPlatformTypeMapping& m : config_.platformTypeMappings) {
    int32_t sys, os;
    if (!XmlValues::ScanLong(m.systemTypeText, sys) || !XmlValues::ScanLong(m.osTypeText, os)) {
      VR_TRACE_INFO("OsTypeForReg \"", m.platformType, "\" skipped: its numbers do not parse.");
      continue;
    }
    const bool systemMatches = sys == systemType && (os == osType || os == kNoPlatformNumber);
    const bool osOnlyMatches = sys == kNoPlatformNumber && os == osType;
    if (systemMatches || osOnlyMatches) {
      platformType = m.platformType;
      return true;
    }
  }
  return false;
}

bool CXmlReader::FilesetApplies(const WString& vrms) const {
  return XmlValues::VersionListHas(vrms, u"ALL") || XmlValues::VersionListHas(vrms, serverVersion_);
}
