#include "mordant/PlatformLists.h"

WString DeriveCpuKey(WStringView description) {
  WString key;
  for (WChar c : description) {
    if (c == u' ') break;
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) key.push_back(c);
  }
  return key;
}
