// The items of the update-information file and what each changes in the platform lists. The
// working lists are indexed by their folded values, so that a file of many items against a
// large model is read in time that grows with the file.
#include "mordant/UpdateInfoReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "mordant/ChangeLog.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "wbem/ConsoleText.h"

using vr::text::EqualsNoCase;
using vr::text::Format;
using vr::text::FormatA;
using vr::text::ToLower;

namespace {

const WStringView kDelimiters = u":,;\n";
const char* const kRule = "\n-------------------------------------------------------\n";

void Print(const std::string& text) { WriteConsoleText(stderr, text); }

[[noreturn]] void Syntax(const std::string& text) {
  Print(text);
  throw SyntaxErrorException();
}

// The line a value stood on: a value ended by a line feed belongs to the line before.
unsigned LineOf(const VrUnicodeFileT& file, wint_t delimiter) {
  return delimiter == L'\n' ? file.Line() - 1 : file.Line();
}

void ExpectDelimiter(const VrUnicodeFileT& file, wint_t delimiter, char expected, const WString& value) {
  if (delimiter == static_cast<wint_t>(expected)) return;
  if (delimiter == L'\n') {
    Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected a '%c' after \"%S\" instead of end-of-line.\n",
                   LineOf(file, delimiter), file.FileName(), expected, value));
  }
  Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected a '%c' after \"%S\" instead of a '%C'.\n",
                 file.Line(), file.FileName(), expected, value, static_cast<WChar>(delimiter)));
}

WString PairKey(const WString& value, const WString& text) { return ToLower(value) + u'\0' + ToLower(text); }

// A list of (value, text) entries with its indexes: the first entry of each value, and every
// (value, text) pair present.
template <class Entry, WString Entry::*Text>
class IndexedListT {
 public:
  explicit IndexedListT(const std::vector<Entry>& entries) : entries_(entries) {
    for (size_t i = 0; i < entries_.size(); ++i) Index(i);
  }
  const std::vector<Entry>& Entries() const { return entries_; }
  bool HasValue(const WString& value) const { return firstByValue_.count(ToLower(value)) != 0; }
  bool HasPair(const WString& value, const WString& text) const { return pairs_.count(PairKey(value, text)) != 0; }
  // The first entry with this value, or null.
  const Entry* First(const WString& value) const {
    auto it = firstByValue_.find(ToLower(value));
    return it == firstByValue_.end() ? nullptr : &entries_[it->second];
  }
  void Append(Entry entry) {
    entries_.push_back(std::move(entry));
    Index(entries_.size() - 1);
  }

 private:
  void Index(size_t i) {
    firstByValue_.emplace(ToLower(entries_[i].value), i);
    pairs_.insert(PairKey(entries_[i].value, entries_[i].*Text));
  }
  std::vector<Entry> entries_;
  std::unordered_map<WString, size_t> firstByValue_;
  std::unordered_set<WString> pairs_;
};

using SystemTypesT = IndexedListT<SystemTypeEntry, &SystemTypeEntry::description>;
using OsTypesT = IndexedListT<OsTypeEntry, &OsTypeEntry::description>;
using OsVersionsT = IndexedListT<OsVersionEntry, &OsVersionEntry::version>;

// The OsVersion value rules shared by add, check and remove.
void CheckOsVersionValue(const VrUnicodeFileT& file, const WString& version, const WString& value,
                         const OsTypesT& osTypes) {
  if (value == u"0") return;
  if (value.size() <= 3) {
    Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The numerical representation of an OsVersion must be greater "
                   "than\n  three digits long, because the beginning of the number corresponds\n  to an OsType and "
                   "the last three digits correspond to the version\n  of that OS, therefore \"%S\" is not a valid "
                   "OsVersion value.\n",
                   file.Line(), file.FileName(), value));
  }
  const WString osType = value.substr(0, value.size() - 3);
  if (!osTypes.HasValue(osType)) {
    Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The numerical representation of an OsVersion consists of "
                   "the\n  OsType followed by three digits that represents the version of\n  that OS.  The OsType "
                   "portion, \"%S\", of the OsVersion, \"%S\",\n  does not match any of the values in the ValueMap "
                   "qualifier of the\n  OsType property in the VR_ManagedNode class.\n",
                   file.Line(), file.FileName(), osType, version));
  }
}

