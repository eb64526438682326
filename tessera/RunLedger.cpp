#include "tessera/RunLedger.h"

#include <algorithm>
#include <cstdlib>

#include "platform/com/hresult.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "tessera/TesseraTrace.h"

namespace vr::ledger {

namespace {

constexpr const char* kFirstLine = "vorant-ledger 1";
constexpr const char* kLastLine = "end";

std::string Field(WStringView w) { return EscapeField(vr::text::WideToUtf8(w)); }

bool WideField(std::string_view v, WString& out) {
  std::string s;
  if (!UnescapeField(v, s)) return false;
  out = vr::text::Utf8ToWide(s);
  return true;
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

bool Number(std::string_view v, long long& out) {
  if (v.empty() || v.size() > 18) return false;
  long long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  out = n;
  return true;
}

bool SameKey(const Registration& r, WStringView patch, WStringView createdOn) {
  return vr::text::EqualsNoCase(r.patch, patch) && r.createdOn == createdOn;
}

}  // namespace

std::string Ledger::FilePath() { return vr::os::HostPath("ledger/ledger.txt"); }

std::string Ledger::Format() const {
  std::string t = std::string(kFirstLine) + "\n";
  for (const Registration& r : registrations_) {
    t += "R\t" + std::to_string(r.seq) + "\t" + std::to_string(r.sections) + "\t" + std::to_string(r.reversedSections) +
         "\t" + Field(r.patch) + "\t" + Field(r.createdOn) + "\t" + Field(r.undoFile) + "\n";
    for (const Entry& e : r.entries) {
      std::string flags;
      if (e.existedBefore) flags += 'b';
      if (e.reversed) flags += 'r';
      if (flags.empty()) flags = "-";
      t += "E\t" + std::to_string(e.section) + "\t" + EscapeField(e.kind) + "\t" + flags + "\t" + Field(e.key) + "\t" +
           Field(e.before) + "\t" + Field(e.after) + "\n";
    }
  }
  t += std::string(kLastLine) + "\n";
  return t;
}

bool Ledger::Parse(const std::string& text, Ledger& out) {
  out = Ledger();
  Ledger parsed;
  std::string_view rest(text);
  bool first = true, ended = false;
  while (!rest.empty()) {
    const size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) return false;  // a line cut short
    const std::string_view line = rest.substr(0, nl);
    rest.remove_prefix(nl + 1);
    if (ended) return false;  // nothing may follow the last line
    if (first) {
      if (line != kFirstLine) return false;
      first = false;
      continue;
    }
    if (line == kLastLine) {
      ended = true;
      continue;
    }
    const std::vector<std::string_view> f = Split(line);
    if (f[0] == "R" && f.size() == 7) {
      Registration r;
      long long sections = 0, reversed = 0;
      if (!Number(f[1], r.seq) || !Number(f[2], sections) || !Number(f[3], reversed) || !WideField(f[4], r.patch) ||
          !WideField(f[5], r.createdOn) || !WideField(f[6], r.undoFile))
        return false;
      r.sections = static_cast<int>(sections);
      r.reversedSections = static_cast<int>(reversed);
      parsed.nextSeq_ = std::max(parsed.nextSeq_, r.seq + 1);
      parsed.registrations_.push_back(std::move(r));
    } else if (f[0] == "E" && f.size() == 7 && !parsed.registrations_.empty()) {
      Entry e;
      long long section = 0;
      if (!Number(f[1], section) || !UnescapeField(f[2], e.kind) || !WideField(f[4], e.key) || !WideField(f[5], e.before) ||
          !WideField(f[6], e.after))
        return false;
      e.section = static_cast<int>(section);
      for (char c : f[3]) {
        if (c == 'b') e.existedBefore = true;
        else if (c == 'r') e.reversed = true;
        else if (c != '-') return false;
      }
      parsed.registrations_.back().entries.push_back(std::move(e));
    } else {
      return false;
    }
  }
  if (!ended) return false;
  out = std::move(parsed);
  return true;
}

long Ledger::Load(Ledger& out) {
  VR_TRACE_FUNCTION("Ledger::Load", "RunLedger", vr::trace::kRunFlags);
  out = Ledger();
  const WString path = vr::text::Utf8ToWide(FilePath());
  if (!vr::os::FileExists(path)) return ERROR_SUCCESS;
  std::string text;
  if (const long rc = vr::os::ReadWholeFile(path, text); rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("ReadWholeFile (\"", path, "\")", rc);
    return rc;
  }
  if (!Parse(text, out)) {
    VR_TRACE_ERROR("The ledger \"", path, "\" is damaged");
    return ERROR_INVALID_DATA;
  }
  return ERROR_SUCCESS;
}

long Ledger::Save() const {
  VR_TRACE_FUNCTION("Ledger::Save", "RunLedger", vr::trace::kRunFlags);
  const WString folder = vr::text::Utf8ToWide(vr::os::HostPath("ledger"));
  if (const long rc = vr::os::CreateDirectory(folder); rc == ERROR_SUCCESS) {
    // A new folder's name must survive a power cut as the file in it will.
    vr::os::FlushFolder(vr::text::Utf8ToWide(vr::os::HostRoot()));
  } else if (rc != ERROR_ALREADY_EXISTS) {
    VR_TRACE_FAILURE("CreateDirectoryW (\"", folder, "\")", rc);
    return rc;
  }
  const WString path = vr::text::Utf8ToWide(FilePath());
  const long rc = vr::os::SaveFileAtomic(path, Format());
  if (rc != ERROR_SUCCESS) VR_TRACE_FAILURE("SaveFileAtomic (\"", path, "\")", rc);
  return rc;
}

Registration* Ledger::Find(WStringView patch, WStringView createdOn) {
  for (Registration& r : registrations_)
    if (SameKey(r, patch, createdOn)) return &r;
  return nullptr;
}

Registration& Ledger::Add(WStringView patch, WStringView createdOn, WStringView undoFile) {
  Remove(patch, createdOn);
  Registration r;
  r.seq = nextSeq_++;
  r.patch = WString(patch);
  r.createdOn = WString(createdOn);
  r.undoFile = WString(undoFile);
  registrations_.push_back(std::move(r));
  return registrations_.back();
}

bool Ledger::Remove(WStringView patch, WStringView createdOn) {
  const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                               [&](const Registration& r) { return SameKey(r, patch, createdOn); });
  if (it == registrations_.end()) return false;
  registrations_.erase(it);
  return true;
}

