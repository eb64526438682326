#include "tessera/Usage.h"

#include <algorithm>

#include "tessera/MessageIds.h"
#include "tessera/Messages.h"

namespace vr::front {
namespace {

using vr::msg::MessageId;

// "\n" and the catalogue's lines from first to last, in catalogue order.
WString Lines(MessageId first, MessageId last) {
  const auto* all = std::end(vr::msg::kAllMessageIds);
  const auto* from = std::find(std::begin(vr::msg::kAllMessageIds), all, first);
  const auto* to = std::find(from, all, last);
  WString text = u"\n";
  for (const auto* id = from; id != all && id <= to; ++id) text += vr::msg::LoadMessage(*id);
  return text;
}

}  // namespace

WString UsageText() { return Lines(MessageId::kUsageHeader, MessageId::kUsageHelp); }
WString HelpText() { return Lines(MessageId::kHelpIntro, MessageId::kHelpLineDelUndo2); }

}  // namespace vr::front
