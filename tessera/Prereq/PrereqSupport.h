// Names and markers shared by the registration and the rollback of the prerequisite section.
#pragma once
#include "platform/os/path.h"
#include "platform/text/casefold.h"
#include "platform/registry/product_keys.h"
#include "platform/text/wstring.h"
#include "tessera/Files/VrTextLine.h"

namespace vr::prereq {

inline constexpr const char16_t* kVorantKey = vr::keys::kVorantKey;
inline constexpr const char16_t* kShareInstallValue = u"VrMsShareInstallDir";
inline constexpr const char16_t* kDepotKey = vr::keys::kDepotKey;
inline constexpr const char16_t* kPackagesValue = u"PackagesPath";
inline constexpr const char16_t* kPrereqFolder = u"conf\\PrereqCheck";
inline constexpr const char16_t* kPrereqFileName = u"vroreqcheck.cfg";

inline constexpr const char16_t* kPrerequisitesTag = u"[PREREQUISITES]";
inline constexpr const char16_t* kSystemTag = u"[SYSTEM]";
inline constexpr const char16_t* kPrerequisitesAdd = u"[[PREREQUISITES_ADD]]";
inline constexpr const char16_t* kSystemAdd = u"[[SYSTEM_ADD]]";
// The kinds of the ledger's entries of the section.
inline constexpr const char* kLedgerPrerequisiteKind = "prerequisite";
inline constexpr const char* kLedgerSystemKind = "system";
inline constexpr const char16_t* kPrerequisitesReplace = u"[[PREREQUISITES_REPLACE]]";
inline constexpr const char16_t* kSystemReplace = u"[[SYSTEM_REPLACE]]";
inline constexpr const char16_t* kBeginOld = u"====BEGINSECTION_OLD====";
inline constexpr const char16_t* kBeginNew = u"====BEGINSECTION_NEW====";
inline constexpr const char16_t* kEndNew = u"====ENDSECTION_NEW====";
inline constexpr const char16_t* kBeginSection = u"====BEGINSECTION====";
inline constexpr const char16_t* kEndSection = u"====ENDSECTION====";

// Standalone servers (0) and the active node of a cluster (1) own the file; a passive node
// leaves it alone.
inline bool MayChangePrereqFile(int clusterNodeState) { return clusterNodeState == 0 || clusterNodeState == 1; }

// The file of a version folder; "1.0.0" is the configuration folder itself.
inline WString PrereqFilePath(const WString& folder, const WString& version) {
  if (version == u"1.0.0") return folder + u"\\" + kPrereqFileName;
  return folder + u"\\" + version + u"\\" + kPrereqFileName;
}

// Tag names match without regard to case, in the file, in the registration file and in the
// undo records alike, so that a name differing only in case never gives a second block.
struct NoCaseLess {
  bool operator()(const WString& a, const WString& b) const { return vr::text::CompareNoCase(a, b) < 0; }
};

// The name a tag line or an undo record line gives: everything behind its first token, blanks
// inside kept, blanks at the end dropped. The registration and the unregistration take a name
// the same way, so a name with blanks is found again.
inline WString TagNameOf(const VrTextLine& line) {
  WString name = line.GetRestOfLine(1).value_or(WString());
  while (!name.empty() && VrIsWhiteSpace(name.back())) name.pop_back();
  return name;
}

// A name as the registration file gives it, blanks around it dropped.
inline WString TrimmedName(WStringView name) {
  size_t a = 0, b = name.size();
  while (a < b && VrIsWhiteSpace(name[a])) ++a;
  while (b > a && VrIsWhiteSpace(name[b - 1])) --b;
  return WString(name.substr(a, b - a));
}

}  // namespace vr::prereq

class VrConfigFile;

namespace vr::prereq {
// The tag block starting at line (see the registration for the rules).
WString ReadBlock(VrConfigFile& file, VrTextLine& line);
// A registration file's tag text in the file's form (LF line ends, outer blank lines dropped).
WString TagText(const WString& text);
WString TrailingBlankLines(const WString& block);

// Checks that a registration tag's text is one block of its own name and kind: its first line
// is the tag line ("[SYSTEM]" or "[PREREQUISITES]", as system says) naming name, and no later
// line is a tag line, a section line or the CRC line, any of which would end the block when the
// file is read again. False with reason (one line) when it is not.
bool CheckTagText(const WString& name, const WString& text, bool system, WString& reason);
}  // namespace vr::prereq
