// Helpers of the DOM tests: a scratch folder, files in it, and a document loaded from it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "platform/xml/dom.h"

namespace vr::xml::test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = ::testing::TempDir() + "/vrxml.XXXXXX";
    char* made = ::mkdtemp(tmpl.data());
    if (made) path_ = made;
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  std::string path_;
};

// COM for the test's thread, and no fault left over from another test.
class DomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    vr::fault::Reset();
  }
  void TearDown() override {
    vr::fault::Reset();
    CoUninitialize();
  }

  static std::shared_ptr<IXMLDOMDocument2> NewDocument() {
    std::shared_ptr<IUnknown> unk;
    if (FAILED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument2, &unk)))
      return nullptr;
    return std::dynamic_pointer_cast<IXMLDOMDocument2>(unk);
  }

  // Loads the file; the parse error's reason when it fails, "" when it loads.
  static std::string LoadFails(IXMLDOMDocument2& doc, const std::string& path) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = doc.load(vr::text::Utf8ToWide(path), &ok);
    if (hr == S_OK && ok == VARIANT_TRUE) return "";
    std::shared_ptr<IXMLDOMParseError> err;
    doc.get_parseError(&err);
    WString reason;
    if (err) err->get_reason(&reason);
    std::string r = vr::text::WideToUtf8(reason);
    if (std::getenv("VR_XML_TEST_VERBOSE")) fprintf(stderr, "load %s: %s\n", path.c_str(), r.c_str());
    return r.empty() ? "(no reason)" : r;
  }

  ScratchDir dir_;
};

}  // namespace vr::xml::test
