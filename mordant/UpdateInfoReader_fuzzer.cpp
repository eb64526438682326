// libFuzzer target: the update-information readers on arbitrary bytes (any encoding, any
// content). The add reader runs with a change log, the remove reader after it, against a small
// model; neither may crash, hang or leak, whatever they report.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "mordant/UpdateInfoReader.h"
#include "platform/text/convert.h"

namespace {

std::string TempName(const char* what) {
  return "/tmp/mordant-fuzz-" + std::to_string(::getpid()) + "-" + what;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const SystemTypeList systemTypes{{u"Other", u"1", u"Other"}, {u"Intel x86", u"2", u"Intel"}};
  static const CpuOsList cpuOs{{u"Intel", {u"10"}}};
  static const OsTypeList osTypes{{u"HP-UX", u"3"}, {u"Windows NT", u"10"}};
  static const OsVersionList osVersions{{u"Unknown", u"0"}, {u"4.0", u"10400"}};
  const std::string input = TempName("in"), log = TempName("log");
  if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  const WString in = vr::text::Utf8ToWide(input), logName = vr::text::Utf8ToWide(log);
  SystemTypeList st;
  CpuOsList co;
  OsTypeList ot;
  OsVersionList ov;
  ReadUpdateInfo(in.c_str(), logName.c_str(), systemTypes, cpuOs, osTypes, osVersions, &st, &co, &ot, &ov);
  OsVersionList removed;
  ReadRemoveInfo(in.c_str(), osTypes, osVersions, &removed);
  std::remove(input.c_str());
  std::remove(log.c_str());
  return 0;
}