// Reads "<first> , <second> ;" after a keyword.
void ReadPair(VrUnicodeFileT& file, WString* first, WString* second) {
  wint_t delimiter = 0;
  *first = ReadValue(file, kDelimiters, &delimiter);
  ExpectDelimiter(file, delimiter, ',', *first);
  *second = ReadValue(file, kDelimiters, &delimiter);
  ExpectDelimiter(file, delimiter, ';', *second);
}

void UnexpectedKeyword(const VrUnicodeFileT& file, const WString& keyword) {
  Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Unexpected value at the beginning of the line:\n    \"%S\"\n  "
                 "Please see usage statement for correct format of the input file.\n",
                 file.Line(), file.FileName(), keyword));
}

// ---- add and check --------------------------------------------------------------------------

class UpdateReaderT {
 public:
  UpdateReaderT(const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                const OsVersionList& osVersions, const std::vector<WString>& otherQualifiers, ChangeLogT* log)
      : systemTypes_(systemTypes),
        cpuOs_(MergeCpuOsEntries(cpuOs)),
        osTypes_(osTypes),
        osVersions_(osVersions),
        log_(log) {
    for (const SystemTypeEntry& e : systemTypes) cpuKeys_.emplace(ToLower(e.cpuKey), e.cpuKey);
    for (const WChar* name : {u"Values", u"ValueMap"}) reservedKeys_.emplace(ToLower(name), name);
    for (const WString& name : otherQualifiers) reservedKeys_.emplace(ToLower(name), name);
    for (size_t i = 0; i < cpuOs_.size(); ++i) IndexCpuOs(i);
  }

  // One item, its keyword read.
  void Item(VrUnicodeFileT& file, const WString& keyword) {
    if (EqualsNoCase(keyword, u"SYSTEM-TYPE")) SystemType(file);
    else if (EqualsNoCase(keyword, u"OS-TYPE")) OsType(file);
    else if (EqualsNoCase(keyword, u"SYSTEM-CPU-OS")) SystemCpuOs(file);
    else if (EqualsNoCase(keyword, u"OS-VERSION")) OsVersion(file);
    else UnexpectedKeyword(file, keyword);
  }

  bool AnyChanged() const { return systemTypesChanged_ || cpuOsChanged_ || osTypesChanged_ || osVersionsChanged_; }

  void HandOver(SystemTypeList* systemTypes, CpuOsList* cpuOs, OsTypeList* osTypes, OsVersionList* osVersions) {
    if (systemTypesChanged_) *systemTypes = systemTypes_.Entries();
    if (cpuOsChanged_) *cpuOs = cpuOs_;
    if (osTypesChanged_) *osTypes = osTypes_.Entries();
    if (osVersionsChanged_) *osVersions = osVersions_.Entries();
  }

 private:
  void Log(const WString& line) {
    if (log_) log_->Write(line);
  }

