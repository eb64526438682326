// The records of a registration file as CXmlReader builds them. Texts are wide strings with
// leading and trailing white space removed; every list keeps document order.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/text/wstring.h"

// Numbers the file leaves out ("ostype" or "systemtype" of an OsTypeForReg).
constexpr int32_t kNoPlatformNumber = -1000;
// Package type identifier of a package without "type".
inline constexpr const char16_t* kDefaultPackageType = u"657AF3A3-BCFD-11D2-8608-080009D961F6";
// The text of a localised element that has no text for the language nor for English.
inline constexpr const char16_t* kNoTextFound = u"***NOTEXTFOUND***";

// OsTypeForReg: a pair of platform numbers and the platform type string of the package
// bookkeeping. The numbers are kept as the file writes them ("-1000" when left out) and read
// by the platform-type lookup, which skips an entry whose texts are not numbers.
struct CPlatformTypeMapping {
  WString platformType;                // attribute "string"
  WString osTypeText = u"-1000";       // "ostype"
  WString systemTypeText = u"-1000";   // "systemtype"
};

// One instrumentation subfolder of an OS version: the files of the filesets that apply to
// this server's version, their directory placeholders already replaced.
struct CInstrumentationSubdir {
  WString name;
  std::vector<WString> files;
};

// A value of the platform model: the system type, the OS type or an OS version.
struct CModelEntry {
  int32_t value = 0;
  WString caption;
  // Set when the caption is in the user's language (always for English); clear when the
  // English fallback or kNoTextFound was taken.
  bool captionInSystemLanguage = false;
  std::vector<WString> snmp;
  std::vector<WString> netapi;
  std::vector<WString> agent;
};

struct COsVersionEntry : CModelEntry {
  std::vector<CInstrumentationSubdir> instrumentation;
};

struct CNodeGroup {
  WString name;
  WString caption;
  WString parent;   // empty for a top-level group
};

struct CPlatform {
  CModelEntry systemType;
  CModelEntry osType;
  std::vector<COsVersionEntry> osVersions;
  std::vector<CNodeGroup> nodeGroups;
};

// One platform of a package with the policy types that go with it.
struct CPlatformAndPolicyTypes {
  int32_t systemType = 0;
  int32_t osType = 0;
  std::vector<WString> policyTypes;
};

struct CPackage {
  WString type = kDefaultPackageType;
  WString name;                 // "pkgname", localised
  WString version;
  WString logicalId;
  bool uninstallable = false;   // "unregister": yes / no; no when left out
  WString description;          // localised
  WString deployerId;
  std::vector<CPlatformAndPolicyTypes> platforms;
};

// A system tag or a prerequisites tag: its name and the text block it stands for.
struct CReqCheckTag {
  WString name;
  WString text;
};

// Everything one registration file holds.
struct CXmlConfiguration {
  WString supportedVersions;    // attribute "version" of the root: versions separated by '|'
  std::vector<CPlatformTypeMapping> platformTypeMappings;
  std::vector<CPlatform> platforms;
  std::vector<CPackage> packages;
  std::vector<CReqCheckTag> systemTags;
  std::vector<CReqCheckTag> prerequisiteTags;
  // The "version" attributes of the Systems_Section and Prerequisites_Section elements (the
  // last of each when the file has several); empty when left out.
  WString systemsSectionVersion;
  WString prerequisitesSectionVersion;
  bool hasSystemsSection = false;
  bool hasPrerequisitesSection = false;
};
