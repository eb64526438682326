// libFuzzer: any bytes as an ADO connection string (UTF-16, two bytes a unit), turned into an
// ODBC one as Connection::Open does, and split in three as the data source, user and password
// of a string that MakeConnectionString builds. A string that does not parse is refused with
// a reason; a made string always parses, gives back its password whole, and no reason ever
// holds a part of the input. A crash, a hang or a broken promise is a finding.
#include <cstdlib>
#include <string>

#include "platform/ado/ado.h"
#include "platform/ado/odbc_internal.h"

namespace {

// An empty host root: no data source of the host is expanded.
struct EmptyRoot {
  EmptyRoot() {
    char tmpl[] = "/tmp/vradofuzz.XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    ::setenv("VR_HOST_ROOT", tmpl, 1);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static EmptyRoot root;
  WString text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<WChar>(data[i] | (data[i + 1] << 8));

  WString odbc, why;
  const HRESULT hr = ADODB::ToOdbcConnectionString(text, u"", u"", &odbc, &why);
  if (FAILED(hr) && why.empty()) std::abort();
  vr::ado::PasswordInConnectionString(text);
  vr::ado::EmbeddedDatabaseFile(text);

  // The input as three values, split at its first two U+0001 units.
  const size_t a = text.find(u'\x01');
  const size_t b = a == WString::npos ? WString::npos : text.find(u'\x01', a + 1);
  const WString source = a == WString::npos ? u"VrDepot" : text.substr(0, a);
  const WString user = a == WString::npos ? u"user" : b == WString::npos ? text.substr(a + 1) : text.substr(a + 1, b - a - 1);
  const WString password = a == WString::npos ? text : b == WString::npos ? u"pw" : text.substr(b + 1);
  if (source.empty() || source.find(u'\0') != WString::npos) return 0;
  const WString made = ADODB::MakeConnectionString(source, user, password);
  if (vr::ado::PasswordInConnectionString(made) != password) std::abort();
  if (FAILED(ADODB::ToOdbcConnectionString(made, u"", u"", &odbc, &why))) std::abort();
  return 0;
}