std::vector<Ledger::Ref> Ledger::Chain(int section, std::string_view kind, WStringView key) {
  std::vector<Ref> chain;
  for (Registration& r : registrations_) {
    if (r.reversedSections & section) continue;
    for (Entry& e : r.entries)
      if (!e.reversed && e.section == section && e.kind == kind && vr::text::EqualsNoCase(e.key, key))
        chain.push_back(Ref{&r, &e});
  }
  // Registrations are kept in the order they were added, which is their sequence order.
  return chain;
}

namespace {
std::string IndexKey(std::string_view kind, WStringView key) {
  return std::string(kind) + '\t' + vr::text::WideToUtf8(vr::text::ToLower(key));
}
}  // namespace

Ledger::SectionIndex::SectionIndex(Ledger& ledger, int section) {
  for (Registration& r : ledger.registrations_) {
    if (r.reversedSections & section) continue;
    for (Entry& e : r.entries)
      if (e.section == section) refs_[IndexKey(e.kind, e.key)].push_back(Ref{&r, &e});
  }
}

std::vector<Ledger::Ref> Ledger::SectionIndex::Chain(std::string_view kind, WStringView key) const {
  std::vector<Ref> chain;
  const auto found = refs_.find(IndexKey(kind, key));
  if (found == refs_.end()) return chain;
  for (const Ref& ref : found->second)
    if (!ref.entry->reversed) chain.push_back(ref);
  return chain;
}

}  // namespace vr::ledger
