// The XML DOM the programs load their registration files with, shaped after the document,
// node and parse-error interfaces of the system's DOM. The document is created through
// CoCreateInstance(CLSID_DOMDocument, ..., IID_IXMLDOMDocument2, ...).
//
// Loading is hardened: the file is read with a size bound, the document must name its
// document type definition by a bare file name ending in ".dtd" ("VrNPConfig.dtd"), which is
// looked for beside the document and then in the installed data folder (vr::os::DataDir); nothing is fetched from the network, no
// other external resource is opened, entity declarations are refused, and nesting depth and
// attribute length are bounded. A document that breaks any of these fails to load like one
// that is not well formed.
//
// Fault points (the code is returned as the call's HRESULT; 0 stands for E_FAIL):
//   xml.CreateDocument    the class factory: CoCreateInstance fails (0: REGDB_E_CLASSNOTREG)
//   xml.PutProperty       put_validateOnParse, put_async
//   xml.Load              load: code 0 reads as an unreadable file (S_FALSE, no success)
//   xml.GetDocumentElement  code 1 (S_FALSE) reads as a document without root element
//   xml.GetChildNodes, xml.NextNode, xml.GetNodeName, xml.GetText, xml.GetXml,
//   xml.GetAttribute
//
// Folder platform/xml, library vr_xml: host layer of the DOM over libxml2; uses platform/os,
// com, text and fault.
#pragma once
#include <cstddef>
#include <memory>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/text/wstring.h"

// The version-independent document class and its document interface.
extern const CLSID CLSID_DOMDocument;    // f6d90f11-9c73-11d3-b32e-00c04f990bb4
extern const IID IID_IXMLDOMDocument2;   // 2933bf95-7b36-11d2-b20e-00c04f983e60

enum DOMNodeType {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_ENTITY_REFERENCE = 5,
  NODE_ENTITY = 6,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
  NODE_DOCUMENT_TYPE = 10,
  NODE_DOCUMENT_FRAGMENT = 11,
  NODE_NOTATION = 12
};

namespace vr::xml {

// Bounds of a load. A document beyond any of them fails to load.
constexpr size_t kMaxDocumentBytes = size_t(256) << 20;   // the file itself
constexpr size_t kMaxDtdBytes = size_t(1) << 20;          // its document type definition
constexpr unsigned kMaxDepth = 256;                        // element nesting
constexpr size_t kMaxAttributeBytes = size_t(64) << 10;   // one attribute value (UTF-8)

}  // namespace vr::xml

class IXMLDOMNodeList;

class IXMLDOMNode : public IUnknown {
 public:
  virtual HRESULT get_nodeType(DOMNodeType* type) = 0;
  // Elements: the qualified tag name; text "#text", CDATA "#cdata-section", comments
  // "#comment", the document "#document".
  virtual HRESULT get_nodeName(WString* name) = 0;
  // Elements and the document: every descendant text joined, without leading and trailing
  // white space. Text, CDATA and comment nodes: their content as it stands.
  virtual HRESULT get_text(WString* text) = 0;
  // The node's markup as the DOM serialises it.
  virtual HRESULT get_xml(WString* xml) = 0;
  virtual HRESULT get_childNodes(std::shared_ptr<IXMLDOMNodeList>* list) = 0;
  // S_FALSE and an empty pointer when there is none.
  virtual HRESULT get_firstChild(std::shared_ptr<IXMLDOMNode>* child) = 0;
  virtual HRESULT get_nextSibling(std::shared_ptr<IXMLDOMNode>* sibling) = 0;
};

class IXMLDOMElement : public IXMLDOMNode {
 public:
  virtual HRESULT get_tagName(WString* name) = 0;
  // VT_BSTR with the value (a default of the document type definition included); S_FALSE
  // and VT_NULL when the element has no such attribute. Names are compared exactly.
  virtual HRESULT getAttribute(WStringView name, Variant* value) = 0;
};

class IXMLDOMNodeList : public IUnknown {
 public:
  virtual HRESULT get_length(long* length) = 0;
  // S_FALSE and an empty pointer outside 0 .. length-1.
  virtual HRESULT get_item(long index, std::shared_ptr<IXMLDOMNode>* node) = 0;
  // The next node of the list's own iterator; S_FALSE and an empty pointer at the end.
  virtual HRESULT nextNode(std::shared_ptr<IXMLDOMNode>* node) = 0;
  virtual HRESULT reset() = 0;
};

class IXMLDOMParseError : public IUnknown {
 public:
  // 0 after a successful load.
  virtual HRESULT get_errorCode(long* code) = 0;
  virtual HRESULT get_reason(WString* reason) = 0;
  virtual HRESULT get_url(WString* url) = 0;
  virtual HRESULT get_line(long* line) = 0;
  virtual HRESULT get_linepos(long* column) = 0;
};

class IXMLDOMDocument2 : public IXMLDOMNode {
 public:
  // Validation against the document type definition the document names (default on).
  virtual HRESULT put_validateOnParse(VARIANT_BOOL validate) = 0;
  virtual HRESULT get_validateOnParse(VARIANT_BOOL* validate) = 0;
  // Loads here always complete before load returns; the property is kept for callers that set it.
  virtual HRESULT put_async(VARIANT_BOOL async) = 0;
  // Replaces the document by the file (a path; '\' and '/' alike). S_OK and VARIANT_TRUE on
  // success; S_FALSE and VARIANT_FALSE when the file is missing, unreadable, not well formed,
  // not valid or beyond a bound (parse error says why), the document then being empty.
  virtual HRESULT load(WStringView path, VARIANT_BOOL* success) = 0;
  // S_FALSE and an empty pointer when the document has no root element.
  virtual HRESULT get_documentElement(std::shared_ptr<IXMLDOMElement>* root) = 0;
  virtual HRESULT get_parseError(std::shared_ptr<IXMLDOMParseError>* error) = 0;
};

namespace vr::xml {

// The element interface of a node, or empty when the node is not an element.
std::shared_ptr<IXMLDOMElement> AsElement(const std::shared_ptr<IXMLDOMNode>& node);

}  // namespace vr::xml
