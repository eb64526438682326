#include <gtest/gtest.h>

#include "platform/xml/xml_test_util.h"
#include "tests/support/HostTestSupport.h"

using vr::xml::test::DomTest;

namespace {

const char* kSmallDtd =
    "<!ELEMENT Root (Item | Note)*>\n"
    "<!ATTLIST Root version CDATA #IMPLIED kind CDATA 'plain'>\n"
    "<!ELEMENT Item (#PCDATA | Sub)*>\n"
    "<!ATTLIST Item name CDATA #REQUIRED>\n"
    "<!ELEMENT Sub (#PCDATA)>\n"
    "<!ELEMENT Note (#PCDATA)>\n";

const char* kSmallDoc =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE Root SYSTEM \"Small.dtd\">\n"
    "<Root version=\"A.07.50|A.07.51\">\n"
    "  <!-- a comment -->\n"
    "  <Item name=\"first\">\n    one \xC3\xA9\n  </Item>\n"
    "  <Item name=\"second\">two<Sub> and <![CDATA[<three>]]></Sub> </Item>\n"
    "  <Note/>\n"
    "</Root>\n";

// The element children of a node, by walking its child list.
std::vector<std::shared_ptr<IXMLDOMElement>> Elements(IXMLDOMNode& parent) {
  std::vector<std::shared_ptr<IXMLDOMElement>> out;
  std::shared_ptr<IXMLDOMNodeList> list;
  EXPECT_EQ(parent.get_childNodes(&list), S_OK);
  std::shared_ptr<IXMLDOMNode> n;
  while (list->nextNode(&n) == S_OK)
    if (auto e = vr::xml::AsElement(n)) out.push_back(e);
  return out;
}

WString Name(IXMLDOMNode& n) { WString s; EXPECT_EQ(n.get_nodeName(&s), S_OK); return s; }
WString Text(IXMLDOMNode& n) { WString s; EXPECT_EQ(n.get_text(&s), S_OK); return s; }

}  // namespace

TEST_F(DomTest, LoadsValidDocumentAndWalksIt) {
  dir_.Write("Small.dtd", kSmallDtd);
  auto doc = NewDocument();
  ASSERT_TRUE(doc);
  ASSERT_EQ(LoadFails(*doc, dir_.Write("a.xml", kSmallDoc)), "");

  std::shared_ptr<IXMLDOMElement> root;
  ASSERT_EQ(doc->get_documentElement(&root), S_OK);
  EXPECT_EQ(Name(*root), u"Root");
  Variant v;
  EXPECT_EQ(root->getAttribute(u"version", &v), S_OK);
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(v.bstrVal, u"A.07.50|A.07.51");
  // A default of the DTD is an attribute like any other; a missing one is VT_NULL / S_FALSE.
  EXPECT_EQ(root->getAttribute(u"kind", &v), S_OK);
  EXPECT_EQ(v.bstrVal, u"plain");
  EXPECT_EQ(root->getAttribute(u"Version", &v), S_FALSE);
  EXPECT_EQ(v.vt, VT_NULL);

  auto items = Elements(*root);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(Name(*items[0]), u"Item");
  EXPECT_EQ(Text(*items[0]), u"one \u00e9");   // trimmed, UTF-8 decoded
  EXPECT_EQ(Text(*items[1]), u"two and <three>");  // descendants and CDATA joined
  EXPECT_EQ(Text(*items[2]), u"");

  WString xml;
  EXPECT_EQ(items[1]->get_xml(&xml), S_OK);
  EXPECT_EQ(xml, u"<Item name=\"second\">two<Sub> and &lt;three&gt;</Sub> </Item>");
  EXPECT_EQ(items[0]->get_xml(&xml), S_OK);
  EXPECT_NE(xml.find(u"\u00e9"), WString::npos);  // characters stay characters

  // Every kind of child is in the list: text, comment, elements.
  std::shared_ptr<IXMLDOMNodeList> list;
  ASSERT_EQ(root->get_childNodes(&list), S_OK);
  long length = 0;
  list->get_length(&length);
  EXPECT_EQ(length, 9);
  std::shared_ptr<IXMLDOMNode> n;
  ASSERT_EQ(list->get_item(1, &n), S_OK);
  EXPECT_EQ(Name(*n), u"#comment");
  DOMNodeType type;
  n->get_nodeType(&type);
  EXPECT_EQ(type, NODE_COMMENT);
  EXPECT_FALSE(vr::xml::AsElement(n));
  EXPECT_EQ(list->get_item(9, &n), S_FALSE);
  EXPECT_FALSE(n);
  EXPECT_EQ(list->get_item(-1, &n), S_FALSE);

  // Sibling walk reaches the same elements.
  std::shared_ptr<IXMLDOMNode> c;
  ASSERT_EQ(root->get_firstChild(&c), S_OK);
  int elements = 0;
  while (c) {
    if (vr::xml::AsElement(c)) ++elements;
    std::shared_ptr<IXMLDOMNode> next;
    c->get_nextSibling(&next);
    c = next;
  }
  EXPECT_EQ(elements, 3);
}

