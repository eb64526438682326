// libFuzzer: the MOF reader on any bytes. Whatever it accepts, the writer's text of each class
// must read back to the same text.
#include <cstdlib>
#include <string>

#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WString text;
  if (!vr::wmi::DecodeMofBytes(std::string(reinterpret_cast<const char*>(data), size), &text)) return 0;
  vr::wmi::MofDocument doc;
  vr::wmi::MofError error;
  if (FAILED(vr::wmi::ReadMof(text, u"root", &doc, &error))) {
    if (error.position.line == 0 || error.message.empty()) std::abort();
    return 0;
  }
  for (const auto& s : doc.statements) {
    if (s.kind != vr::wmi::MofStatement::Kind::kClass) continue;
    const WString once = vr::wmi::MofClassText(s.cls, 0);
    vr::wmi::MofDocument again;
    if (FAILED(vr::wmi::ReadMof(once, u"root", &again, &error)) || again.statements.size() != 1) std::abort();
    if (vr::wmi::MofClassText(again.statements[0].cls, 0) != once) std::abort();
  }
  return 0;
}