  void SystemType(VrUnicodeFileT& file) {
    WString description, value;
    ReadPair(file, &description, &value);
    if (systemTypes_.HasPair(value, description)) {
      Log(Format(u"# %S: %S, %S -- already existed.\n", u"SYSTEM-TYPE", description, value));
      return;
    }
    // The CPU qualifier of this system type would overwrite a qualifier of another purpose,
    // and the class could not be read again.
    const WString cpuKey = DeriveCpuKey(description);
    if (const auto reserved = reservedKeys_.find(ToLower(cpuKey)); reserved != reservedKeys_.end()) {
      Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The description \"%S\" gives the CPU Type \"%S\",\n  "
                     "which is the name of the \"%S\" qualifier that the SystemType property\n  of the "
                     "VR_ManagedNode class has for another purpose.  Choose a\n  description whose first word gives "
                     "another CPU Type.\n",
                     file.Line(), file.FileName(), description, cpuKey, reserved->second));
    }
    if (const SystemTypeEntry* old = systemTypes_.First(value)) {
      const WString oldDescription = old->description;
      Print(FormatA("\nWARNING: Line %u of \"%S\":\n  SystemType %S already exists with a different description.\n  "
                    "Changing description\n    from \"%S\"\n      to \"%S\"\n",
                    file.Line(), file.FileName(), value, oldDescription, description));
      AppendSystemType(description, value);
      Log(Format(u"%S: %S, %S;  # modified from %S.\n", u"SYSTEM-TYPE", description, value, oldDescription));
      return;
    }
    AppendSystemType(description, value);
    Log(Format(u"%S: %S, %S;  # added.\n", u"SYSTEM-TYPE", description, value));
  }

  void AppendSystemType(const WString& description, const WString& value) {
    SystemTypeEntry entry{description, value, DeriveCpuKey(description)};
    cpuKeys_.emplace(ToLower(entry.cpuKey), entry.cpuKey);
    systemTypes_.Append(std::move(entry));
    systemTypesChanged_ = true;
  }

  void OsType(VrUnicodeFileT& file) {
    WString description, value;
    ReadPair(file, &description, &value);
    if (osTypes_.HasPair(value, description)) {
      Log(Format(u"# %S: %S, %S -- already existed.\n", u"OS-TYPE", description, value));
      return;
    }
    if (const OsTypeEntry* old = osTypes_.First(value)) {
      const WString oldDescription = old->description;
      Print(FormatA("\nWARNING: OsType %S already exists with a different description.\n  Changing description\n    "
                    "from \"%S\"\n      to \"%S\"\n",
                    value, oldDescription, description));
      osTypes_.Append({description, value});
      osTypesChanged_ = true;
      Log(Format(u"%S: %S, %S;  # modified from %S.\n", u"OS-TYPE", description, value, oldDescription));
      return;
    }
    osTypes_.Append({description, value});
    osTypesChanged_ = true;
    Log(Format(u"%S: %S, %S;  # added.\n", u"OS-TYPE", description, value));
  }

  void SystemCpuOs(VrUnicodeFileT& file) {
    wint_t delimiter = 0;
    const WString cpuType = ReadValue(file, kDelimiters, &delimiter);
    ExpectDelimiter(file, delimiter, ',', cpuType);
    if (const auto reserved = reservedKeys_.find(ToLower(cpuType)); reserved != reservedKeys_.end()) {
      Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The CPU Type \"%S\" is the name of the \"%S\" "
                     "qualifier that the\n  SystemType property of the VR_ManagedNode class has for another "
                     "purpose,\n  so it cannot be a CPU Type qualifier.\n",
                     file.Line(), file.FileName(), cpuType, reserved->second));
    }
    auto key = cpuKeys_.find(ToLower(cpuType));
    if (key == cpuKeys_.end()) {
      Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The \"%S\" CPU Type qualifier does not match any entries\n  "
                     "in the ValueMap qualifier of the SystemType property in the\n  the VR_ManagedNode class.\n",
                     file.Line(), file.FileName(), cpuType));
    }
    std::vector<WString> values;
    do {
      WString value = ReadValue(file, kDelimiters, &delimiter);
      if (delimiter != L',' && delimiter != L';') {
        if (delimiter == L'\n') {
          Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected a ',' or ';' after \"%S\" instead of "
                         "end-of-line.\n",
                         LineOf(file, delimiter), file.FileName(), value));
        }
        Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  Expected a ',' or ';' after \"%S\" instead of a '%C'.\n",
                       file.Line(), file.FileName(), value, static_cast<WChar>(delimiter)));
      }
      if (!osTypes_.HasValue(value)) {
        Syntax(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The \"%S\" OsType value for CPU Type \"%S\"\n  does not "
                       "match any entries in the ValueMap qualifier of the OsType\n  property in the VR_ManagedNode "
                       "class.\n",
                       file.Line(), file.FileName(), value, cpuType));
      }
      values.push_back(std::move(value));
    } while (delimiter == L',');

    auto entry = cpuOsByKey_.find(ToLower(cpuType));
    if (entry != cpuOsByKey_.end()) {
      for (const WString& value : values) {
        if (cpuOsValues_[entry->second].count(ToLower(value))) {
          Log(Format(u"# %S: %S, %S -- already existed.\n", u"SYSTEM-CPU-OS", cpuType, value));
        } else {
          cpuOs_[entry->second].osTypes.push_back(value);
          cpuOsValues_[entry->second].insert(ToLower(value));
          cpuOsChanged_ = true;
          Log(Format(u"%S: %S, %S;  # added.\n", u"SYSTEM-CPU-OS", cpuType, value));
        }
      }
      return;
    }
    // A new assignment; a value named twice on the line is kept once.
    CpuOsEntry added{key->second, {}};
    std::unordered_set<WString> seen;
    WString line = Format(u"%S: %S", u"SYSTEM-CPU-OS", cpuType);
    for (const WString& value : values) {
      if (!seen.insert(ToLower(value)).second) continue;
      added.osTypes.push_back(value);
      line += Format(u", %S", value);
    }
    cpuOs_.push_back(std::move(added));
    IndexCpuOs(cpuOs_.size() - 1);
    cpuOsChanged_ = true;
    Log(line + u";  # added\n");
  }

  void OsVersion(VrUnicodeFileT& file) {
    WString version, value;
    ReadPair(file, &version, &value);
    CheckOsVersionValue(file, version, value, osTypes_);
    if (osVersions_.HasPair(value, version)) {
      Log(Format(u"# %S: %S, %S -- already existed.\n", u"OS-VERSION", version, value));
      return;
    }
    if (const OsVersionEntry* old = osVersions_.First(value)) {
      const WString oldVersion = old->version;
      Print(FormatA("\nWARNING: Line %u of \"%S\":\n  OsVersion %S already exists with a different version.\n  "
                    "Changing version\n    from \"%S\"\n      to \"%S\"\n",
                    file.Line(), file.FileName(), value, oldVersion, version));
      osVersions_.Append({version, value});
      osVersionsChanged_ = true;
      Log(Format(u"%S: %S, %S;  # modified from %S.\n", u"OS-VERSION", version, value, oldVersion));
      return;
    }
    osVersions_.Append({version, value});
    osVersionsChanged_ = true;
    Log(Format(u"%S: %S, %S;  # added.\n", u"OS-VERSION", version, value));
  }

  void IndexCpuOs(size_t i) {
    cpuOsByKey_.emplace(ToLower(cpuOs_[i].cpuKey), i);
    if (cpuOsValues_.size() <= i) cpuOsValues_.resize(i + 1);
    for (const WString& v : cpuOs_[i].osTypes) cpuOsValues_[i].insert(ToLower(v));
  }

  SystemTypesT systemTypes_;
  CpuOsList cpuOs_;
  OsTypesT osTypes_;
  OsVersionsT osVersions_;
  ChangeLogT* log_;
  std::unordered_map<WString, WString> cpuKeys_;  // folded CPU key -> the key as the model spells it
  std::unordered_map<WString, WString> reservedKeys_;  // folded -> the qualifier no CPU key may name
  std::unordered_map<WString, size_t> cpuOsByKey_;
  std::vector<std::unordered_set<WString>> cpuOsValues_;
  bool systemTypesChanged_ = false, cpuOsChanged_ = false, osTypesChanged_ = false, osVersionsChanged_ = false;
};

