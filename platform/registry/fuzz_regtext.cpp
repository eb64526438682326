// libFuzzer target: arbitrary bytes as .reg text. Parsing never crashes or hangs, and what
// parses is written back and parses again to the same operations.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry/regtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vr::registry::RegOperation;
  std::vector<RegOperation> ops;
  std::string error;
  if (!vr::registry::ParseRegText(std::string_view(reinterpret_cast<const char*>(data), size), ops, error)) return 0;
  std::string text = vr::registry::RegHeader();
  for (const RegOperation& op : ops) {
    if (op.kind == RegOperation::Kind::CreateKey) text += vr::registry::RegKeyLine(op.key);
    if (op.kind == RegOperation::Kind::SetValue) text += vr::registry::RegValueLine(op.name, op.type, op.data);
  }
  std::vector<RegOperation> again;
  if (!vr::registry::ParseRegText(text, again, error)) __builtin_trap();
  return 0;
}
