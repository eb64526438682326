// Helpers of the DOM tests: a scratch folder, files in it, and a document loaded from it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "platform/xml/dom.h"
#include "tests/support/FolderFixture.h"
#include "tests/support/HostTestSupport.h"

namespace vr::xml::test {

// The test's scratch folder: the test support's own temporary folder, removed with everything
// in it at destruction.
using ScratchDir = vr::testing::TempDir;

// COM for the test's thread, no fault left over from another test, and a scratch folder.
class DomTest : public vr::testing::FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    CoUninitialize();
    FolderFixture::TearDown();
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

  const ScratchDir& dir_ = folder();
};

}  // namespace vr::xml::test