// ---- remove -------------------------------------------------------------------------------

class RemoveReaderT {
 public:
  RemoveReaderT(const OsTypeList& osTypes, const OsVersionList& osVersions)
      : osTypes_(osTypes), osVersions_(osVersions), removed_(osVersions.size(), false) {
    for (size_t i = 0; i < osVersions_.size(); ++i) byValue_[ToLower(osVersions_[i].value)].push_back(i);
  }

  void Item(VrUnicodeFileT& file, const WString& keyword) {
    if (!EqualsNoCase(keyword, u"OS-VERSION")) UnexpectedKeyword(file, keyword);
    WString version, value;
    ReadPair(file, &version, &value);
    CheckOsVersionValue(file, version, value, osTypes_);
    auto it = byValue_.find(ToLower(value));
    if (it == byValue_.end() || it->second.empty()) {
      Print(FormatA("\nWARNING: Line %u of \"%S\":\n  The OsVersion number %S, which represents version \"%S\", does\n  "
                    "not exist, so it cannot be removed.\n",
                    file.Line(), file.FileName(), value, version));
      return;
    }
    std::vector<size_t>& live = it->second;
    for (size_t k = 0; k < live.size(); ++k) {
      if (EqualsNoCase(osVersions_[live[k]].version, version)) {
        removed_[live[k]] = true;
        live.erase(live.begin() + static_cast<long>(k));
        changed_ = true;
        return;
      }
    }
    Syntax(FormatA("\nERROR: Line %u of \"%S\":\n  The OSVersion number you are attempting to remove already exists\n  "
                   "with a different corresponding version value.  The version value\n  you are trying to remove is "
                   "\"%S\".  The existing value that\n  currently exists is \"%S\".  No changes will be made.\n",
                   file.Line(), file.FileName(), version, osVersions_[live.front()].version));
  }