TEST_F(DomTest, NodesOutliveTheirDocumentsNextLoad) {
  dir_.Write("Small.dtd", kSmallDtd);
  auto doc = NewDocument();
  ASSERT_EQ(LoadFails(*doc, dir_.Write("a.xml", kSmallDoc)), "");
  std::shared_ptr<IXMLDOMElement> root;
  doc->get_documentElement(&root);
  auto items = Elements(*root);
  // A failed load empties the document, but what was handed out stays readable.
  EXPECT_NE(LoadFails(*doc, dir_.path() + "/missing.xml"), "");
  std::shared_ptr<IXMLDOMElement> none;
  EXPECT_EQ(doc->get_documentElement(&none), S_FALSE);
  EXPECT_FALSE(none);
  EXPECT_EQ(Text(*items[1]), u"two and <three>");
}

TEST_F(DomTest, ValidationFailuresAndWhereTheDtdIsFound) {
  auto doc = NewDocument();
  // No DTD anywhere.
  const std::string doc1 = dir_.Write("a.xml", kSmallDoc);
  EXPECT_NE(LoadFails(*doc, doc1).find("Small.dtd"), std::string::npos);

  // Found in the installed data folder when not beside the document.
  vr::xml::test::ScratchDir data;
  data.Write("Small.dtd", kSmallDtd);
  {
    vr::testing::ScopedEnv dataDir("VR_DATA_DIR", data.path());
    EXPECT_EQ(LoadFails(*doc, doc1), "");
    // Beside the document wins over the data folder.
    dir_.Write("Small.dtd", "<!ELEMENT Root EMPTY>");
    EXPECT_NE(LoadFails(*doc, doc1), "");
  }

  dir_.Write("Small.dtd", kSmallDtd);
  // Not valid: an undeclared element, a missing required attribute, another root.
  EXPECT_NE(LoadFails(*doc, dir_.Write("b.xml", "<!DOCTYPE Root SYSTEM \"Small.dtd\"><Root><Bad/></Root>")), "");
  EXPECT_NE(LoadFails(*doc, dir_.Write("c.xml", "<!DOCTYPE Root SYSTEM \"Small.dtd\"><Root><Item/></Root>")), "");
  EXPECT_NE(LoadFails(*doc, dir_.Write("d.xml", "<!DOCTYPE Root SYSTEM \"Small.dtd\"><Note/>")), "");
  // Not well formed, empty, no DTD named at all, a DTD named by a path.
  const std::string bad = LoadFails(*doc, dir_.Write("e.xml", "<!DOCTYPE Root SYSTEM \"Small.dtd\">\n<Root>\n<Item name='x'></Root>"));
  EXPECT_NE(bad, "");
  EXPECT_NE(LoadFails(*doc, dir_.Write("f.xml", "")), "");
  EXPECT_NE(LoadFails(*doc, dir_.Write("g.xml", "<Root/>")).find("names no document type"), std::string::npos);
  EXPECT_NE(LoadFails(*doc, dir_.Write("h.xml", "<!DOCTYPE Root SYSTEM \"./Small.dtd\"><Root/>")).find("file name"),
            std::string::npos);
  EXPECT_NE(LoadFails(*doc, dir_.Write("i.xml", "<!DOCTYPE Root [<!ELEMENT Root EMPTY>]><Root/>")), "");

  // The parse error tells where.
  LoadFails(*doc, dir_.path() + "/e.xml");
  std::shared_ptr<IXMLDOMParseError> err;
  doc->get_parseError(&err);
  long code = 0, line = 0;
  err->get_errorCode(&code);
  err->get_line(&line);
  EXPECT_NE(code, 0);
  EXPECT_EQ(line, 3);

  // Without validation the DTD is not even read.
  doc->put_validateOnParse(VARIANT_FALSE);
  EXPECT_EQ(LoadFails(*doc, dir_.Write("j.xml", "<!DOCTYPE Root SYSTEM \"Nowhere.dtd\"><Root><Bad/></Root>")), "");
  // Backslashes in the path are folder separators.
  std::string back = dir_.path() + "\\j.xml";
  EXPECT_EQ(LoadFails(*doc, back), "");
}

