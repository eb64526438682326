// The pieces the reader's walk is built from: DOM access that throws _com_error when a DOM
// call fails, the child-element walk, number parsing and the localised-text choice.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/text/wstring.h"
#include "platform/xml/dom.h"

namespace XmlValues {

// Traces the failed DOM call and throws _com_error with its HRESULT.
[[noreturn]] void ThrowDomFailure(const char* call, HRESULT hr);

WString NodeName(IXMLDOMNode& node);
// The element's text without leading and trailing white space.
WString NodeText(IXMLDOMNode& node);
// The element's markup as the DOM serialises it (for messages 900 to 904).
WString NodeXml(IXMLDOMNode& node);
// The attribute as text; empty when the element has none.
WString AttributeText(IXMLDOMElement& element, WStringView name);

// Calls visit(element, name) for every child element of parent, in document order.
template <class Visit>
void ForEachChildElement(IXMLDOMNode& parent, Visit&& visit) {
  std::shared_ptr<IXMLDOMNodeList> children;
  HRESULT hr = parent.get_childNodes(&children);
  if (FAILED(hr) || !children) ThrowDomFailure("IXMLDOMNode::get_childNodes", FAILED(hr) ? hr : E_POINTER);
  for (;;) {
    std::shared_ptr<IXMLDOMNode> child;
    hr = children->nextNode(&child);
    if (FAILED(hr)) ThrowDomFailure("IXMLDOMNodeList::nextNode", hr);
    if (hr == S_FALSE || !child) break;
    if (auto element = vr::xml::AsElement(child)) {
      const WString name = NodeName(*element);
      visit(*element, name);
    }
  }
}

// A decimal integer that makes up the whole text: optional sign, then digits, within 32 bits.
bool ParseWholeInt32(WStringView text, int32_t& out);
// As "%ld" reads a number: leading white space, optional sign, digits; what follows them is
// ignored. False when there are no digits or the number does not fit 32 bits.
bool ScanLong(WStringView text, int32_t& out);

// True when one piece of a version list ("A.07.50|A.07.51", the root's "version" and a
// fileset's "VRMS") equals version without regard to case. Pieces are split at '|' and
// compared without the blanks around them, wherever a list is read; an empty piece matches
// nothing, and neither does an empty version.
bool VersionListHas(WStringView list, WStringView version);

// The text of a localised element: the "text" child whose attribute L equals the language;
// else, for a language other than "1033", the one with "1033"; else kNoTextFound. Returns the
// in-language flag: true when the language's own text was found, always for "1033".
bool LocalisedText(IXMLDOMElement& element, const WString& language, WString& text);

}  // namespace XmlValues