  bool Changed() const { return changed_; }
  OsVersionList Remaining() const {
    OsVersionList out;
    for (size_t i = 0; i < osVersions_.size(); ++i)
      if (!removed_[i]) out.push_back(osVersions_[i]);
    return out;
  }

 private:
  OsTypesT osTypes_;
  OsVersionList osVersions_;
  std::vector<bool> removed_;
  std::unordered_map<WString, std::vector<size_t>> byValue_;
  bool changed_ = false;
};

// ---- the read loop --------------------------------------------------------------------------

void PrintStdioError(unsigned line, const WString& name, int err) {
  Print(FormatA("%s ERROR:\n   A stdio error occurred in the proximity of line %u while\n   reading file \"%S\".\n     "
                "errno           = %d\n     strerror(errno) = \"%s\"%s",
                kRule, line, name, err, std::strerror(err < 0 ? 0 : err), kRule));
}

// Opens the input; a file of zero bytes is an input without items (no file at all).
bool OpenInput(const WChar* inputFile, std::unique_ptr<VrUnicodeFileT>* file) {
  const WString name = inputFile ? WString(inputFile) : WString();
  try {
    *file = VrUnicodeFileT::Create(inputFile, VrUnicodeFileT::eREAD, VrUnicodeFileT::eANY);
    return true;
  } catch (const VrUnicodeFileT::Exception& e) {
    if (e.Kind() == VrUnicodeFileT::eFileEmpty) return true;
    if (e.Kind() == VrUnicodeFileT::eOpenFailed) {
      Print(FormatA("%s ERROR:\n   Could not open file \"%S\" for reading.\n     Error Details:\n       %s%s", kRule, name,
                    e.Message(), kRule));
    } else {
      Print(FormatA("%s ERROR:\n   An unexpected file i/o error occurred while trying to open\n   file \"%S\" for "
                    "reading.\n     Source Code  : %s\n     Source Line  : %u\n     Error Code   : %s\n     Error "
                    "Details:\n       %s%s",
                    kRule, name, e.SourceUnit(), e.SourceLine(), GetErrorKindName(e.Kind()), e.Message(), kRule));
    }
    return false;
  }
}

