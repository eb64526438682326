// The four platform lists of VR_ManagedNode, in model order: system types (processor
// families), the OsType values each processor runs, OS types and OS versions.
#pragma once
#include <vector>

#include "platform/text/wstring.h"

struct SystemTypeEntry {
  WString description;  // the Values text
  WString value;        // the ValueMap text
  WString cpuKey;       // the qualifier that lists the processor's OsType values
};

struct OsTypeEntry {
  WString description;
  WString value;
};

struct OsVersionEntry {
  WString version;  // the Values text, such as a release number
  WString value;    // the ValueMap text: OsType followed by three digits
};

struct CpuOsEntry {
  WString cpuKey;
  std::vector<WString> osTypes;
};

using SystemTypeList = std::vector<SystemTypeEntry>;
using CpuOsList = std::vector<CpuOsEntry>;
using OsTypeList = std::vector<OsTypeEntry>;
using OsVersionList = std::vector<OsVersionEntry>;

// The ASCII letters of a description up to its first space: "PA-RISC" gives "PARISC".
WString DeriveCpuKey(WStringView description);

// One CPU key is one qualifier (qualifier names do not depend on letter case): entries of the
// same key become the first of them, holding the values of all in order, each value once.
// Two system types whose descriptions give the same key (a changed description leaves both)
// would otherwise write the one qualifier twice, the later copy over the earlier.
CpuOsList MergeCpuOsEntries(const CpuOsList& entries);
