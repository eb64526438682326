// The undo file's envelope: the four header lines, the section markers and the check an
// unregistration makes before it touches anything. The lines inside each section belong to
// the section that wrote them.
#pragma once
#include <cstdint>

#include "platform/text/wstring.h"

class VrLogFile;

namespace vr::undo {

// Bits of the sections found (also the bits of the "-sections" mask).
constexpr int kSectionsGiven = 1;  // in a "-sections" mask: the option was given
constexpr int kSectionPackages = 2;
constexpr int kSectionPlatforms = 4;
constexpr int kSectionPrereq = 8;

constexpr const char16_t* kPlatformsBegin = u"[[[PLATFORMS]]]";
constexpr const char16_t* kPlatformsEnd = u"[[[PLATFORMS_END]]]";
constexpr const char16_t* kPackagesBegin = u"[[[PACKAGES]]]";
constexpr const char16_t* kPackagesEnd = u"[[[PACKAGES_END]]]";
constexpr const char16_t* kPrereqBegin = u"[[[PREREQUISITE_CHECK]]]";
constexpr const char16_t* kPrereqEnd = u"[[[PREREQUISITE_CHECK_END]]]";

constexpr const char16_t* kPatchKey = u"Patch=";
constexpr const char16_t* kCreatedOnKey = u"CreatedOn=";
constexpr const char16_t* kConfigFileKey = u"RegConfigFile=";
constexpr const char16_t* kVersionsKey = u"TesseraConfigVersion=";

struct UndoHeader {
  WString patch;
  WString createdOn;
  WString configFile;
  WString supportedVersions;
};

// The local time as the header writes it: "MM/DD/YYYY hh:mm:ss +hh:mm". biasMinutes is the
// zone's bias with the daylight or standard bias in effect added (minutes to add to local time
// to get UTC), so a zone east of UTC has a negative bias and a plus sign.
WString FormatCreationTime(uint16_t month, uint16_t day, uint16_t year, uint16_t hour,
                           uint16_t minute, uint16_t second, long biasMinutes);

// Appends the four header lines.
void AppendHeader(VrLogFile& file, const UndoHeader& header);

// Reads the undo file from its first line and checks its envelope. Returns 0 with the header
// fields and the union of the sections found, or 53 with message set (and the error traced).
int ValidateUndoFile(VrLogFile& file, UndoHeader& header, int& sections, WString& message);

}  // namespace vr::undo
