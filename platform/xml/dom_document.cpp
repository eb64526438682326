// The DOM over libxml2: document, nodes, node lists and the parse error, and the class
// factory that CoCreateInstance finds for CLSID_DOMDocument.
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <vector>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/os/path.h"
#include "platform/text/convert.h"
#include "platform/xml/dom.h"
#include "platform/xml/safe_parse.h"

using vr::fault::InjectedHresult;

const CLSID CLSID_DOMDocument = {0xf6d90f11, 0x9c73, 0x11d3, {0xb3, 0x2e, 0x00, 0xc0, 0x4f, 0x99, 0x0b, 0xb4}};
const IID IID_IXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

namespace vr::xml {
namespace {

WString Wide(const xmlChar* s) {
  return s ? vr::text::Utf8ToWide(reinterpret_cast<const char*>(s)) : WString();
}

// One parsed tree; nodes and lists keep it alive after their document loaded another file.
struct Tree {
  explicit Tree(xmlDocPtr d) : doc(d) {}
  ~Tree() { detail::FreeDocument(doc); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  xmlDocPtr doc;
};
using TreePtr = std::shared_ptr<Tree>;

bool IsWhite(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

void Trim(WString& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsWhite(s[b])) ++b;
  while (e > b && IsWhite(s[e - 1])) --e;
  if (b > 0 || e < s.size()) s = s.substr(b, e - b);
}

// The text of every text and CDATA descendant in document order (iterative: depth is bounded
// by the parser, but a walk needs no stack anyway).
void CollectText(xmlNodePtr top, std::string& out) {
  xmlNodePtr n = top->children;
  while (n) {
    if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && n->content)
      out += reinterpret_cast<const char*>(n->content);
    if (n->type == XML_ELEMENT_NODE && n->children) { n = n->children; continue; }
    while (n && n != top && !n->next) n = n->parent;
    if (!n || n == top) break;
    n = n->next;
  }
}

DOMNodeType TypeOf(xmlNodePtr n) {
  switch (n->type) {
    case XML_ELEMENT_NODE: return NODE_ELEMENT;
    case XML_ATTRIBUTE_NODE: return NODE_ATTRIBUTE;
    case XML_TEXT_NODE: return NODE_TEXT;
    case XML_CDATA_SECTION_NODE: return NODE_CDATA_SECTION;
    case XML_ENTITY_REF_NODE: return NODE_ENTITY_REFERENCE;
    case XML_ENTITY_NODE: case XML_ENTITY_DECL: return NODE_ENTITY;
    case XML_PI_NODE: return NODE_PROCESSING_INSTRUCTION;
    case XML_COMMENT_NODE: return NODE_COMMENT;
    case XML_DOCUMENT_NODE: case XML_HTML_DOCUMENT_NODE: return NODE_DOCUMENT;
    case XML_DOCUMENT_TYPE_NODE: case XML_DTD_NODE: return NODE_DOCUMENT_TYPE;
    case XML_DOCUMENT_FRAG_NODE: return NODE_DOCUMENT_FRAGMENT;
    case XML_NOTATION_NODE: return NODE_NOTATION;
    default: return NODE_INVALID;
  }
}

WString NameOf(xmlNodePtr n) {
  switch (n->type) {
    case XML_ELEMENT_NODE: {
      WString name;
      if (n->ns && n->ns->prefix) { name = Wide(n->ns->prefix); name += u':'; }
      name += Wide(n->name);
      return name;
    }
    case XML_TEXT_NODE: return u"#text";
    case XML_CDATA_SECTION_NODE: return u"#cdata-section";
    case XML_COMMENT_NODE: return u"#comment";
    case XML_DOCUMENT_NODE: case XML_HTML_DOCUMENT_NODE: return u"#document";
    case XML_DOCUMENT_FRAG_NODE: return u"#document-fragment";
    default: return Wide(n->name);
  }
}

// The markup of a node, in UTF-8 so that no character is turned into a reference.
WString MarkupOf(xmlDocPtr doc, xmlNodePtr n) {
  xmlBufferPtr buf = xmlBufferCreate();
  if (!buf) return WString();
  WString out;
  if (xmlSaveCtxtPtr save = xmlSaveToBuffer(buf, "UTF-8", XML_SAVE_NO_DECL)) {
    if (n->type == XML_DOCUMENT_NODE) xmlSaveDoc(save, doc);
    else xmlSaveTree(save, n);
    xmlSaveClose(save);
    out = Wide(xmlBufferContent(buf));
  }
  xmlBufferFree(buf);
  return out;
}

std::shared_ptr<IXMLDOMNode> MakeNode(const TreePtr& tree, xmlNodePtr n);

// What every node answers; the document, elements and other nodes share it.
template <class Base>
class NodeImpl : public Base {
 public:
  NodeImpl(TreePtr tree, xmlNodePtr node) : tree_(std::move(tree)), node_(node) {}

