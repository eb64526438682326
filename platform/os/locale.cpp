#include "platform/os/locale.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fault/fault.h"

namespace vr::os {

LANGID GetUserDefaultLangId() {
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) { name = v; break; }
  }
  if (!name) return 0x409;
  const std::string s(name);
  if (s.rfind("ja", 0) == 0) return 0x411;
  if (s.rfind("ko", 0) == 0) return 0x412;
  if (s.rfind("zh_CN", 0) == 0) return 0x804;
  return 0x409;
}

bool GetListSeparator(WString& out) {
  if (vr::fault::Hit("os.GetListSeparator")) return false;
  const char* numeric = nullptr;
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) { numeric = v; break; }
  }
  bool commaDecimal = false;
  if (numeric) {
    // Ask the locale itself when it is installed; otherwise nothing is assumed.
    locale_t loc = newlocale(LC_NUMERIC_MASK, numeric, static_cast<locale_t>(0));
    if (loc != static_cast<locale_t>(0)) {
      const char* dp = nl_langinfo_l(RADIXCHAR, loc);
      commaDecimal = dp && std::strcmp(dp, ",") == 0;
      freelocale(loc);
    }
  }
  out = commaDecimal ? u";" : u",";
  return true;
}

}  // namespace vr::os
