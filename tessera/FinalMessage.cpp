#include "tessera/FinalMessage.h"

namespace vr::front {

WString& FinalMessage() {
  static WString message;
  return message;
}

void SetFinalMessage(WString text) { FinalMessage() = std::move(text); }

void ClearFinalMessage() { FinalMessage().clear(); }

}  // namespace vr::front