  HRESULT get_nodeType(DOMNodeType* type) override {
    if (!type) return E_POINTER;
    *type = node_ ? TypeOf(node_) : NODE_DOCUMENT;
    return S_OK;
  }
  HRESULT get_nodeName(WString* name) override {
    if (!name) return E_POINTER;
    if (HRESULT hr = InjectedHresult("xml.GetNodeName", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    *name = node_ ? NameOf(node_) : WString(u"#document");
    return S_OK;
  }
  HRESULT get_text(WString* text) override {
    if (!text) return E_POINTER;
    if (HRESULT hr = InjectedHresult("xml.GetText", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    text->clear();
    if (!node_) return S_OK;
    if (node_->type == XML_ELEMENT_NODE || node_->type == XML_DOCUMENT_NODE) {
      std::string utf8;
      CollectText(node_, utf8);
      *text = vr::text::Utf8ToWide(utf8);
      Trim(*text);
    } else if (node_->content) {
      *text = Wide(node_->content);
    }
    return S_OK;
  }
  HRESULT get_xml(WString* xml) override {
    if (!xml) return E_POINTER;
    if (HRESULT hr = InjectedHresult("xml.GetXml", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    *xml = (node_ && tree_) ? MarkupOf(tree_->doc, node_) : WString();
    return S_OK;
  }
  HRESULT get_childNodes(std::shared_ptr<IXMLDOMNodeList>* list) override;
  HRESULT get_firstChild(std::shared_ptr<IXMLDOMNode>* child) override {
    if (!child) return E_POINTER;
    child->reset();
    if (!node_ || !node_->children) return S_FALSE;
    *child = MakeNode(tree_, node_->children);
    return S_OK;
  }
  HRESULT get_nextSibling(std::shared_ptr<IXMLDOMNode>* sibling) override {
    if (!sibling) return E_POINTER;
    sibling->reset();
    if (!node_ || node_->type == XML_DOCUMENT_NODE || !node_->next) return S_FALSE;
    *sibling = MakeNode(tree_, node_->next);
    return S_OK;
  }

 protected:
  TreePtr tree_;
  xmlNodePtr node_;  // null for a document that holds no tree
};

class Node final : public NodeImpl<IXMLDOMNode> {
 public:
  using NodeImpl::NodeImpl;
};

class Element final : public NodeImpl<IXMLDOMElement> {
 public:
  using NodeImpl::NodeImpl;
  HRESULT get_tagName(WString* name) override { return get_nodeName(name); }
  HRESULT getAttribute(WStringView name, Variant* value) override {
    if (!value) return E_POINTER;
    *value = Variant::Null();
    if (HRESULT hr = InjectedHresult("xml.GetAttribute", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    const std::string key = vr::text::WideToUtf8(name);
    xmlChar* v = xmlGetProp(node_, reinterpret_cast<const xmlChar*>(key.c_str()));
    if (!v) return S_FALSE;
    *value = Variant(Wide(v));
    xmlFree(v);
    return S_OK;
  }
};

// The children of a node. The walk with nextNode follows the tree's own sibling links; the
// indexed view is built only when asked for.
class NodeList final : public IXMLDOMNodeList {
 public:
  NodeList(TreePtr tree, xmlNodePtr parent)
      : tree_(std::move(tree)), first_(parent ? parent->children : nullptr), next_(first_) {}
  HRESULT get_length(long* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<long>(Indexed().size());
    return S_OK;
  }
  HRESULT get_item(long index, std::shared_ptr<IXMLDOMNode>* node) override {
    if (!node) return E_POINTER;
    node->reset();
    const auto& nodes = Indexed();
    if (index < 0 || static_cast<size_t>(index) >= nodes.size()) return S_FALSE;
    *node = MakeNode(tree_, nodes[static_cast<size_t>(index)]);
    return S_OK;
  }
  HRESULT nextNode(std::shared_ptr<IXMLDOMNode>* node) override {
    if (!node) return E_POINTER;
    node->reset();
    if (HRESULT hr = InjectedHresult("xml.NextNode", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    if (!next_) return S_FALSE;
    *node = MakeNode(tree_, next_);
    next_ = next_->next;
    return S_OK;
  }
  HRESULT reset() override {
    next_ = first_;
    return S_OK;
  }

 private:
  const std::vector<xmlNodePtr>& Indexed() {
    if (!indexed_) {
      for (xmlNodePtr c = first_; c; c = c->next) nodes_.push_back(c);
      indexed_ = true;
    }
    return nodes_;
  }
  TreePtr tree_;
  xmlNodePtr first_;
  xmlNodePtr next_;
  bool indexed_ = false;
  std::vector<xmlNodePtr> nodes_;
};

template <class Base>
HRESULT NodeImpl<Base>::get_childNodes(std::shared_ptr<IXMLDOMNodeList>* list) {
  if (!list) return E_POINTER;
  list->reset();
  if (HRESULT hr = InjectedHresult("xml.GetChildNodes", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
  *list = std::make_shared<NodeList>(tree_, node_);
  return S_OK;
}

std::shared_ptr<IXMLDOMNode> MakeNode(const TreePtr& tree, xmlNodePtr n) {
  if (n->type == XML_ELEMENT_NODE) return std::make_shared<Element>(tree, n);
  return std::make_shared<Node>(tree, n);
}

class ParseError final : public IXMLDOMParseError {
 public:
  ParseError() = default;
  explicit ParseError(const detail::ParseFailure& f)
      : code_(f.code == 0 ? 0 : static_cast<long>(E_FAIL)),
        reason_(vr::text::Utf8ToWide(f.reason)),
        url_(vr::text::Utf8ToWide(f.url)),
        line_(f.line),
        column_(f.column) {}
  HRESULT get_errorCode(long* code) override { return Out(code, code_); }
  HRESULT get_reason(WString* reason) override { return Out(reason, reason_); }
  HRESULT get_url(WString* url) override { return Out(url, url_); }
  HRESULT get_line(long* line) override { return Out(line, line_); }
  HRESULT get_linepos(long* column) override { return Out(column, column_); }

 private:
  template <class T>
  static HRESULT Out(T* out, const T& v) {
    if (!out) return E_POINTER;
    *out = v;
    return S_OK;
  }
  long code_ = 0;
  WString reason_;
  WString url_;
  long line_ = 0;
  long column_ = 0;
};

class Document final : public NodeImpl<IXMLDOMDocument2> {
 public:
  Document() : NodeImpl(nullptr, nullptr), error_(std::make_shared<ParseError>()) {}

  HRESULT put_validateOnParse(VARIANT_BOOL validate) override {
    if (HRESULT hr = InjectedHresult("xml.PutProperty", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    validate_ = validate != VARIANT_FALSE;
    return S_OK;
  }
  HRESULT get_validateOnParse(VARIANT_BOOL* validate) override {
    if (!validate) return E_POINTER;
    *validate = validate_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT put_async(VARIANT_BOOL async) override {
    if (HRESULT hr = InjectedHresult("xml.PutProperty", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
    async_ = async != VARIANT_FALSE;
    return S_OK;
  }

  HRESULT load(WStringView path, VARIANT_BOOL* success) override {
    if (!success) return E_POINTER;
    *success = VARIANT_FALSE;
    tree_.reset();
    node_ = nullptr;
    const std::string native = vr::text::WideToUtf8(vr::os::ToNativeSeparators(path));
    detail::ParseFailure failure;
    if (auto injected = InjectedHresult("xml.Load", S_FALSE)) {
      failure.code = detail::kFailOpen;
      failure.reason = "the file cannot be read (injected fault)";
      failure.url = native;
      error_ = std::make_shared<ParseError>(failure);
      return *injected;
    }
    xmlDocPtr doc = detail::ParseFile(native, validate_, failure);
    if (!doc) {
      error_ = std::make_shared<ParseError>(failure);
      return S_FALSE;
    }
    tree_ = std::make_shared<Tree>(doc);
    node_ = reinterpret_cast<xmlNodePtr>(doc);
    error_ = std::make_shared<ParseError>();
    *success = VARIANT_TRUE;
    return S_OK;
  }

  HRESULT get_documentElement(std::shared_ptr<IXMLDOMElement>* root) override {
    if (!root) return E_POINTER;
    root->reset();
    if (auto code = vr::fault::Hit("xml.GetDocumentElement")) {
      // S_FALSE is this call's own answer for a document without a root, not a Win32 error 1.
      if (*code == S_FALSE) return S_FALSE;
      return vr::fault::HresultFromInjected(*code, E_FAIL);
    }
    xmlNodePtr r = tree_ ? xmlDocGetRootElement(tree_->doc) : nullptr;
    if (!r) return S_FALSE;
    *root = std::make_shared<Element>(tree_, r);
    return S_OK;
  }

  HRESULT get_parseError(std::shared_ptr<IXMLDOMParseError>* error) override {
    if (!error) return E_POINTER;
    *error = error_;
    return S_OK;
  }

 private:
  bool validate_ = true;
  bool async_ = true;
  std::shared_ptr<ParseError> error_;
};

// The document class is served as soon as this library is part of the program: the
// definition of CLSID_DOMDocument above lives in this file, so any user of the class pulls in
// the registration too.
const bool g_registered = [] {
  CoRegisterClass(CLSID_DOMDocument, [](const IID& iid, std::shared_ptr<IUnknown>* out) -> HRESULT {
    if (!(iid == IID_IXMLDOMDocument2)) return E_NOINTERFACE;
    if (HRESULT hr = InjectedHresult("xml.CreateDocument", REGDB_E_CLASSNOTREG).value_or(S_OK); FAILED(hr))
      return hr;
    *out = std::make_shared<Document>();
    return S_OK;
  });
  return true;
}();

}  // namespace

std::shared_ptr<IXMLDOMElement> AsElement(const std::shared_ptr<IXMLDOMNode>& node) {
  return std::dynamic_pointer_cast<IXMLDOMElement>(node);
}

}  // namespace vr::xml
