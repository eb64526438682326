#include "platform/fault/fault.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace vr::fault {
namespace {

struct Rule {
  std::string point;
  long long ordinal;  // 0 = every call
  long long code;
  bool exit = false;  // end the process instead of failing the call
};

struct State {
  std::mutex mutex;
  bool loaded = false;
  std::vector<Rule> rules;
  std::map<std::string, long long, std::less<>> counts;
  std::FILE* log = nullptr;  // unbuffered, appending: each line is one write of its own
};

State& S() {
  static State* s = new State;  // never destroyed: fault points may run during exit
  return *s;
}

long long ParseNumber(const std::string& t, bool& ok) {
  ok = false;
  if (t.empty()) return 0;
  char* end = nullptr;
  long long v;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    v = static_cast<long long>(std::strtoull(t.c_str() + 2, &end, 16));
    // A 32-bit pattern such as 0x80041001 is an HRESULT: keep it negative as HRESULTs are.
    if (t.size() <= 10 && v > 0x7FFFFFFFLL && v <= 0xFFFFFFFFLL) v = static_cast<int32_t>(static_cast<uint32_t>(v));
  } else {
    v = std::strtoll(t.c_str(), &end, 10);
  }
  ok = end && *end == '\0';
  return v;
}

std::vector<Rule> ParseSpec(std::string_view spec) {
  std::vector<Rule> rules;
  size_t pos = 0;
  while (pos <= spec.size()) {
    size_t semi = spec.find(';', pos);
    if (semi == std::string_view::npos) semi = spec.size();
    std::string item(spec.substr(pos, semi - pos));
    pos = semi + 1;
    while (!item.empty() && (item.back() == ' ' || item.back() == '\n')) item.pop_back();
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    if (item.empty()) continue;
    const size_t hash = item.find('#');
    if (hash == std::string::npos || hash == 0) continue;
    Rule r;
    r.point = item.substr(0, hash);
    std::string rest = item.substr(hash + 1);
    std::string codeText;
    const size_t eq = rest.find('=');
    if (eq != std::string::npos) { codeText = rest.substr(eq + 1); rest = rest.substr(0, eq); }
    bool ok = true;
    if (rest == "*") r.ordinal = 0;
    else {
      r.ordinal = ParseNumber(rest, ok);
      if (!ok || r.ordinal < 1) continue;
    }
    if (codeText == "exit") {
      r.exit = true;
      r.code = 0;
      rules.push_back(r);
      continue;
    }
    r.code = codeText.empty() ? 0 : ParseNumber(codeText, ok);
    if (!ok) continue;
    rules.push_back(r);
  }
  return rules;
}

// The log of fault points: appended to by every process of a run, one whole line per write
// (unbuffered), not inherited by the programs a process starts ("e": close on exec).
std::FILE* OpenLog(const char* path) {
  std::FILE* f = std::fopen(path, "ae");
  if (f) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

void LoadLocked(State& s) {
  if (s.loaded) return;
  s.loaded = true;
  if (const char* spec = std::getenv("VR_FAULTS")) s.rules = ParseSpec(spec);
  if (const char* log = std::getenv("VR_FAULTS_LOG"); log && *log)
    s.log = OpenLog(log);
}

}  // namespace

std::optional<long long> Hit(std::string_view point) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  LoadLocked(s);
  if (s.rules.empty() && !s.log) return std::nullopt;
  auto it = s.counts.find(point);
  if (it == s.counts.end()) it = s.counts.emplace(std::string(point), 0).first;
  const long long n = ++it->second;
  if (s.log) {
    const std::string line = std::string(point) + "#" + std::to_string(n) + "\n";
    std::fwrite(line.data(), 1, line.size(), s.log);
  }
  for (const Rule& r : s.rules)
    if (r.point == point && (r.ordinal == 0 || r.ordinal == n)) {
      if (r.exit) std::_Exit(kExitStatus);  // no clean-up: the process ends as a killed one does
      return r.code;
    }
  return std::nullopt;
}

int32_t HresultFromInjected(long long code, int32_t usual) {
  if (code == 0 || code < INT32_MIN || code > INT32_MAX) return usual;
  if (code <= 0xFFFF && code > 0) return static_cast<int32_t>(0x80070000u | static_cast<uint32_t>(code));
  return static_cast<int32_t>(code);
}

long Win32FromInjected(long long code, long usual) {
  if (code > 0 && code <= 0xFFFF) return static_cast<long>(code);
  // A failed HRESULT of the Win32 facility (0x8007xxxx) carries its error in the low word.
  const auto bits = static_cast<uint32_t>(static_cast<int32_t>(code));
  if (code < 0 && code >= INT32_MIN && (bits & 0xFFFF0000u) == 0x80070000u && (bits & 0xFFFFu) != 0)
    return static_cast<long>(bits & 0xFFFFu);
  return usual;
}

std::optional<int32_t> InjectedHresult(std::string_view point, int32_t usual) {
  if (auto code = Hit(point)) return HresultFromInjected(*code, usual);
  return std::nullopt;
}

std::optional<long> InjectedWin32(std::string_view point, long usual) {
  if (auto code = Hit(point)) return Win32FromInjected(*code, usual);
  return std::nullopt;
}

void Configure(std::string_view spec) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.loaded = true;
  s.rules = ParseSpec(spec);
  s.counts.clear();
}

void SetLogFile(const std::string& path) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.loaded = true;
  if (s.log) std::fclose(s.log);
  s.log = path.empty() ? nullptr : OpenLog(path.c_str());
}

void Reset() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.loaded = true;
  s.rules.clear();
  s.counts.clear();
}

}  // namespace vr::fault
