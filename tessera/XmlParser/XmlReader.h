// CXmlReader: loads a registration file through the DOM, validating it against the document
// type definition it names, and hands out its records (XmlRecords.h). It also knows the
// management server's directories, which replace the directory placeholders of instrumentation
// file paths, and the user's language, which picks among localised texts.
//
//   CXmlReader reader(serverVersionText);    // "A.07.50": selects the filesets that apply
//   int rc = reader.Load(u"C:\\patch\\NewPlatform.xml");
//   // 0: loaded; 5 no DOM; 6 missing, unreadable, not well formed or not valid; 7 no root
//   // element; kLoadPropertyFailed, kLoadRootFailed: other failures.
//   // A content error (messages 900..904) or a placeholder that cannot be replaced (807..814,
//   // 903) throws CApp_error with exit code 51; a failing DOM call throws _com_error.
//   for (const CPlatform& p : reader.Platforms()) ...
//
// After a failed Load the reader holds no records. The language and the directory table are
// process-wide and filled by the first reader constructed.
//
// Folder tessera/XmlParser, library tessera_xml: tessera's registration-file reader; uses
// tessera_common and platform/xml, registry, qkit, com and text.
#pragma once
#include <memory>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/MessageIds.h"
#include "tessera/XmlParser/XmlRecords.h"

class IXMLDOMDocument2;
class IXMLDOMElement;
class IXMLDOMNode;

// The server directories that copyfile paths may begin with, in the order the placeholders are
// tried.
enum EServerDirectory {
  eDIR_PACKAGES = 0,        // "[PACKAGE_DIR]\"
  eDIR_INSTALL,             // "[VR_INSTALL_DIR]\"
  eDIR_DATA,                // "[VR_DATA_DIR]\"
  eDIR_AGENT,               // "[VR_AGENT_DIR]\"
  eDIR_SHARE,               // "[VR_SHARE_DIR]\"
  eDIR_SHARE_INSTALL,       // "[VR_VRMSSHAREINST_DIR]\"
  eDIR_COUNT
};

class CXmlReader {
 public:
  static constexpr int kLoadOk = 0;
  static constexpr int kLoadNoDom = 5;
  static constexpr int kLoadNotValid = 6;
  static constexpr int kLoadNoRoot = 7;
  static constexpr int kLoadPropertyFailed = 10;   // validate-on-parse or async could not be set
  static constexpr int kLoadRootFailed = 11;       // the document element could not be taken

  // serverVersion: the server version text (rewritten as the run knows it), compared with
  // the "VRMS" lists of the filesets. Determines the language and the directories once per
  // process.
  explicit CXmlReader(WString serverVersion);
  ~CXmlReader();
  CXmlReader(const CXmlReader&) = delete;
  CXmlReader& operator=(const CXmlReader&) = delete;

  int Load(const WString& path);

  const WString& SupportedVersions() const { return config_.supportedVersions; }
  const std::vector<CPlatformTypeMapping>& PlatformTypeMappings() const { return config_.platformTypeMappings; }
  const std::vector<CPlatform>& Platforms() const { return config_.platforms; }
  const std::vector<CPackage>& Packages() const { return config_.packages; }
  const std::vector<CReqCheckTag>& SystemTags() const { return config_.systemTags; }
  const std::vector<CReqCheckTag>& PrerequisiteTags() const { return config_.prerequisiteTags; }
  const WString& SystemsSectionVersion() const { return config_.systemsSectionVersion; }
  const WString& PrerequisitesSectionVersion() const { return config_.prerequisitesSectionVersion; }
  // The configuration version the prerequisite entries ask for: that of the prerequisites
  // section, or of the systems section when the former gives none.
  const WString& ReqCheckVersion() const;
  size_t PlatformCount() const { return config_.platforms.size(); }
  size_t PackageCount() const { return config_.packages.size(); }
  size_t SystemTagCount() const { return config_.systemTags.size(); }
  size_t PrerequisiteTagCount() const { return config_.prerequisiteTags.size(); }
  const CXmlConfiguration& Configuration() const { return config_; }
  // Why the last load gave kLoadNotValid, as the XML parser tells it, in one line (where the
  // parser stopped and its reason); empty after a successful load or when it gave no reason.
  const WString& LoadFailureReason() const { return loadFailureReason_; }

  // Where and why the XML parser refused the file of the last load in this process that
  // gave kLoadNotValid: the file it stopped in (the document, or the DTD it names), the line
  // (0 when it gave none) and its reason in one line. Any other load outcome empties it. The
  // entry of tessera prints it after the error that ends the run, which the registration
  // run raises from the load's result.
  struct Rejection {
    WString file;
    long line = 0;
    WString reason;
  };
  static const Rejection& LastRejection();
  static void ClearLastRejection();

  // The platform type string of the first mapping, in document order, whose system type is
  // the given one and whose OS type is the given one or left out, or whose system type is
  // left out and whose OS type is the given one. False when none matches.
  bool GetPlatformType(long systemType, long osType, WString& platformType) const;

  const WString& ServerVersion() const { return serverVersion_; }
  // "1033", "1041", "1042" or "2052".
  static const WString& Language();
  // A directory of the table, empty when unknown.
  static const WString& Directory(EServerDirectory which);

  // Reads the directory table from the registry again (the constructor does it once).
  static void ResolveDirectories();
  // Chooses the language from the user's locale again (the constructor does it once).
  static void DetermineLanguage();

  // The path with its leading directory placeholder replaced (case-insensitive); false with
  // the message (807..814 for a directory that is not known, 903 for a path that begins with
  // no placeholder) otherwise.
  static bool ReplaceDirectoryPlaceholder(const WString& path, WString& resolved, WString& message);

 private:
  // Fills the language and the directory table unless an earlier reader did.
  static void EnsureEnvironment();
  void Clear();
  // The walk over the document; every reader fills one record and throws on content errors.
  void ReadDocument(IXMLDOMElement& root, CXmlConfiguration& out);
  void ReadPlatformTypeMapping(IXMLDOMElement& e, CXmlConfiguration& out);
  void ReadPlatformList(IXMLDOMElement& e, CXmlConfiguration& out);
  void ReadPlatform(IXMLDOMElement& e, CPlatform& out);
  void ReadModelEntry(IXMLDOMElement& e, vr::msg::MessageId nonIntegerMessage, const char16_t* tag, CModelEntry& out,
                      COsVersionEntry* osVersion);
  void ReadInstrumentation(IXMLDOMElement& e, std::vector<CInstrumentationSubdir>& out);
  void ReadSubdir(IXMLDOMElement& e, CInstrumentationSubdir& out);
  void ReadFileset(IXMLDOMElement& e, std::vector<WString>& files);
  void ReadNodeGroup(IXMLDOMElement& e, CNodeGroup& out);
  void ReadPackageList(IXMLDOMElement& e, CXmlConfiguration& out);
  void ReadPackage(IXMLDOMElement& e, CPackage& out);
  void ReadPlatformAndPolicyTypes(IXMLDOMElement& e, CPlatformAndPolicyTypes& out);
  void ReadReqCheckList(IXMLDOMElement& e, CXmlConfiguration& out);
  void ReadReqCheckSection(IXMLDOMElement& e, WString& version, CXmlConfiguration& out);
  bool FilesetApplies(const WString& vrms) const;

  WString serverVersion_;
  std::shared_ptr<IXMLDOMDocument2> document_;
  CXmlConfiguration config_;
  WString loadFailureReason_;
};
