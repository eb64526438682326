// The walk over a loaded registration file: each element's children are matched by name
// without regard to case, unknown ones are skipped, and the records are filled in document
// order. Content errors throw CApp_error with exit code 51.
#include "platform/text/casefold.h"
#include "tessera/AppErrors.h"
#include "tessera/ExitCodes.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlReader.h"
#include "tessera/XmlParser/XmlValues.h"

using XmlValues::AttributeText;
using XmlValues::ForEachChildElement;
using XmlValues::NodeText;
using XmlValues::NodeXml;
using vr::msg::MessageId;

namespace {

bool Is(const WString& name, const char16_t* expected) { return vr::text::EqualsNoCase(name, expected); }

[[noreturn]] void ContentError(MessageId message, const char16_t* tag, IXMLDOMNode& offending) {
  VR_TRACE_FUNCTION("CXmlReader::ContentError", "XmlParser\\XmlReader", 16);
  const WString text = vr::msg::LoadMessage(message, tag, NodeXml(offending));
  VR_TRACE_ERROR(text);
  throw CApp_error(text, vr::front::kExitConfiguration);
}

// The element's text as a number; a text that is not one ends the load with the message.
int32_t NumberOf(IXMLDOMElement& element, MessageId message, const char16_t* tag) {
  int32_t value = 0;
  if (!XmlValues::ParseWholeInt32(NodeText(element), value)) ContentError(message, tag, element);
  return value;
}

}  // namespace

void CXmlReader::ReadDocument(IXMLDOMElement& root, CXmlConfiguration& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadDocument", "XmlParser\\XmlReader", 16);
  // The text becomes the undo file's one-line "TesseraConfigVersion=" field: a line break
  // written as a character reference would end that line, so control characters are blanks.
  out.supportedVersions = AttributeText(root, u"version");
  for (WChar& c : out.supportedVersions)
    if (c < 0x20 || c == 0x7F) c = u' ';
  VR_TRACE_INFO("Supported versions: \"", out.supportedVersions, "\".");
  ForEachChildElement(root, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"OsTypeForReg")) ReadPlatformTypeMapping(child, out);
    else if (Is(name, u"PlatformList")) ReadPlatformList(child, out);
    else if (Is(name, u"PackageList")) ReadPackageList(child, out);
    else if (Is(name, u"VrReqCheckList")) ReadReqCheckList(child, out);
    else VR_TRACE_INFO("Element <", name, "> skipped.");
  });
}

void CXmlReader::ReadPlatformTypeMapping(IXMLDOMElement& e, CXmlConfiguration& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadPlatformTypeMapping", "XmlParser\\XmlReader", 16);
  CPlatformTypeMapping m;
  m.platformType = AttributeText(e, u"string");
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"ostype")) m.osTypeText = NodeText(child);
    else if (Is(name, u"systemtype")) m.systemTypeText = NodeText(child);
  });
  out.platformTypeMappings.push_back(std::move(m));
}

void CXmlReader::ReadPlatformList(IXMLDOMElement& e, CXmlConfiguration& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadPlatformList", "XmlParser\\XmlReader", 16);
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (!Is(name, u"Platform")) return;
    out.platforms.emplace_back();
    ReadPlatform(child, out.platforms.back());
  });
}

void CXmlReader::ReadPlatform(IXMLDOMElement& e, CPlatform& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadPlatform", "XmlParser\\XmlReader", 16);
  bool haveSystemType = false, haveOsType = false;
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"SystemType")) {
      out.systemType = CModelEntry();
      ReadModelEntry(child, MessageId::kXmlSystemTypeNotInteger, u"<Platform>", out.systemType, nullptr);
      haveSystemType = true;
    } else if (Is(name, u"OSType")) {
      out.osType = CModelEntry();
      ReadModelEntry(child, MessageId::kXmlOsTypeNotInteger, u"<Platform>", out.osType, nullptr);
      haveOsType = true;
    } else if (Is(name, u"OSVersions")) {
      ForEachChildElement(child, [&](IXMLDOMElement& v, const WString& vName) {
        if (!Is(vName, u"OSVersion")) return;
        out.osVersions.emplace_back();
        ReadModelEntry(v, MessageId::kXmlOsVersionNotInteger, u"<OSVersion>", out.osVersions.back(), &out.osVersions.back());
      });
    } else if (Is(name, u"NodeGroups")) {
      ForEachChildElement(child, [&](IXMLDOMElement& g, const WString& gName) {
        if (!Is(gName, u"NodeGroup")) return;
        out.nodeGroups.emplace_back();
        ReadNodeGroup(g, out.nodeGroups.back());
      });
    }
  });
  // A platform is registered by its two numbers; without them there is nothing to register.
  if (!haveSystemType) ContentError(MessageId::kXmlSystemTypeNotInteger, u"<Platform>", e);
  if (!haveOsType) ContentError(MessageId::kXmlOsTypeNotInteger, u"<Platform>", e);
}

