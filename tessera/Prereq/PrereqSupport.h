// Names and markers shared by the registration and the rollback of the prerequisite section.
#pragma once
#include "platform/os/path.h"
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

// The "CONFIG FILE CRC:" line.
inline bool IsCrcLine(const VrTextLine& line) {
  return line.GetTokenCount() >= 3 && *line.GetToken(0) == u"CONFIG" && *line.GetToken(1) == u"FILE" &&
         *line.GetToken(2) == u"CRC:";
}

}  // namespace vr::prereq

class VrConfigFile;

namespace vr::prereq {
// The tag block starting at line (see the registration for the rules).
WString ReadBlock(VrConfigFile& file, VrTextLine& line, bool system);
// A registration file's tag text in the file's form (LF line ends, outer blank lines dropped).
WString TagText(const WString& text);
WString TrailingBlankLines(const WString& block);
}  // namespace vr::prereq
