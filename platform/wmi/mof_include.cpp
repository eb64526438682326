#include "platform/wmi/mof_include.h"

#include <string>
#include <vector>

#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::wmi {
namespace {

WString FolderOf(WStringView file) {
  const size_t slash = file.find_last_of(u"/\\");
  return slash == WStringView::npos ? WString() : WString(file.substr(0, slash));
}

WString Join(const WString& folder, const WString& name) {
  if (folder.empty()) return name;
  return folder.back() == u'/' ? folder + name : folder + u"/" + name;
}

// The folder's entry of that name, exactly or else in another letter case.
bool FindEntry(const WString& folder, const WString& name, WString* found) {
  const WString exact = Join(folder, name);
  if (vr::os::FileExists(exact) || vr::os::DirectoryExists(exact)) {
    *found = name;
    return true;
  }
  std::vector<vr::os::DirEntry> entries;
  if (vr::os::ListDirectory(folder.empty() ? WString(u".") : folder, entries) != 0) return false;
  for (const auto& e : entries)
    if (vr::text::EqualsNoCase(e.name, name)) {
      *found = e.name;
      return true;
    }
  return false;
}

}  // namespace

std::function<bool(WStringView, WStringView, MofIncludedFile*, WString*)> MofFileIncludes(WString topFile) {
  if (topFile == u"-") topFile.clear();
  return [topFile](WStringView includingFile, WStringView name, MofIncludedFile* out, WString* why) {
    const WString folder = FolderOf(includingFile.empty() ? WStringView(topFile) : includingFile);
    // The name's folders, with "." and ".." worked out; none may lead above the folder.
    std::vector<WString> parts;
    WString part;
    const WString whole(name);
    if (whole.empty()) {
      *why = u"the file name is empty";
      return false;
    }
    if (whole[0] == u'/' || whole[0] == u'\\' || (whole.size() > 1 && whole[1] == u':')) {
      *why = u"only a name relative to the including file's folder can be included";
      return false;
    }
    for (size_t i = 0; i <= whole.size(); ++i) {
      if (i < whole.size() && whole[i] != u'/' && whole[i] != u'\\') {
        part.push_back(whole[i]);
        continue;
      }
      if (part == u"..") {
        if (parts.empty()) {
          *why = u"the file is outside the including file's folder";
          return false;
        }
        parts.pop_back();
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    }
    if (parts.empty()) {
      *why = u"the name names no file";
      return false;
    }
    WString path = folder;
    for (const auto& p : parts) {
      WString found;
      if (!FindEntry(path, p, &found)) {
        *why = u"there is no such file";
        return false;
      }
      path = Join(path, found);
    }
    if (!vr::os::FileExists(path)) {
      *why = u"it is not a file";
      return false;
    }
    std::string bytes;
    if (long e = vr::os::ReadWholeFile(path, bytes); e != 0) {
      *why = u"the file cannot be read (error " + vr::text::Utf8ToWide(std::to_string(e)) + u")";
      return false;
    }
    if (!DecodeMofBytes(bytes, &out->text)) {
      *why = u"not a MOF text (UTF-8, or UTF-16 with a byte-order mark)";
      return false;
    }
    out->name = path;
    return true;
  };
}

}  // namespace vr::wmi