void CXmlReader::ReadModelEntry(IXMLDOMElement& e, MessageId nonIntegerMessage, const char16_t* tag,
                                CModelEntry& out, COsVersionEntry* osVersion) {
  VR_TRACE_FUNCTION("CXmlReader::ReadModelEntry", "XmlParser\\XmlReader", 16);
  bool haveValue = false, haveCaption = false;
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"value")) {
      out.value = NumberOf(child, nonIntegerMessage, tag);
      haveValue = true;
    } else if (Is(name, u"caption")) {
      out.captionInSystemLanguage = XmlValues::LocalisedText(child, Language(), out.caption);
      haveCaption = true;
    } else if (Is(name, u"snmp")) {
      out.snmp.push_back(NodeText(child));
    } else if (Is(name, u"netapi")) {
      out.netapi.push_back(NodeText(child));
    } else if (Is(name, u"agent")) {
      out.agent.push_back(NodeText(child));
    } else if (osVersion && Is(name, u"Instrumentation")) {
      ReadInstrumentation(child, osVersion->instrumentation);
    }
  });
  if (!haveValue) ContentError(nonIntegerMessage, tag, e);
  if (!haveCaption) {
    // As a caption without any text.
    out.caption = kNoTextFound;
    out.captionInSystemLanguage = Language() == u"1033";
  }
  VR_TRACE_INFO("Model entry ", static_cast<long>(out.value), " \"", out.caption, "\".");
}

void CXmlReader::ReadInstrumentation(IXMLDOMElement& e, std::vector<CInstrumentationSubdir>& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadInstrumentation", "XmlParser\\XmlReader", 16);
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (!Is(name, u"subdir")) return;
    out.emplace_back();
    ReadSubdir(child, out.back());
  });
}

void CXmlReader::ReadSubdir(IXMLDOMElement& e, CInstrumentationSubdir& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadSubdir", "XmlParser\\XmlReader", 16);
  out.name = AttributeText(e, u"name");
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"fileset")) ReadFileset(child, out.files);
  });
}

void CXmlReader::ReadFileset(IXMLDOMElement& e, std::vector<WString>& files) {
  VR_TRACE_FUNCTION("CXmlReader::ReadFileset", "XmlParser\\XmlReader", 16);
  const WString vrms = AttributeText(e, u"VRMS");
  if (!FilesetApplies(vrms)) {
    VR_TRACE_INFO("Fileset \"", AttributeText(e, u"name"), "\" for \"", vrms, "\" does not apply to server version \"",
                  serverVersion_, "\".");
    return;
  }
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (!Is(name, u"copyfile")) return;
    WString resolved, message;
    if (!ReplaceDirectoryPlaceholder(NodeText(child), resolved, message)) throw CApp_error(message, vr::front::kExitConfiguration);
    files.push_back(std::move(resolved));
  });
}

void CXmlReader::ReadNodeGroup(IXMLDOMElement& e, CNodeGroup& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadNodeGroup", "XmlParser\\XmlReader", 16);
  bool haveCaption = false;
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"name")) out.name = NodeText(child);
    else if (Is(name, u"parent")) out.parent = NodeText(child);
    else if (Is(name, u"caption")) {
      XmlValues::LocalisedText(child, Language(), out.caption);
      haveCaption = true;
    }
  });
  if (!haveCaption) out.caption = kNoTextFound;
}

