#include "tessera/Prereq/PrereqVersion.h"

#include <vector>

#include "platform/os/dir.h"
#include "platform/text/casefold.h"
#include "platform/os/file.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Prereq/PrereqSupport.h"
#include "tessera/TesseraTrace.h"

namespace vr::prereq {
namespace {

struct Part {
  unsigned long long number = 0;
  WString rest;
};

std::vector<Part> Split(WStringView v) {
  std::vector<Part> parts;
  size_t start = 0;
  while (start <= v.size()) {
    size_t end = v.find_first_of(u".-", start);
    if (end == WStringView::npos) end = v.size();
    const WStringView piece = v.substr(start, end - start);
    Part p;
    size_t i = 0;
    while (i < piece.size() && piece[i] >= u'0' && piece[i] <= u'9') {
      if (p.number < 100000000000000000ull) p.number = p.number * 10 + (piece[i] - u'0');
      ++i;
    }
    p.rest = WString(piece.substr(i));
    parts.push_back(std::move(p));
    start = end + 1;
  }
  return parts;
}

bool Wild(const Part& p) { return !p.rest.empty() && p.rest[0] == u'*'; }

}  // namespace

int CompareVersions(WStringView a, WStringView b) {
  const std::vector<Part> pa = Split(a), pb = Split(b);
  const size_t common = pa.size() < pb.size() ? pa.size() : pb.size();
  for (size_t i = 0; i < common; ++i) {
    const Part& x = pa[i];
    const Part& y = pb[i];
    if (Wild(x) || Wild(y)) continue;
    if (x.number != y.number) return x.number < y.number ? -1 : 1;
    if (x.rest.empty() != y.rest.empty()) return x.rest.empty() ? -1 : 1;
    if (const int c = vr::text::CompareNoCase(x.rest, y.rest); c != 0) return c < 0 ? -1 : 1;
  }
  const std::vector<Part>& longer = pa.size() > pb.size() ? pa : pb;
  const int sign = pa.size() > pb.size() ? 1 : -1;
  for (size_t i = common; i < longer.size(); ++i) {
    const Part& p = longer[i];
    if (Wild(p) || (p.number == 0 && p.rest.empty())) continue;
    return sign;
  }
  return 0;
}

WString FindHighestVersion(const WString& folder) {
  VR_TRACE_FUNCTION("FindHighestVersion", "Prereq\\PrereqVersion", vr::trace::kRunFlags);
  WString candidate = u"1.0.0";
  std::vector<vr::os::DirEntry> entries;
  if (const long rc = vr::os::ListDirectory(folder, entries); rc != 0) {
    VR_TRACE_FAILURE("FindFirstFileEx (\"", folder, "\")", rc);
    return WString();
  }
  for (const auto& e : entries) {
    if (!e.isDirectory || e.name == u"." || e.name == u"..") continue;
    if (!VrConfigFile::IsVersion(e.name)) continue;
    // A folder without its file (left empty by a run that stopped) is no version.
    if (!vr::os::FileExists(PrereqFilePath(folder, e.name))) continue;
    if (CompareVersions(e.name, candidate) > 0) candidate = e.name;
  }
  return candidate;
}

}  // namespace vr::prereq
