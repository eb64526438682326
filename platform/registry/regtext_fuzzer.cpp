// libFuzzer target: arbitrary bytes as .reg text. Parsing never crashes or hangs, and the keys
// and values of what parses (a REGEDIT4 file's included) are written back in the current
// format and parse again to the same keys and values.
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
  size_t j = 0;
  for (const RegOperation& op : ops) {
    if (op.kind != RegOperation::Kind::CreateKey && op.kind != RegOperation::Kind::SetValue) continue;
    if (j >= again.size()) __builtin_trap();
    const RegOperation& b = again[j++];
    if (b.kind != op.kind || b.key != op.key || b.name != op.name || b.type != op.type || b.data != op.data)
      __builtin_trap();
  }
  if (j != again.size()) __builtin_trap();
  return 0;
}
