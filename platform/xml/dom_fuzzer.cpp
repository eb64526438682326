// libFuzzer: load any bytes as a document (with a DTD that allows anything beside it) and walk
// the whole tree through the DOM: names, attributes, text and markup of every node.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com/runtime.h"
#include "platform/xml/dom.h"

namespace {

const std::string& Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/vrxmlfuzz.XXXXXX";
    std::string d = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    // One folder per process, removed when the process ends. The handler reads the name from
    // a plain array: the string of this function is destroyed before the handler runs.
    static char made[sizeof tmpl];
    if (d != "/tmp") {
      std::memcpy(made, tmpl, sizeof tmpl);
      std::atexit([] { std::filesystem::remove_all(made); });
    }
    std::ofstream(d + "/Fuzz.dtd") << "<!ELEMENT Root ANY><!ELEMENT a ANY><!ELEMENT b ANY>"
                                      "<!ATTLIST a x CDATA #IMPLIED y CDATA 'd'>";
    return d;
  }();
  return dir;
}

void Walk(IXMLDOMNode& n, int budget) {
  WString s;
  n.get_nodeName(&s);
  n.get_text(&s);
  n.get_xml(&s);
  if (auto e = std::dynamic_pointer_cast<IXMLDOMElement>(std::shared_ptr<IXMLDOMNode>(&n, [](IXMLDOMNode*) {}))) {
    Variant v;
    e->getAttribute(u"x", &v);
    e->getAttribute(u"y", &v);
  }
  if (budget <= 0) return;
  std::shared_ptr<IXMLDOMNodeList> list;
  if (n.get_childNodes(&list) != S_OK) return;
  std::shared_ptr<IXMLDOMNode> c;
  while (list->nextNode(&c) == S_OK) Walk(*c, budget - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool com = SUCCEEDED(CoInitialize(nullptr));
  if (!com) return 0;
  const std::string path = Dir() + "/input.xml";
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
  std::shared_ptr<IUnknown> unk;
  if (FAILED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument2, &unk))) return 0;
  auto doc = std::dynamic_pointer_cast<IXMLDOMDocument2>(unk);
  for (VARIANT_BOOL validate : {VARIANT_TRUE, VARIANT_FALSE}) {
    doc->put_validateOnParse(validate);
    VARIANT_BOOL ok = VARIANT_FALSE;
    doc->load(u"" + std::u16string(path.begin(), path.end()), &ok);
    std::shared_ptr<IXMLDOMElement> root;
    if (ok == VARIANT_TRUE && doc->get_documentElement(&root) == S_OK) Walk(*root, 300);
  }
  return 0;
}
