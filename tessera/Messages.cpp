#include "tessera/Messages.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/text/format.h"

namespace vr::msg {
namespace {

struct Entry {
  unsigned id;
  const char16_t* text;
};

// One table for the whole program, sorted by identifier (the lookup is a binary search), in
// groups by identifier range.
constexpr Entry kCatalogue[] = {
    // ---- Front end: XML load
    {5, u"(TESSERA5) Unable to connect to MS XML DOM (using ProgID MSXML2::DOMDocument).\n"},
    {6, u"(TESSERA6) MS XML DOM could not open '%1' for reading. Please check if:\n- DTD file specified in XML exist\n- XML is valid according to DTD file.\n"},
    {7, u"(TESSERA7) Root XML element <VrNPConfig> is missing in file '%1'.\n"},
    {8, u"(TESSERA8) Parsing file '%1' failed with %2!d!.\n"},
    {9, u"(TESSERA9) File '%1' doesn't exist or could not be opened for reading.\n"},
    // ---- Front end: COM errors and run summaries
    {100, u"(TESSERA100) COM initialization failed.\n"},
    {101, u"(TESSERA101) COM eror occured in method '%1'.\n"},
    {102, u"Code: "},
    {103, u"Code meaning: "},
    {104, u"Source: "},
    {105, u"Description: "},
    {150, u"Registration of patch %1 failed. Rollback succeeded.\n"},
    {151, u"Registration of patch %1 failed. Rollback ended with errors.\n"},
    {152, u"Registration of patch %1 succeeded.\n"},
    {153, u"Unregistration of patch %1 succeeded.\n"},
    {154, u"Registration of patch %1 ended with warnings.\n"},
    {155, u"Unregistration of patch %1 ended with warnings.\n"},
    {156, u"Patch %1 was not unregistered.\n"},
    {157, u"Registration of patch %1 failed. Errors during initialization. No changes done.\n"},
    {158, u"Unregistration failed. Errors during initialization. No changes done.\n"},
    {159, u"Unregistration of patch %1 failed. Errors during initialization. No changes done.\n"},
    {160, u"Unregistration of patch %1 ended with errors.\n"},
    {161, u"Error during registration. Performing rollback...\n"},
    // ---- Log files, undo file, cluster tool
    {200, u"(TESSERA200) Cannot open configuration file '%1'.\n"},
    {201, u"(TESSERA201) Cannot create log file '%1'.\n"},
    {202, u"(TESSERA202) Name of temporary log file for packages cannot be created.\n"},
    {203, u"(TESSERA203) Name of temporary log file for platforms cannot be created.\n"},
    {204, u"(TESSERA204) Name of temporary log file for prerequisite check cannot be created.\n"},
    {205, u"(TESSERA205) Cannot save configuration file '%1'.\n"},
    {206, u"(TESSERA206) Update was performed successfully, but undo file '%1' cannot be saved. Temporary log files '%2', '%3' and '%4' were not deleted. Please investigate them and then manually delete them.\n"},
    {207, u"(TESSERA207) Undo log file '%1' doesn't exist or could not be opened for reading.\n"},
    {208, u"Original prerequisites file cannot be copied to package directories.\n"},
    {209, u"As this is the original prerequisites file, there will also be no changes on it's copies in package directories.\n"},
    {210, u"(TESSERA210) Version '%1' of the prerequisite entries is not a valid version.\n"},
    // ---- Prerequisite tag texts of the registration file
    {211, u"(TESSERA211) The text of the %1 tag '%2' in the registration file is not one block of that tag: %3.\n"},
    {212, u"(TESSERA212) The XML parser stopped in '%1' at line %2: %3\n"},
    {213, u"(TESSERA213) The XML parser stopped in '%1': %2\n"},
    {250, u"(TESSERA250) Execution of command line '%1' failed.\n"},
    {251, u"(TESSERA251) Name of cluster resource group is empty.\n"},
    {252, u"(TESSERA252) Connection to cluster cannot be openned.\n"},
    {253, u"(TESSERA253) Cluster resource group '%1' cannot be opened.\n"},
    {254, u"(TESSERA254) State cannot be retrieved for resource group '%1'.\n"},
    // ---- Run lock and run journal: one run at a time, recovery of a killed run
    {260, u"(TESSERA260) Another program is changing this management server (run lock '%1'); gave up after waiting %2 ms. Nothing was changed.\n"},
    {261, u"(TESSERA261) The run lock '%1' cannot be taken (error %2). Nothing was changed.\n"},
    {262, u"(TESSERA262) An earlier run of tessera for patch '%1' was interrupted; its changes, recorded in the run journal '%2', have been rolled back.\n"},
    {263, u"(TESSERA263) An earlier run of tessera for patch '%1' was interrupted, and its changes, recorded in the run journal '%2', could not be rolled back: %3 The journal is kept and no run can change this server until it has been rolled back.\n"},
    {264, u"(TESSERA264) An earlier run of tessera for patch '%1' was interrupted after it had completed its changes and its undo file '%2'; they stay.\n"},
    {265, u"(TESSERA265) An earlier unregistration with undo file '%1' was interrupted; run it again to complete it.\n"},
    {266, u"(TESSERA266) The run journal '%1' cannot be written (error %2). Nothing was changed.\n"},
    {267, u"(TESSERA267) The changes recorded in the undo file '%1' for patch '%2' have already been unregistered. Nothing was changed.\n"},
    {268, u"(TESSERA268) The run journal holds a record that cannot be read: '%1'.\n"},
    {269, u"(TESSERA269) The ledger '%1' cannot be read (error %2). Nothing was changed.\n"},
    // ---- The host, the cluster tool's time limit, the undo file's encoding
    {270, u"(TESSERA270) No management server host at '%1'; make one with 'vrhost init'.\n"},
    {271, u"(TESSERA271) Command line '%1' did not end within %2 ms (VR_CLUSTER_TOOL_TIMEOUT_MS) and was stopped.\n"},
    {272, u"(TESSERA272) Undo file '%1' is UTF-8 text, but undo files are UTF-16 text. Convert it back, for example with 'iconv -f UTF-8 -t UTF-16', and run again.\n"},
    {273, u"(TESSERA273) The ledger '%1' cannot be written (error %2).\n"},
    // ---- Plan runs (-whatif)
    {274, u"Nothing was changed: this was a plan of the run (-whatif).\n"},
    {275, u"The run without -whatif would stop here.\n"},
    {276, u"The ledger shows the lines of this section as taken back already; an unregistration leaves them alone.\n"},
    {277, u"(TESSERA277) A run of tessera for patch '%1' was interrupted; the run without -whatif first takes back its changes, recorded in the run journal '%2', which this plan does not show.\n"},
    // ---- Undo file syntax
    {300, u"(TESSERA300) Syntax error in line %1 of undo file '%2': Unexpected line.\n"},
    {301, u"(TESSERA301) Syntax error in line %1 of file '%2': Line does not start with '%3'.\n"},
    {302, u"(TESSERA302) Syntax error in undo file '%1': Section PACKAGES not terminated with line '%2'.\n"},
    {303, u"(TESSERA303) Syntax error in line %1 section PACKAGES of undo file '%2': Unexpected line.\n"},
    {304, u"(TESSERA304) Syntax error in undo file '%1': Section PLATFORMS not terminated with line '%2'.\n"},
    {305, u"(TESSERA305) Syntax error in line %1 section PLATFORMS of undo file '%2': Unexpected line.\n"},
    {306, u"(TESSERA306) Syntax error in undo file '%1': Section PREREQUISITE_CHECK  not terminated with line '%2'.\n"},
    {307, u"(TESSERA307) Syntax error in line %1 section PREREQUISITE_CHECK of undo file '%2': Unexpected ine.\n"},
    {308, u"(TESSERA308) Syntax error in line %1 section PREREQUISITE_CHECK of undo file '%2': Expected %3'.\n"},
    // ---- Unspecified errors
    {420, u"(TESSERA420) Unspecified error occured in method '%1' - use tracing to get more detailed information.\n"},
    // ---- Undo file folder
    {500, u"(TESSERA500) Cannot determine share name in file path '%1'.\n"},
    {501, u"(TESSERA501) Cannot determine drive name in file path '%1'.\n"},
    {502, u"(TESSERA502) Directory '%1' doesn't exist or you do not have permission to access it.\n"},
    {503, u"(TESSERA503) Directory '%1' cannot be created.\n"},
    {504, u"(TESSERA504) Newly created directory '%1' cannot be accessed.\n"},
    // ---- Environment, command-line values, directories
    {800, u"(TESSERA800) VRM/S DataDir cannot be determined from registry value 'HKEY_LOCAL_MACHINE\\%1\\%2'.\n"},
    {801, u"(TESSERA801) Parameter after %1 ('%2') is not valid file path.\n"},
    {802, u"(TESSERA802) Cannot get TimeZone information from system.\n"},
    {803, u"(TESSERA803) VRM/S ShareInstallDir cannot be determined from registry value 'HKEY_LOCAL_MACHINE\\%1\\%2'.\n"},
    {804, u"(TESSERA804) Parameter after %1 ('%2') contains more then one substring '%3'.\n"},
    {805, u"(TESSERA805) Parameter after %1 ('%2') contains invalid substring '%3'.\n"},
    {806, u"(TESSERA806) Parameter after %1 ('%2') can only be either 'full' or 'local'."},
    {807, u"(TESSERA807) VRM/S installation path could not be determined from registry.\n"},
    {808, u"(TESSERA808) VRM/S packages path could not be determined from registry.\n"},
    {809, u"(TESSERA809) VRM/S agent installation path could not be determined from registry.\n"},
    {810, u"(TESSERA810) VRM/S version cannot be determined from registry value 'HKEY_LOCAL_MACHINE\\%1\\%2'.\n"},
    {811, u"(TESSERA811) VRM/S version on this computer ('%1') is not supported in XML configuration file. Supported versions: '%2'.\n"},
    {812, u"(TESSERA812) VRM/S data directory path could not be determined from registry.\n"},
    {813, u"(TESSERA813) VRM/S share directory path could not be determined from registry.\n"},
    {814, u"(TESSERA814) VRM/S share installation path could not be determined from registry.\n"},
    {816, u"(TESSERA816) Option %1 is not valid on non-cluster system.\n"},
    // ---- XML content
    {900, u"(TESSERA900) XML parsing error, non-integer OS Type, in tag '%1', line '%2'.\n"},
    {901, u"(TESSERA901) XML parsing error, non-integer System Type, in tag '%1', line '%2'.\n"},
    {902, u"(TESSERA902) XML parsing error, non-integer OS version value, in tag '%1', line '%2'.\n"},
    {903, u"(TESSERA903) Failed to replace directory placeholder in '%1'.\n"},
    {904, u"(TESSERA904) XML parsing error, only YES or NO values are allowed for the <removable> flag, in tag '%1', line '%2'.\n"},
    // ---- Package section: Depot, undo lines, registry bookkeeping
    {1000, u"(TESSERA1000) Cannot add deployment package '%1 %2' to policy management server (DEPOT)\n"},
    {1001, u"(TESSERA1001) Cannot find policy type with ID '%1'\n"},
    {1002, u"(TESSERA1002) Cannot add platform and policy type information  [PolTypeId='%1', SystemType='%2', OsType='%3']\n"},
    {1003, u"(TESSERA1003) Connect to policy management server (DEPOT) failed\n"},
    {1004, u"(TESSERA1004) Cannot get package '%1 %2' from policy management server (DEPOT)\n"},
    {1005, u"(TESSERA1005) Cannot get DeplPackId from DEPOT database\n"},
    {1006, u"(TESSERA1006) Cannot write to undo log file '%1'\n"},
    {1007, u"(TESSERA1007) Cannot get data from DEPOT database\n"},
    {1008, u"(TESSERA1008) Cannot map platform type digits to string value\n"},
    {1009, u"(TESSERA1009) Cannot create registry key\n"},
    {1010, u"(TESSERA1010) Connect to DEPOT database failed\n"},
    {1011, u"(TESSERA1011) Package '%1' is still deployed on node(s) and cannot be removed from DEPOT\n"},
    {1013, u"(TESSERA1013) Cannot remove package with DeplPackId '%1' from DEPOT\n"},
    {1014, u"(TESSERA1014) Cannot remove dependency between package and policy type\n"},
    {1015, u"(TESSERA1015) Cannot remove registry key\n"},
    {1016, u"(TESSERA1016) Cannot get registry key value\n"},
    {1017, u"(TESSERA1017) Cannot parse package info from registry key value\n"},
    {1019, u"(TESSERA1019) Cannot update LogicalID value in VR_PM_DeplPack table.\n"},
    {1020, u"(TESSERA1020) Illegal number of tokens in undo line:\n%1"},
    {1021, u"(TESSERA1021) Patch %1 is not registered\n"},
    // ---- Platform section: WMI connection
    {1022, u"(TESSERA1022) Cannot connect to WMI\n"},
    // ---- Package section (continued)
    {1023, u"(TESSERA1023) Cannot get information if package '%1' is deployed on node(s)\n"},
    {1024, u"(TESSERA1024) Package %1 of the registration file cannot be registered: its %2 has %3 characters, more than the %4 the DEPOT database keeps.\n"},
    {1025, u"(TESSERA1025) Cannot commit the packages and functionality modules to the DEPOT database\n"},
    {1026, u"(TESSERA1026) The package record of the interrupted run cannot be read: %1\n"},
    // ---- Platform match records and node groups: writing instances
    {2021, u"(TESSERA2021) IWbemClassObject::Put('%1') - value = '%2' failed. hr='%3'.\n"},
    // ---- Package section (continued)
    {2022, u"(TESSERA2022) Policy type '%1' was not found (most likely not registered on this server). This is an information only. Proceeding with installation..."},
    // ---- Usage
    {2600, u"Usage:\n"},
    {2601, u"tessera\n"},
    {2602, u"  -reg <ConfigFile> -patch <PatchNumber> [-reinstall] [-sections <sections>]\n   [-log <UndoFile>] [-cluster full|local]\n"},
    {2603, u"\n"},
    {2604, u"  -unreg <UndoFile> [-cluster full|local] [-delundo]\n"},
    {2605, u"\n"},
    {2606, u"  (-? | -help)\n"},
    // ---- Help
    {2700, u"tessera is a command line tool used for registering/unregistering platforms\nand packages as well as updating prerequisite check config file.\n"},
    {2701, u"\n"},
    {2702, u"Tool options:\n"},
    {2703, u"\n"},
    {2704, u"-help                Prints basic help.\n"},
    {2705, u"-reg <ConfigFile>    Registers new platforms/packages specified in XML-based\n"},
    {2706, u"                     <ConfigFile>.\n"},
    {2707, u"-unreg <UndoFile>    Unregisters platforms/packages  specified in <UndoFile>.\n"},
    {2708, u"-patch <PatchNumber> <PatchNumber>  is a string in format VRMS_xxxx  (e.g.\n"},
    {2709, u"                     VRMS_0200).\n"},
    {2710, u"-reinstall           This option must be specified when the patch is\n"},
    {2711, u"                     reinstalled.\n"},
    {2712, u"                     Failing to specify reinstall option when patch is applied\n"},
    {2713, u"                     for second time will result in serious problems (reference\n"},
    {2714, u"                     counters will be incremented for second time -> during\n"},
    {2715, u"                     patch uninstallation platform objects will not be removed\n"},
    {2716, u"                     since counters will not be decremented to 0).\n"},
    {2717, u"-sections <sections> If this parameter is specified then only specified\n"},
    {2718, u"                     sections are read from config file.\n"},
    {2719, u"                     Available sections: platform, package, prereq\n"},
    {2720, u"                     Multiple sections must be separated with \",\" (e.g.\n"},
    {2721, u"                     platform,package).\n"},
    {2722, u"-cluster full|local  If this parameter is specified tessera works in cluster\n"},
    {2723, u"                     mode.\n"},
    {2724, u"                     full  - all resources (shared and non-shared) are updated\n"},
    {2725, u"                     local - only local (non-shared) resources are updated\n"},
    {2726, u"-log <UndoFile>      If log option is provided then all changes are recorded in\n"},
    {2727, u"                     the <UndoFile>. When patch is uninstalled al the changes\n"},
    {2728, u"                     can be undone using <UndoFile>.\n"},
    {2729, u"-delundo             When this option is provided then <UndoFile> is deleted\n"},
    {2730, u"                     if unregistration is successfully ended.\n"},
    // ---- Platform section: platform values and qualifier access
    {3000, u"(TESSERA3000) Please check config. file syntax, specified System Type '%1' does not exist in WMI model\n"},
    {3001, u"(TESSERA3001) Please check config. file syntax, specified OSType '%1' does not exist in WMI model.\n"},
    {3002, u"(TESSERA3003) Commit changes on VR_ManagedNode class failed with following error: '%1'\n"},
    {3004, u"(TESSERA3004) IWbemClassObject::GetPropertyQualifierSet() failed. Unable to get qualifier set for '%1' property of the 'VR_ManagedNode' class. hr = '%2'\n"},
    {3005, u"(TESSERA3005) sbaValue.AccessData() failed. hr='%1'\n"},
    {3006, u"(TESSERA3006) sbaValueMap.AccessData() failed. hr='%1'\n"},
    {3007, u"(TESSERA3007) spQS->Put(VALUES,...) failed. Unable to put '%1' qualifier back into qualifier set for the '%2' property of the 'VR_ManagedNode' class. hr = '%3'\n"},
    {3008, u"(TESSERA3008) spQS->Put(VALUEMAP,...) failed. Unable to put '%1' qualifier back into qualifier set for the '%2' property of the 'VR_ManagedNode' class. hr = '%3'\n"},
    {3009, u"(TESSERA3009) spQS->Put(...) failed. Unable to put '%1' qualifier back into qualifier set for the '%2' property of the 'VR_ManagedNode' class. hr = '%3'\n"},
    {3010, u"(TESSERA3010) sbaOSes_t.AccessData() failed. hr='%1'\n"},
    {3011, u"(TESSERA3011) OSType container with values from WMI is empty.\n"},
    {3012, u"(TESSERA3012) OSVersion container with values from WMI is empty.\n"},
    {3013, u"(TESSERA3013) SystemType container with values from WMI is empty.\n"},
    {3014, u"(TESSERA3014) SYSTEMTYPE-OSTYPE container with values from WMI is empty.\n"},
    {3016, u"(TESSERA3016) The SystemType property of VR_ManagedNode did not have CPU Type qualifier (that is, '%1') which matched the '%2' Values qualifier entry for the property.\n"},
    {3017, u"(TESSERA3017) IWbemService::GetObject('VR_ManagedNode',...) failed. hr='%1'.\n"},
    // ---- Platform match records and node groups
    {3018, u"(TESSERA3018) IWbemServices::GetObject('%1',...) failed. hr='%2'.\n"},
    {3019, u"(TESSERA3019) IWbemClassObject::SpawnInstance('%1',...) failed. hr= '%2'.\n"},
    {3020, u"(TESSERA3020) IWbemClassObject::DeleteInstance - instance value = '%1' failed. hr ='%2'.\n"},
    {3026, u"(TESSERA3026) IWbemClassObject::PutInstance failed. hr='1'.\n"},
    {3027, u"(TESSERA3027) PlatformMatch container with values from WMI is empty.\n"},
    {3028, u"(TESSERA3028) IEnumWbemClassObject::CreateInstanceEnum failed hr = '%1'.\n"},
    {3029, u"(TESSERA3029) IWbemClassObject::Get('%1') - value = '%2' failed. hr='%3'.\n"},
    {3030, u"(TESSERA3030) NodeGroup container with values from WMI is empty. \n"},
    {3031, u"(TESSERA3031) Could not parse '%1' property value from instance '%2'.\n"},
    // ---- Platform section: model classes and qualifier vectors
    {3032, u"(TESSERA3032) '%1' class does not exists, please check WMI model.\n"},
    {3033, u"(TESSERA3033) Invalid syntax in Platforms section of 'UndoFile'. Please check the 'UndoFile' syntax after: '%1' in line: '%2'.\n"},
    {3038, u"(TESSERA3038) SafeArrayUnaccessData() failed. hr = '%1'.\n"},
    {3039, u"(TESSERA3039) SafeArrayGetUBound() failed. hr = '%1'.\n"},
    {3040, u"(TESSERA3040) The SAFEARRAY of BSTRs returned from the '%1' qualifier for the '%2' property of VR_ManagedNode had '%3' as a lower bound. Expected it to have zero as its lower bound.\n"},
    {3041, u"(TESSERA3041) SafeArrayGetLBound() failed. hr = '%1'.\n"},
    {3042, u"(TESSERA3042) The SAFEARRAY of BSTRs returned from the '%1' qualifier for the '%2' property of VR_ManagedNode had '%3' dimensions. Expected it to only have one dimension.\n"},
    {3043, u"(TESSERA3043) The SAFEARRAY of BSTRs returned from the '%1' qualifier for the '%2' property of VR_ManagedNode to was NULL.\n"},
    {3044, u"(TESSERA3044) Expected the '%1' qualifier for the '%2' property of 'VR_ManagedNode' to return a SAFEARRAY of BSTRs.  It did not.\n"},
    {3045, u"(TESSERA3045) IWbemQualifierSet::Get('%1',...) failed. hr = '%2' Cause: The '%3' property in VR_ManagedNode did not have qualifier named '%4'.\n"},
    {3046, u"(TESSERA3046) In the '%1' property of VR_ManagedNode, the '%2' qualifier contains '%3' items and the '%4' qualifier contains '%5' items. These qualifiers should contain the same number of items.\n"},
    {3047, u"(TESSERA3047) IWbemClassObject::GetPropertyQualifierSet('%1',...) failed. hr = '%2'.\n"},
    {3048, u"(TESSERA3048) Loading original values from wmi failed during registraion of new platforms\n"},
    {3049, u"(TESSERA3049) Registration of new platforms has failed.\n"},
    {3050, u"(TESSERA3050) Loading original values from wmi failed during un-registraion of new platforms. \n"},
    {3051, u"(TESSERA3051) Loading original values from wmi failed during registraion of new platforms (rollback)\n"},
    {3052, u"(TESSERA3052) Rollback action, trigged by failed registration of new platforms, has failed.\n"},
    {3053, u"(TESSERA3053) Un-registration of new platforms has failed.\n"},
    {3054, u"(TESSERA3054) spQS->Delete(...) failed. Unable to delete '%1' qualifier into qualifier set for the '%2' property of the 'VR_ManagedNode' class. hr = '%3'\n"},
    {3055, u"(TESSERA3055) Invalid syntax in Platforms section of 'UndoFile'. Please check the 'UndoFile' syntax line: '%1'.\n"},
    // ---- Files and prerequisite configuration
    {3056, u"(TESSERA3056) Parsing CRC code has failed. CRC code '%1' is not 4-byte hex number\n"},
    {3057, u"(TESSERA3057) Enumerating folder '%1' for subfolders has failed."},
    {3058, u"(TESSERA3058) File '%1' could not be copied to '%2'."},
    // ---- Platform section: registration file texts refused before any change
    {3060, u"(TESSERA3060) The instrumentation name '%1' of OS version '%2' does not name one folder or file (it holds a path separator, a drive or '..'). Nothing was registered.\n"},
    {3061, u"(TESSERA3061) The text '%1' (%2) holds a double quote or a line break, which an undo file cannot carry. Nothing was registered.\n"},
    {3062, u"(TESSERA3062) The node group name '%1' is empty or holds a blank, a double quote or a line break, which an undo file cannot carry. Nothing was registered.\n"},
    {3063, u"(TESSERA3063) Line %1 of the platform section's record in the run journal cannot be read.\n"},
    // ---- Platform section: instrumentation folders
    {4001, u"(TESSERA4001) Could not create (OSType) instrumentation directory: '%1'.\n"},
    {4002, u"(TESSERA4002) Could not create (OSVersion) instrumentation directory: '%1'.\n"},
    {4003, u"(TESSERA4003) Could not create instrumentation directory: '%1'\n"},
    {4004, u"(TESSERA4004) Could not copy file: '%1' from: '%2' to: '%3'. \n"},
    {4005, u"(TESSERA4005) Could not remove file: '%1' from following location: '%2'.\n"},
    {4006, u"(TESSERA4006) Could not delete instrumentation folder: '%1' \n"},
    {4007, u"(TESSERA4007) Could not delete (OSVersion) instrumentation folder: '%1'.\n"},
    {4008, u"(TESSERA4008) Could not delete (OSType) instrumentation folder: '%1'.\n"},
    // ---- Command line
    {20000, u"(CMDL100) Incorrect number of arguments for '%1'.\n"},
    {20001, u"(CMDL101) Incorrect command line syntax.\n"},
    {20002, u"(CMDL102) Unexpected option '%1'.\n"},
    {20003, u"(CMDL103) Mandatory option '%1' missing.\n"},
    {20004, u"(CMDL104) One of '%1' options must be specified.\n"},
    {20005, u"(CMDL105) Only one of '%1' options can be used.\n"},
    {20006, u"(CMDL106) Multiple '%1' options.\n"},
    {20007, u"(CMDL107) Cannot combine options '%1'.\n"},
    // ---- File paths
    {20100, u"(FILE100) Invalid file path %1.\n"},
    {20101, u"(FILE101) Cannot access share %1.\n"},
    {20102, u"(FILE102) Cannot create directory %1.\n"},
    {20103, u"(FILE103) Cannot switch to directory %1.\n"},
    {20104, u"(FILE104) Invalid directory %1.\n"},
    // ---- Registry
    {20200, u"(RGST100) Cannot get db password.\n"},
    {20201, u"(RGST101) Cannot read RegistryString '%1'.\n"},
    // ---- Utilities
    {20300, u"(UTIL100) Cannot create UUID.\n"},
};

constexpr size_t kBufferChars = 1023;

}  // namespace

const char16_t* CatalogueText(unsigned id) {
  const auto* end = std::end(kCatalogue);
  const auto* it = std::lower_bound(std::begin(kCatalogue), end, id,
                                    [](const Entry& e, unsigned key) { return e.id < key; });
  return (it != end && it->id == id) ? it->text : nullptr;
}

bool CatalogueIsSorted() {
  return std::is_sorted(std::begin(kCatalogue), std::end(kCatalogue),
                        [](const Entry& a, const Entry& b) { return a.id < b.id; }) &&
         std::adjacent_find(std::begin(kCatalogue), std::end(kCatalogue),
                            [](const Entry& a, const Entry& b) { return a.id == b.id; }) == std::end(kCatalogue);
}

std::vector<unsigned> CatalogueIds() {
  std::vector<unsigned> ids;
  for (const Entry& e : kCatalogue) ids.push_back(e.id);
  return ids;
}

MessageArg::MessageArg(int n) : text(vr::text::Format(u"%d", n)) {}
MessageArg::MessageArg(long n) : text(vr::text::Format(u"%ld", n)) {}
MessageArg::MessageArg(unsigned n) : text(vr::text::Format(u"%u", n)) {}
MessageArg::MessageArg(unsigned long n) : text(vr::text::Format(u"%lu", n)) {}

WString LoadMessageList(unsigned id, std::initializer_list<WString> args) {
  const char16_t* raw = CatalogueText(id);
  if (!raw) return WString();
  WStringView text(raw);
  if (text.size() > kBufferChars) text = text.substr(0, kBufferChars);
  const WString* argv[9] = {};
  size_t argc = 0;
  for (const auto& a : args) {
    if (argc == 9) break;
    argv[argc++] = &a;
  }
  WString out;
  out.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'%' && i + 1 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9') {
      const size_t n = static_cast<size_t>(text[i + 1] - u'1');
      size_t end = i + 2;
      // A typed insert "%n!x!" is replaced whole.
      if (end < text.size() && text[end] == u'!') {
        const size_t close = text.find(u'!', end + 1);
        if (close != WStringView::npos) end = close + 1;
      }
      if (n < argc) out += *argv[n];
      i = end - 1;
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace vr::msg
