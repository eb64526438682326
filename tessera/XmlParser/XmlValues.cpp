#include "tessera/XmlParser/XmlValues.h"

#include <limits>

#include "platform/com/com_error.h"
#include "platform/com/variant.h"
#include "platform/text/casefold.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlRecords.h"

namespace XmlValues {

void ThrowDomFailure(const char* call, HRESULT hr) {
  VR_TRACE_FUNCTION("XmlValues::ThrowDomFailure", "XmlParser\\XmlReader", 16);
  VR_TRACE_FAILURE(call, hr);
  _com_issue_error(FAILED(hr) ? hr : E_FAIL);
  throw _com_error(E_FAIL);  // not reached: _com_issue_error throws for a failure
}

WString NodeName(IXMLDOMNode& node) {
  WString name;
  if (HRESULT hr = node.get_nodeName(&name); FAILED(hr)) ThrowDomFailure("IXMLDOMNode::get_nodeName", hr);
  return name;
}

WString NodeText(IXMLDOMNode& node) {
  WString text;
  if (HRESULT hr = node.get_text(&text); FAILED(hr)) ThrowDomFailure("IXMLDOMNode::get_text", hr);
  return text;
}

WString NodeXml(IXMLDOMNode& node) {
  WString xml;
  if (HRESULT hr = node.get_xml(&xml); FAILED(hr)) ThrowDomFailure("IXMLDOMNode::get_xml", hr);
  return xml;
}

WString AttributeText(IXMLDOMElement& element, WStringView name) {
  Variant value;
  if (HRESULT hr = element.getAttribute(name, &value); FAILED(hr))
    ThrowDomFailure("IXMLDOMElement::getAttribute", hr);
  if (value.vt == VT_BSTR) return value.bstrVal;
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) return WString();
  Variant text;
  if (HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR); FAILED(hr))
    ThrowDomFailure("VariantChangeType", hr);
  return text.bstrVal;
}

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Digits from pos on, as a 32-bit number with the sign; false on overflow or no digits.
bool ReadDigits(WStringView text, size_t& pos, bool negative, int32_t& out) {
  const size_t start = pos;
  int64_t v = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  while (pos < text.size() && IsDigit(text[pos])) {
    v = v * 10 + (text[pos] - u'0');
    if (v > limit) return false;
    ++pos;
  }
  if (pos == start) return false;
  out = static_cast<int32_t>(negative ? -v : v);
  return true;
}

}  // namespace

bool ParseWholeInt32(WStringView text, int32_t& out) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) negative = text[pos++] == u'-';
  int32_t v;
  if (!ReadDigits(text, pos, negative, v) || pos != text.size()) return false;
  out = v;
  return true;
}

bool ScanLong(WStringView text, int32_t& out) {
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == u' ' || (text[pos] >= u'\t' && text[pos] <= u'\r'))) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) negative = text[pos++] == u'-';
  return ReadDigits(text, pos, negative, out);
}

bool LocalisedText(IXMLDOMElement& element, const WString& language, WString& text) {
  bool haveOwn = false, haveEnglish = false;
  WString own, english;
  ForEachChildElement(element, [&](IXMLDOMElement& child, const WString& name) {
    if (haveOwn || !vr::text::EqualsNoCase(name, u"text")) return;
    const WString lang = AttributeText(child, u"L");
    if (lang == language) {
      own = NodeText(child);
      haveOwn = true;
    } else if (!haveEnglish && lang == u"1033") {
      english = NodeText(child);
      haveEnglish = true;
    }
  });
  if (haveOwn) {
    text = std::move(own);
    return true;
  }
  text = haveEnglish ? std::move(english) : WString(kNoTextFound);
  return language == u"1033";
}

bool VersionListHas(WStringView list, WStringView version) {
  auto blank = [](WChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  auto trim = [&](WStringView t) {
    while (!t.empty() && blank(t.front())) t.remove_prefix(1);
    while (!t.empty() && blank(t.back())) t.remove_suffix(1);
    return t;
  };
  const WStringView wanted = trim(version);
  if (wanted.empty()) return false;
  size_t start = 0;
  while (start <= list.size()) {
    size_t bar = list.find(u'|', start);
    if (bar == WStringView::npos) bar = list.size();
    const WStringView piece = trim(list.substr(start, bar - start));
    if (!piece.empty() && vr::text::EqualsNoCase(piece, wanted)) return true;
    start = bar + 1;
  }
  return false;
}

}  // namespace XmlValues
