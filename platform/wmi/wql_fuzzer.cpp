// libFuzzer: the WQL parser on any text.
#include <string>

#include "platform/text/convert.h"
#include "platform/wmi/wql.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vr::wmi::WqlQuery query;
  WString why;
  const HRESULT hr =
      vr::wmi::ParseWql(vr::text::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size)), &query, &why);
  if (FAILED(hr) && why.empty()) __builtin_trap();
  return 0;
}
