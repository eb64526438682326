// The message catalogue of tessera: every user-visible text, by identifier.
#pragma once
#include <initializer_list>
#include <string>

#include "platform/text/wstring.h"
#include "tessera/MessageIds.h"

namespace vr::msg {

// The catalogue text of an identifier, nullptr when there is none.
const char16_t* CatalogueText(unsigned id);

// The text of an identifier with "%1" to "%9" (and typed forms such as "%2!d!") replaced by
// the arguments. A missing identifier gives an empty text. Inserts are made in one pass, so
// an argument that itself holds "%n" stays as it is.
WString LoadMessageList(unsigned id, std::initializer_list<WString> args);

// An argument of LoadMessage: text, or an integer passed as its decimal text.
struct MessageArg {
  MessageArg(const WString& s) : text(s) {}
  MessageArg(WStringView s) : text(s) {}
  MessageArg(const char16_t* s) : text(s ? s : u"") {}
  MessageArg(int n);
  MessageArg(long n);
  MessageArg(unsigned n);
  MessageArg(unsigned long n);
  WString text;
};

template <class... A>
WString LoadMessage(unsigned id, const A&... args) {
  return LoadMessageList(id, {MessageArg(args).text...});
}

// The same calls by name; call sites use these, the numbered ones stay for tests and tables.
inline const char16_t* CatalogueText(MessageId id) { return CatalogueText(ToNumber(id)); }

inline WString LoadMessageList(MessageId id, std::initializer_list<WString> args) {
  return LoadMessageList(ToNumber(id), args);
}

template <class... A>
WString LoadMessage(MessageId id, const A&... args) {
  return LoadMessageList(ToNumber(id), {MessageArg(args).text...});
}

}  // namespace vr::msg