TEST_F(DomTest, FaultPointsFailTheirCalls) {
  dir_.Write("Small.dtd", kSmallDtd);
  const std::string path = dir_.Write("a.xml", kSmallDoc);

  vr::fault::Configure("xml.CreateDocument#1");
  EXPECT_FALSE(NewDocument());
  vr::fault::Reset();
  auto doc = NewDocument();
  ASSERT_TRUE(doc);

  vr::fault::Configure("xml.PutProperty#1=0x8007000E");
  EXPECT_EQ(doc->put_validateOnParse(VARIANT_TRUE), E_OUTOFMEMORY);
  EXPECT_EQ(doc->put_async(VARIANT_FALSE), S_OK);

  vr::fault::Configure("xml.Load#1");
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(doc->load(vr::text::Utf8ToWide(path), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(doc->load(vr::text::Utf8ToWide(path), &ok), S_OK);

  vr::fault::Configure("xml.GetDocumentElement#1=1;xml.GetDocumentElement#2=0x80004005");
  std::shared_ptr<IXMLDOMElement> root;
  EXPECT_EQ(doc->get_documentElement(&root), S_FALSE);
  EXPECT_FALSE(root);
  EXPECT_EQ(doc->get_documentElement(&root), E_FAIL);
  ASSERT_EQ(doc->get_documentElement(&root), S_OK);

  vr::fault::Configure("xml.GetChildNodes#1;xml.NextNode#1;xml.GetNodeName#1;xml.GetText#1;xml.GetXml#1;xml.GetAttribute#1");
  std::shared_ptr<IXMLDOMNodeList> list;
  EXPECT_EQ(root->get_childNodes(&list), E_FAIL);
  ASSERT_EQ(root->get_childNodes(&list), S_OK);
  std::shared_ptr<IXMLDOMNode> n;
  EXPECT_EQ(list->nextNode(&n), E_FAIL);
  WString s;
  EXPECT_EQ(root->get_nodeName(&s), E_FAIL);
  EXPECT_EQ(root->get_text(&s), E_FAIL);
  EXPECT_EQ(root->get_xml(&s), E_FAIL);
  Variant v;
  EXPECT_EQ(root->getAttribute(u"version", &v), E_FAIL);
  EXPECT_EQ(root->getAttribute(u"version", &v), S_OK);

  // A Win32 error given to a DOM call fails it with that error's HRESULT; a success code
  // lets a creation go ahead rather than answer success without a document.
  vr::fault::Configure("xml.GetText#1=5;xml.CreateDocument#1=0x40004");
  EXPECT_EQ(root->get_text(&s), static_cast<HRESULT>(0x80070005u));
  EXPECT_TRUE(NewDocument());
  vr::fault::Reset();
}

TEST_F(DomTest, CreationNeedsComOnTheThread) {
  CoUninitialize();
  std::shared_ptr<IUnknown> unk;
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument2, &unk),
            CO_E_NOTINITIALIZED);
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const IID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, other, &unk), E_NOINTERFACE);
}