// Reads every item through handle(file, keyword). False after a reported failure; the change
// log then gets its FAILED line.
template <class Handler>
bool ReadItems(VrUnicodeFileT* file, ChangeLogT* log, Handler handle) {
  if (!file) return true;
  const auto streamFailed = [&]() {
    const int err = file->StreamError();
    if (err == 0) return false;
    PrintStdioError(file->Line(), file->FileName(), err);
    return true;
  };
  const auto failed = [&](bool streamError) {
    if (log) log->CloseFailed(streamError ? "file i/o" : "exception thrown");
    return false;
  };
  try {
    while (SkipToNextItem(*file)) {
      wint_t delimiter = 0;
      const WString keyword = ReadValue(*file, kDelimiters, &delimiter);
      ExpectDelimiter(*file, delimiter, ':', keyword);
      handle(*file, keyword);
    }
    if (streamFailed()) return failed(true);
    return true;
  } catch (const SyntaxErrorException&) {
    return failed(false);
  } catch (const FileErrorException&) {
    if (streamFailed()) return failed(true);
    Print(FormatA("\nSYNTAX ERROR: Line %u of \"%S\":\n  The file ended in the middle of an item.\n", file->Line(),
                  file->FileName()));
    return failed(false);
  } catch (const VrUnicodeFileT::Exception& e) {
    Print(FormatA("%s ERROR:\n   An unexpected file i/o error occurred in the proximity of\n   line %u while reading "
                  "file \"%S\".\n     Source Code  : %s\n     Source Line  : %u\n     Error Code   : %s\n     Error "
                  "Details:\n       %s%s",
                  kRule, file->Line(), file->FileName(), e.SourceUnit(), e.SourceLine(), GetErrorKindName(e.Kind()),
                  e.Message(), kRule));
    return failed(streamFailed());
  } catch (const std::exception& e) {
    Print(FormatA("%s ERROR:\n   An unexpected std::exception occurred in the proximity of\n   line %u while reading "
                  "file \"%S\".\n     Error Details:\n       %s%s",
                  kRule, file->Line(), file->FileName(), e.what(), kRule));
    return failed(streamFailed());
  } catch (...) {
    Print(FormatA("%s ERROR:\n   An unexpected exception occurred in the proximity of\n   line %u while reading file "
                  "\"%S\".%s",
                  kRule, file->Line(), file->FileName(), kRule));
    return failed(streamFailed());
  }
}

}  // namespace

bool ReadUpdateInfo(const WChar* inputFile, const WChar* changeLog, const SystemTypeList& systemTypes,
                    const CpuOsList& cpuOs, const OsTypeList& osTypes, const OsVersionList& osVersions,
                    SystemTypeList* newSystemTypes, CpuOsList* newCpuOs, OsTypeList* newOsTypes,
                    OsVersionList* newOsVersions, const std::vector<WString>& otherQualifiers) {
  std::unique_ptr<VrUnicodeFileT> file;
  if (!OpenInput(inputFile, &file)) return false;
  ChangeLogT log;
  if (changeLog && !log.Open(changeLog, inputFile)) return false;
  UpdateReaderT reader(systemTypes, cpuOs, osTypes, osVersions, otherQualifiers, changeLog ? &log : nullptr);
  if (!ReadItems(file.get(), changeLog ? &log : nullptr,
                 [&](VrUnicodeFileT& f, const WString& keyword) { reader.Item(f, keyword); })) {
    return false;
  }
  try {
    if (!reader.AnyChanged()) log.Write(u"# No upadates or additions were necessary!\n");
    log.Close();
  } catch (const VrUnicodeFileT::Exception& e) {
    // A change log that is not whole is no record of the change: nothing is changed.
    Print(FormatA("%s ERROR:\n   The change log \"%S\" could not be written.\n     Error Details:\n       %s%s", kRule,
                  WString(changeLog), e.Message(), kRule));
    return false;
  }
  reader.HandOver(newSystemTypes, newCpuOs, newOsTypes, newOsVersions);
  return true;
}

bool ReadRemoveInfo(const WChar* inputFile, const OsTypeList& osTypes, const OsVersionList& osVersions,
                    OsVersionList* newOsVersions, bool* removedAny) {
  if (removedAny) *removedAny = false;
  std::unique_ptr<VrUnicodeFileT> file;
  if (!OpenInput(inputFile, &file)) return false;
  RemoveReaderT reader(osTypes, osVersions);
  if (!ReadItems(file.get(), nullptr, [&](VrUnicodeFileT& f, const WString& keyword) { reader.Item(f, keyword); }))
    return false;
  if (reader.Changed()) *newOsVersions = reader.Remaining();
  if (removedAny) *removedAny = reader.Changed();
  return true;
}
