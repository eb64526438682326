// vrhost snapshot: the whole host state as canonical sorted text, one section after another
// ("== NAME ==" lines), so that two hosts in the same state print the same bytes. This file
// has the registry, files and ledger sections; other files have the others, and Tables.cpp
// lists them all in order.
#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/com/hresult.h"
#include "platform/registry/regtools.h"
#include "platform/text/byte_order_mark.h"
#include "platform/text/convert.h"
#include "tools/vrhost/DbSnapshot.h"
#include "tools/vrhost/HostLayout.h"
#include "tools/vrhost/RegistryWrite.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {

std::string SnapshotContext::RootRelative(std::string text) const {
  if (!relative) return text;
  // The root as a POSIX path, in the registry's backslash form, and that form as the .reg
  // text escapes it; only where a path component ends.
  const std::string backslashed = FolderValue(root, "", false);
  std::string escaped;
  for (char ch : backslashed) escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
  for (const std::string& form : {escaped, backslashed, root}) {
    if (form.size() < 2) continue;
    for (size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 1)) {
      const size_t next = at + form.size();
      const bool boundary = next >= text.size() || !(std::isalnum(static_cast<unsigned char>(text[next])) ||
                                                     text[next] == '-' || text[next] == '_' || text[next] == '.');
      if (!boundary) continue;
      text.replace(at, form.size(), "$ROOT");
    }
  }
  return text;
}

namespace {

constexpr size_t kInlineLimit = 64 * 1024;

}  // namespace

bool PrintRegistry(const SnapshotContext&, std::string& out, std::string& error) {
  std::string text;
  if (long rc = vr::registry::SnapshotRegText(text); rc != ERROR_SUCCESS) {
    error = "cannot read the registry: " + ErrorText(rc);
    return false;
  }
  out += HideStoredSecrets(text);
  return true;
}

namespace {

std::string Sha256(const std::string& bytes) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  char hex[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

// Text shown line by line: UTF-8 without control characters other than tab and line ends.
bool IsShownAsText(const std::string& bytes) {
  if (bytes.size() > kInlineLimit) return false;
  for (unsigned char c : bytes)
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  std::u16string ignored;
  return vr::text::Utf8ToWideStrict(vr::text::SkipUtf8Mark(bytes), ignored);
}

bool IsOwned(const std::vector<std::string>& owned, const std::string& relative) {
  for (const std::string& o : owned) {
    if (o == relative) return true;
    if (!o.empty() && o.back() == '/' &&
        (relative + "/" == o || relative.compare(0, o.size(), o) == 0))
      return true;
  }
  return false;
}

}  // namespace

// The ledger of registrations: its file as it stands, shown only on request.
bool PrintLedger(const SnapshotContext& c, std::string& out, std::string& error) {
  std::ifstream in(c.root + "/ledger/ledger.txt", std::ios::binary);
  if (!in) return true;  // no registration has been recorded yet
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "cannot read " + c.root + "/ledger/ledger.txt";
    return false;
  }
  out += bytes;
  return true;
}

bool PrintFiles(const SnapshotContext& c, std::string& out, std::string& error) {
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, fs::path>> entries;
  std::error_code ec;
  fs::recursive_directory_iterator it(c.root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string relative = fs::relative(it->path(), c.root, ec).generic_string();
    if (ec) break;
    if (IsOwned(c.ownedFiles, relative)) continue;
    entries.emplace_back(relative, it->path());
  }
  if (ec) {
    error = "cannot walk " + c.root + ": " + ec.message();
    return false;
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& [relative, path] : entries) {
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec) {
      error = "cannot read " + path.string();
      return false;
    }
    if (fs::is_symlink(status)) {
      out += "l " + relative + " -> " + c.RootRelative(fs::read_symlink(path, ec).string()) + "\n";
    } else if (fs::is_directory(status)) {
      out += "d " + relative + "/\n";
    } else if (fs::is_regular_file(status)) {
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.good() && !in.eof()) {
        error = "cannot read " + path.string();
        return false;
      }
      const bool text = IsShownAsText(bytes);
      if (text) bytes = c.RootRelative(bytes);
      out += "f " + relative + " " + std::to_string(bytes.size()) + " sha256:" + Sha256(bytes) + "\n";
      if (!text) continue;
      size_t i = 0;
      while (i < bytes.size()) {
        size_t j = bytes.find('\n', i);
        const bool last = j == std::string::npos;
        if (last) j = bytes.size();
        out += "  | " + bytes.substr(i, j - i) + (last ? "\n  \\ no line end\n" : "\n");
        i = j + 1;
      }
    } else {
      out += "? " + relative + "\n";
    }
  }
  return true;
}

namespace {

const Command kSnapshot{"snapshot", "snapshot [--section NAME]... [--relative]",
                        "prints the whole host state as canonical sorted text (--relative writes the root as $ROOT)",
                        nullptr};

}  // namespace

int RunSnapshot(std::vector<std::string>& args) {
  SnapshotContext c;
  c.relative = TakeFlag(args, "--relative");
  std::vector<std::string> wanted;
  bool ok = true;
  std::string name;
  while (TakeOption(args, "--section", name, ok)) wanted.push_back(name);
  if (!ok) return kUsage;
  if (!args.empty()) return UsageError("unexpected argument '" + args[0] + "'", kSnapshot);
  if (!RequireRoot()) return kFailed;
  if (sodium_init() < 0) {
    Error("the hash library cannot be initialised");
    return kFailed;
  }
  c.root = Root();
  const auto sections = SnapshotSections();
  for (const auto& s : sections) c.ownedFiles.insert(c.ownedFiles.end(), s.ownedFiles.begin(), s.ownedFiles.end());
  for (const auto& w : wanted) {
    if (std::any_of(sections.begin(), sections.end(), [&](const SnapshotSection& s) { return w == s.name; })) continue;
    std::string known;
    for (const auto& s : sections) known += (known.empty() ? "" : ", ") + std::string(s.name);
    return UsageError("there is no snapshot section '" + w + "'; the sections are " + known, kSnapshot);
  }
  std::string out;
  for (const auto& s : sections) {
    const bool named = std::find(wanted.begin(), wanted.end(), s.name) != wanted.end();
    if (wanted.empty() ? s.onRequest : !named) continue;
    std::string text, error;
    if (!s.print(c, text, error)) {
      Error("snapshot section " + std::string(s.name) + ": " + error);
      return kFailed;
    }
    out += "== " + std::string(s.name) + " ==\n" + c.RootRelative(text);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

const Command kSnapshotCommand{kSnapshot.name, kSnapshot.synopsis, kSnapshot.summary, RunSnapshot};

}  // namespace vrhost