void CXmlReader::ReadPackageList(IXMLDOMElement& e, CXmlConfiguration& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadPackageList", "XmlParser\\XmlReader", 16);
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (!Is(name, u"Package")) return;
    out.packages.emplace_back();
    ReadPackage(child, out.packages.back());
  });
}

void CXmlReader::ReadPackage(IXMLDOMElement& e, CPackage& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadPackage", "XmlParser\\XmlReader", 16);
  bool haveName = false, haveDescription = false;
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"type")) out.type = NodeText(child);
    else if (Is(name, u"pkgname")) {
      XmlValues::LocalisedText(child, Language(), out.name);
      haveName = true;
    } else if (Is(name, u"version")) out.version = NodeText(child);
    else if (Is(name, u"logicalid")) out.logicalId = NodeText(child);
    else if (Is(name, u"unregister")) {
      const WString flag = NodeText(child);
      if (vr::text::EqualsNoCase(flag, u"yes")) out.uninstallable = true;
      else if (vr::text::EqualsNoCase(flag, u"no")) out.uninstallable = false;
      else ContentError(MessageId::kXmlRemovableNotYesNo, u"<Package>", child);
    } else if (Is(name, u"description")) {
      XmlValues::LocalisedText(child, Language(), out.description);
      haveDescription = true;
    } else if (Is(name, u"deployerid")) out.deployerId = NodeText(child);
    else if (Is(name, u"PlatformAndPolicyTypes")) {
      out.platforms.emplace_back();
      ReadPlatformAndPolicyTypes(child, out.platforms.back());
    }
  });
  if (!haveName) out.name = kNoTextFound;
  if (!haveDescription) out.description = kNoTextFound;
  VR_TRACE_INFO("Package \"", out.name, "\" version \"", out.version, "\".");
}

void CXmlReader::ReadPlatformAndPolicyTypes(IXMLDOMElement& e, CPlatformAndPolicyTypes& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadPlatformAndPolicyTypes", "XmlParser\\XmlReader", 16);
  bool haveSystemType = false, haveOsType = false;
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"systemtype")) {
      out.systemType = NumberOf(child, MessageId::kXmlSystemTypeNotInteger, u"<PlatformAndPolicyTypes>");
      haveSystemType = true;
    } else if (Is(name, u"ostype")) {
      out.osType = NumberOf(child, MessageId::kXmlOsTypeNotInteger, u"<PlatformAndPolicyTypes>");
      haveOsType = true;
    } else if (Is(name, u"PolicyTypes")) {
      ForEachChildElement(child, [&](IXMLDOMElement& p, const WString& pName) {
        if (Is(pName, u"policytype")) out.policyTypes.push_back(NodeText(p));
      });
    }
  });
  if (!haveSystemType) ContentError(MessageId::kXmlSystemTypeNotInteger, u"<PlatformAndPolicyTypes>", e);
  if (!haveOsType) ContentError(MessageId::kXmlOsTypeNotInteger, u"<PlatformAndPolicyTypes>", e);
}

void CXmlReader::ReadReqCheckList(IXMLDOMElement& e, CXmlConfiguration& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadReqCheckList", "XmlParser\\XmlReader", 16);
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    if (Is(name, u"Systems_Section")) {
      out.hasSystemsSection = true;
      ReadReqCheckSection(child, out.systemsSectionVersion, out);
    } else if (Is(name, u"Prerequisites_Section")) {
      out.hasPrerequisitesSection = true;
      ReadReqCheckSection(child, out.prerequisitesSectionVersion, out);
    }
  });
}

void CXmlReader::ReadReqCheckSection(IXMLDOMElement& e, WString& version, CXmlConfiguration& out) {
  VR_TRACE_FUNCTION("CXmlReader::ReadReqCheckSection", "XmlParser\\XmlReader", 16);
  version = AttributeText(e, u"version");
  ForEachChildElement(e, [&](IXMLDOMElement& child, const WString& name) {
    std::vector<CReqCheckTag>* list = Is(name, u"system")          ? &out.systemTags
                                      : Is(name, u"prerequisites") ? &out.prerequisiteTags
                                                                   : nullptr;
    if (!list) return;
    list->push_back(CReqCheckTag{AttributeText(child, u"name"), NodeText(child)});
  });
}
