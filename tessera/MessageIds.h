// Names for the identifiers of tessera's message catalogue (tessera/Messages.cpp). Call sites
// say which message they mean by name; the numbers stay as they are, because they are part of
// the texts users see and of the tests. One list below makes both the enumeration and the
// table of all identifiers, so a test can check it against the catalogue.
#pragma once

namespace vr::msg {

// X(name, number) for every catalogue entry, in catalogue order.
#define VR_TESSERA_MESSAGE_IDS(X) \
  /* Front end: XML load */ \
  X(kXmlDomUnavailable, 5) \
  X(kXmlOpenFailed, 6) \
  X(kXmlRootMissing, 7) \
  X(kXmlParseFailed, 8) \
  X(kXmlFileUnreadable, 9) \
  /* Front end: COM errors and run summaries */ \
  X(kComInitFailed, 100) \
  X(kComErrorInMethod, 101) \
  X(kComErrorCode, 102) \
  X(kComErrorMeaning, 103) \
  X(kComErrorSource, 104) \
  X(kComErrorDescription, 105) \
  X(kRegFailedRollbackSucceeded, 150) \
  X(kRegFailedRollbackErrors, 151) \
  X(kRegSucceeded, 152) \
  X(kUnregSucceeded, 153) \
  X(kRegWarnings, 154) \
  X(kUnregWarnings, 155) \
  X(kPatchNotUnregistered, 156) \
  X(kRegInitFailed, 157) \
  X(kUnregInitFailed, 158) \
  X(kUnregPatchInitFailed, 159) \
  X(kUnregErrors, 160) \
  X(kRegErrorRollingBack, 161) \
  /* Log files, undo file, cluster tool */ \
  X(kConfigFileOpenFailed, 200) \
  X(kLogFileCreateFailed, 201) \
  X(kPackageTempLogNameFailed, 202) \
  X(kPlatformTempLogNameFailed, 203) \
  X(kPrereqTempLogNameFailed, 204) \
  X(kConfigFileSaveFailed, 205) \
  X(kUndoFileSaveFailed, 206) \
  X(kUndoFileUnreadable, 207) \
  X(kPrereqCopyFailed, 208) \
  X(kPrereqCopiesUnchanged, 209) \
  X(kPrereqVersionInvalid, 210) \
  /* Prerequisite tag texts of the registration file */ \
  X(kPrereqTagNotOneBlock, 211) \
  X(kXmlParserStoppedAtLine, 212) \
  X(kXmlParserStopped, 213) \
  X(kCommandLineFailed, 250) \
  X(kClusterGroupNameEmpty, 251) \
  X(kClusterOpenFailed, 252) \
  X(kClusterGroupOpenFailed, 253) \
  X(kClusterGroupStateFailed, 254) \
  /* Run lock and run journal: one run at a time, recovery of a killed run */ \
  X(kRunLockBusy, 260) \
  X(kRunLockFailed, 261) \
  X(kInterruptedRunRolledBack, 262) \
  X(kInterruptedRunRollbackFailed, 263) \
  X(kInterruptedRunCompleted, 264) \
  X(kInterruptedUnregistration, 265) \
  X(kRunJournalWriteFailed, 266) \
  X(kAlreadyUnregistered, 267) \
  X(kRunJournalRecordUnreadable, 268) \
  X(kLedgerReadFailed, 269) \
  /* The host, the cluster tool's time limit, the undo file's encoding */ \
  X(kNoHost, 270) \
  X(kCommandLineTimedOut, 271) \
  X(kUndoFileIsUtf8, 272) \
  X(kLedgerWriteFailed, 273) \
  /* Plan runs (-whatif) */ \
  X(kPlanNothingChanged, 274) \
  X(kPlanRunWouldStop, 275) \
  X(kPlanLinesTakenBack, 276) \
  X(kPlanInterruptedRunFirst, 277) \
  /* Undo file syntax */ \
  X(kUndoUnexpectedLine, 300) \
  X(kUndoLineBadStart, 301) \
  X(kUndoPackagesUnterminated, 302) \
  X(kUndoPackagesUnexpectedLine, 303) \
  X(kUndoPlatformsUnterminated, 304) \
  X(kUndoPlatformsUnexpectedLine, 305) \
  X(kUndoPrereqUnterminated, 306) \
  X(kUndoPrereqUnexpectedLine, 307) \
  X(kUndoPrereqExpected, 308) \
  /* Unspecified errors */ \
  X(kUnspecifiedError, 420) \
  /* Undo file folder */ \
  X(kShareNameUndetermined, 500) \
  X(kDriveNameUndetermined, 501) \
  X(kDirectoryInaccessible, 502) \
  X(kDirectoryCreateFailed, 503) \
  X(kNewDirectoryInaccessible, 504) \
  /* Environment, command-line values, directories */ \
  X(kDataDirUndetermined, 800) \
  X(kParameterNotFilePath, 801) \
  X(kTimeZoneUnavailable, 802) \
  X(kShareInstallDirUndetermined, 803) \
  X(kParameterRepeatedSubstring, 804) \
  X(kParameterInvalidSubstring, 805) \
  X(kParameterNotFullOrLocal, 806) \
  X(kInstallPathUnknown, 807) \
  X(kPackagesPathUnknown, 808) \
  X(kAgentInstallPathUnknown, 809) \
  X(kVersionUndetermined, 810) \
  X(kVersionUnsupported, 811) \
  X(kDataDirPathUnknown, 812) \
  X(kShareDirPathUnknown, 813) \
  X(kShareInstallPathUnknown, 814) \
  X(kOptionNeedsCluster, 816) \
  /* XML content */ \
  X(kXmlOsTypeNotInteger, 900) \
  X(kXmlSystemTypeNotInteger, 901) \
  X(kXmlOsVersionNotInteger, 902) \
  X(kDirectoryPlaceholderFailed, 903) \
  X(kXmlRemovableNotYesNo, 904) \
  /* Package section: Depot, undo lines, registry bookkeeping */ \
  X(kDepotAddPackageFailed, 1000) \
  X(kPolicyTypeNotFound, 1001) \
  X(kDepotAddPlatformFailed, 1002) \
  X(kDepotConnectFailed, 1003) \
  X(kDepotGetPackageFailed, 1004) \
  X(kDepotGetPackageIdFailed, 1005) \
  X(kUndoFileWriteFailed, 1006) \
  X(kDepotReadFailed, 1007) \
  X(kPlatformTypeUnmapped, 1008) \
  X(kRegistryKeyCreateFailed, 1009) \
  X(kDepotDatabaseConnectFailed, 1010) \
  X(kPackageStillDeployed, 1011) \
  X(kDepotRemovePackageFailed, 1013) \
  X(kDepotRemoveDependencyFailed, 1014) \
  X(kRegistryKeyRemoveFailed, 1015) \
  X(kRegistryValueReadFailed, 1016) \
  X(kRegistryPackageInfoUnparsed, 1017) \
  X(kDepotLogicalIdUpdateFailed, 1019) \
  X(kUndoLineTokenCount, 1020) \
  X(kPatchNotRegistered, 1021) \
  /* Platform section: WMI connection */ \
  X(kWmiConnectFailed, 1022) \
  /* Package section (continued) */ \
  X(kPackageDeployedUnknown, 1023) \
  X(kPackageFieldTooLong, 1024) \
  X(kDepotCommitFailed, 1025) \
  X(kPackageRecordUnreadable, 1026) \
  /* Platform match records and node groups: writing instances */ \
  X(kWmiPutFailed, 2021) \
  /* Package section (continued) */ \
  X(kPolicyTypeNotRegisteredInfo, 2022) \
  /* Usage */ \
  X(kUsageHeader, 2600) \
  X(kUsageProgram, 2601) \
  X(kUsageReg, 2602) \
  X(kUsageBlankAfterReg, 2603) \
  X(kUsageUnreg, 2604) \
  X(kUsageBlankAfterUnreg, 2605) \
  X(kUsageHelp, 2606) \
  /* Help */ \
  X(kHelpIntro, 2700) \
  X(kHelpBlankAfterIntro, 2701) \
  X(kHelpOptionsHeader, 2702) \
  X(kHelpBlankAfterHeader, 2703) \
  X(kHelpLineHelp, 2704) \
  X(kHelpLineReg, 2705) \
  X(kHelpLineRegFile, 2706) \
  X(kHelpLineUnreg, 2707) \
  X(kHelpLinePatch, 2708) \
  X(kHelpLinePatchExample, 2709) \
  X(kHelpLineReinstall, 2710) \
  X(kHelpLineReinstall2, 2711) \
  X(kHelpLineReinstall3, 2712) \
  X(kHelpLineReinstall4, 2713) \
  X(kHelpLineReinstall5, 2714) \
  X(kHelpLineReinstall6, 2715) \
  X(kHelpLineReinstall7, 2716) \
  X(kHelpLineSections, 2717) \
  X(kHelpLineSections2, 2718) \
  X(kHelpLineSections3, 2719) \
  X(kHelpLineSections4, 2720) \
  X(kHelpLineSections5, 2721) \
  X(kHelpLineCluster, 2722) \
  X(kHelpLineCluster2, 2723) \
  X(kHelpLineClusterFull, 2724) \
  X(kHelpLineClusterLocal, 2725) \
  X(kHelpLineLog, 2726) \
  X(kHelpLineLog2, 2727) \
  X(kHelpLineLog3, 2728) \
  X(kHelpLineDelUndo, 2729) \
  X(kHelpLineDelUndo2, 2730) \
  /* Platform section: platform values and qualifier access */ \
  X(kSystemTypeNotInModel, 3000) \
  X(kOsTypeNotInModel, 3001) \
  X(kManagedNodeCommitFailed, 3002) \
  X(kQualifierSetGetFailed, 3004) \
  X(kValuesAccessFailed, 3005) \
  X(kValueMapAccessFailed, 3006) \
  X(kValuesQualifierPutFailed, 3007) \
  X(kValueMapQualifierPutFailed, 3008) \
  X(kQualifierPutFailed, 3009) \
  X(kOsesAccessFailed, 3010) \
  X(kOsTypesEmpty, 3011) \
  X(kOsVersionsEmpty, 3012) \
  X(kSystemTypesEmpty, 3013) \
  X(kSystemOsTypesEmpty, 3014) \
  X(kCpuTypeQualifierMismatch, 3016) \
  X(kManagedNodeGetFailed, 3017) \
  /* Platform match records and node groups */ \
  X(kWmiGetObjectFailed, 3018) \
  X(kWmiSpawnInstanceFailed, 3019) \
  X(kWmiDeleteInstanceFailed, 3020) \
  X(kWmiPutInstanceFailed, 3026) \
  X(kPlatformMatchesEmpty, 3027) \
  X(kWmiInstanceEnumFailed, 3028) \
  X(kWmiGetFailed, 3029) \
  X(kNodeGroupsEmpty, 3030) \
  X(kPropertyValueUnparsed, 3031) \
  /* Platform section: model classes and qualifier vectors */ \
  X(kWmiClassMissing, 3032) \
  X(kUndoPlatformsSyntaxAfter, 3033) \
  X(kSafeArrayUnaccessFailed, 3038) \
  X(kSafeArrayUpperBoundFailed, 3039) \
  X(kQualifierArrayLowerBound, 3040) \
  X(kSafeArrayLowerBoundFailed, 3041) \
  X(kQualifierArrayDimensions, 3042) \
  X(kQualifierArrayNull, 3043) \
  X(kQualifierNotStringArray, 3044) \
  X(kQualifierMissing, 3045) \
  X(kQualifierCountsDiffer, 3046) \
  X(kPropertyQualifierSetFailed, 3047) \
  X(kPlatformRegLoadFailed, 3048) \
  X(kPlatformRegFailed, 3049) \
  X(kPlatformUnregLoadFailed, 3050) \
  X(kPlatformRollbackLoadFailed, 3051) \
  X(kPlatformRollbackFailed, 3052) \
  X(kPlatformUnregFailed, 3053) \
  X(kQualifierDeleteFailed, 3054) \
  X(kUndoPlatformsSyntax, 3055) \
  /* Files and prerequisite configuration */ \
  X(kCrcUnparsed, 3056) \
  X(kFolderEnumerateFailed, 3057) \
  X(kFileCopyFailed, 3058) \
  /* Platform section: registration file texts refused before any change */ \
  X(kInstrumentationNameNotOneFolder, 3060) \
  X(kTextNotUndoSafe, 3061) \
  X(kNodeGroupNameNotUndoSafe, 3062) \
  X(kPlatformJournalLineUnreadable, 3063) \
  /* Platform section: instrumentation folders */ \
  X(kOsTypeFolderCreateFailed, 4001) \
  X(kOsVersionFolderCreateFailed, 4002) \
  X(kInstrumentationFolderCreateFailed, 4003) \
  X(kInstrumentationFileCopyFailed, 4004) \
  X(kInstrumentationFileRemoveFailed, 4005) \
  X(kInstrumentationFolderDeleteFailed, 4006) \
  X(kOsVersionFolderDeleteFailed, 4007) \
  X(kOsTypeFolderDeleteFailed, 4008) \
  /* Command line */ \
  X(kCmdlineArgumentCount, 20000) \
  X(kCmdlineSyntax, 20001) \
  X(kCmdlineUnexpectedOption, 20002) \
  X(kCmdlineMandatoryMissing, 20003) \
  X(kCmdlineOneOfRequired, 20004) \
  X(kCmdlineOnlyOneOf, 20005) \
  X(kCmdlineRepeatedOption, 20006) \
  X(kCmdlineIncompatibleOptions, 20007) \
  /* File paths */ \
  X(kFilePathInvalid, 20100) \
  X(kFileShareInaccessible, 20101) \
  X(kFileDirectoryCreateFailed, 20102) \
  X(kFileDirectorySwitchFailed, 20103) \
  X(kFileDirectoryInvalid, 20104) \
  /* Registry */ \
  X(kDbPasswordUnavailable, 20200) \
  X(kRegistryStringUnreadable, 20201) \
  /* Utilities */ \
  X(kUuidCreateFailed, 20300) \
  /* end */

enum class MessageId : unsigned {
#define VR_MESSAGE_ID_ENUMERATOR(name, number) name = number,
  VR_TESSERA_MESSAGE_IDS(VR_MESSAGE_ID_ENUMERATOR)
#undef VR_MESSAGE_ID_ENUMERATOR
};

// Every identifier that has a name, in catalogue order.
inline constexpr MessageId kAllMessageIds[] = {
#define VR_MESSAGE_ID_ENTRY(name, number) MessageId::name,
    VR_TESSERA_MESSAGE_IDS(VR_MESSAGE_ID_ENTRY)
#undef VR_MESSAGE_ID_ENTRY
};

constexpr unsigned ToNumber(MessageId id) { return static_cast<unsigned>(id); }

}  // namespace vr::msg
