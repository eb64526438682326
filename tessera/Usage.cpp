#include "tessera/Usage.h"

#include "tessera/Messages.h"

namespace vr::front {
namespace {

WString Lines(unsigned first, unsigned last) {
  WString text = u"\n";
  for (unsigned id = first; id <= last; ++id) text += vr::msg::LoadMessage(id);
  return text;
}

}  // namespace

WString UsageText() { return Lines(2600, 2606); }
WString HelpText() { return Lines(2700, 2730); }

}  // namespace vr::front
