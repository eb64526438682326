// libFuzzer: object paths and namespace paths on any text; keys of accepted paths are
// compared against a class with a string, an integer and a reference key.
#include <string>

#include "platform/text/convert.h"
#include "platform/wmi/object_path.h"

namespace {

std::shared_ptr<const vr::wmi::ResolvedClass> KeyedClass() {
  vr::wmi::ClassDecl d;
  d.name = u"K";
  const std::pair<const char16_t*, CIMTYPE> keys[] = {{u"S", CIM_STRING}, {u"N", CIM_SINT32}, {u"R", CIM_REFERENCE}};
  for (const auto& [name, type] : keys) {
    vr::wmi::PropertyDef p;
    p.name = name;
    p.type = type;
    p.qualifiers.Set({u"key", Variant(true), 0});
    d.properties.push_back(p);
  }
  std::shared_ptr<const vr::wmi::ResolvedClass> cls;
  vr::wmi::ResolveClass(d, nullptr, &cls, nullptr);
  return cls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto cls = KeyedClass();
  const WString text = vr::text::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  vr::wmi::ObjectPath path;
  if (SUCCEEDED(vr::wmi::ParseObjectPath(text, &path))) {
    WString key;
    vr::wmi::CanonicalPathKey(*cls, path, u"root", &key);
  }
  WString server, ns;
  vr::wmi::ParseNamespacePath(text, &server, &ns);
  return 0;
}
