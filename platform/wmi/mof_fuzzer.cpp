// libFuzzer: the MOF reader on any bytes. Whatever it accepts, the writer's text of each class
// and qualifier declaration must read back, as the repository reads what it stored, to the
// same text. An include pragma includes the input itself, so nesting and its limit are run.
#include <cstdlib>
#include <string>

#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WString text;
  if (!vr::wmi::DecodeMofBytes(std::string(reinterpret_cast<const char*>(data), size), &text)) return 0;
  vr::wmi::MofReadOptions options;
  options.include = [&](WStringView, WStringView name, vr::wmi::MofIncludedFile* out, WString* why) {
    if (name.empty()) {
      *why = u"empty name";
      return false;
    }
    out->name = WString(name);
    out->text = text;
    return true;
  };
  vr::wmi::MofDocument doc;
  vr::wmi::MofError error;
  if (FAILED(vr::wmi::ReadMof(text, u"root", &doc, &error, &options))) {
    if (error.position.line == 0 || error.message.empty()) std::abort();
    return 0;
  }
  vr::wmi::MofReadOptions stored;
  stored.storedText = true;
  for (const auto& s : doc.statements) {
    WString once;
    if (s.kind == vr::wmi::MofStatement::Kind::kClass) once = vr::wmi::MofClassText(s.cls, 0);
    else if (s.kind == vr::wmi::MofStatement::Kind::kQualifier) once = vr::wmi::MofQualifierDeclText(s.qualifier);
    else continue;
    vr::wmi::MofDocument again;
    if (FAILED(vr::wmi::ReadMof(once, u"root", &again, &error, &stored)) || again.statements.size() != 1) std::abort();
    const auto& a = again.statements[0];
    const WString twice = a.kind == vr::wmi::MofStatement::Kind::kClass ? vr::wmi::MofClassText(a.cls, 0)
                                                                        : vr::wmi::MofQualifierDeclText(a.qualifier);
    if (twice != once) std::abort();
  }
  return 0;
}
