// Class declarations: superclass, properties with their types (CIM types, references,
// embedded objects), array suffixes and defaults, and methods with their parameters.
#include "platform/wmi/mof_parser.h"

#include "platform/wmi/cim_types.h"
#include "platform/wmi/object_path.h"

namespace vr::wmi::mof_parts {

using vr::text::EqualsNoCase;

void Parser::ClassDeclaration(MofPosition start, QualifierList qualifiers) {
  Advance();  // "class"
  MofStatement s;
  s.kind = MofStatement::Kind::kClass;
  s.position = start;
  s.nameSpace = nameSpace_;
  s.flags = classFlags_;
  s.cls.qualifiers = std::move(qualifiers);
  s.cls.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_CLASS_NAME, u"a class name");
  if (IsWord(u"as")) {
    Advance();
    if (cur_.kind != Tok::kAlias) Expected(WBEMMOF_E_EXPECTED_ALIAS_NAME, u"an alias");
    Advance();
  }
  if (IsPunct(u':')) {
    Advance();
    s.cls.superclass = ExpectIdentifier(WBEMMOF_E_EXPECTED_CLASS_NAME, u"the name of the superclass");
  }
  Expect(u'{', WBEMMOF_E_EXPECTED_OPEN_BRACE, u"'{' to open the class body");
  while (!IsPunct(u'}')) {
    const MofPosition at = cur_.position;
    Feature(s, at);
  }
  Advance();  // '}'
  Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the class declaration");
  classes_.insert(vr::text::ToLower(s.cls.name));
  doc_->statements.push_back(std::move(s));
}

// A type word that names a class: one this text declares, one the namespace holds, or a
// name of the schema_class form every schema class has (a CIM type name has no
// underscore). In a stored text every such word does.
bool Parser::NamesAClass(const WString& word) const {
  if (!IsValidIdentifier(word)) return false;
  if (options_.storedText || classes_.count(vr::text::ToLower(word))) return true;
  if (options_.storedClass && options_.storedClass(nameSpace_, word)) return true;
  const size_t underscore = word.find(u'_');
  return underscore != WString::npos && underscore > 0 && underscore + 1 < word.size();
}

// The type of a property, parameter or method from its type word: a CIM type, a reference
// (with its class in *cls, none for "object ref"), an embedded object (CIM_OBJECT, with
// the class its type word names in *cls), or void where allowVoid.
CIMTYPE Parser::Type(const WString& word, bool isRef, MofPosition at, bool allowVoid, WString* cls) {
  cls->clear();
  if (isRef) {
    if (!EqualsNoCase(word, u"object")) *cls = word;
    return CIM_REFERENCE;
  }
  if (allowVoid && EqualsNoCase(word, u"void")) return CIM_EMPTY;
  const CIMTYPE t = CimTypeFromName(word);
  if (t != CIM_ILLEGAL) return t;
  if (NamesAClass(word)) {
    *cls = word;
    return CIM_OBJECT;
  }
  Fail(WBEMMOF_E_UNRECOGNIZED_TYPE, at, u"unknown type \"" + word + u"\"");
}

// "[]" or "[N]" after a name (the size is not kept).
bool Parser::ArraySuffix() {
  if (!IsPunct(u'[')) return false;
  Advance();
  if (cur_.kind == Tok::kInteger) Advance();
  Expect(u']', WBEMMOF_E_EXPECTED_CLOSE_BRACKET, u"']'");
  return true;
}

// "= value" of a property or parameter of type p.type, into p.value.
void Parser::DefaultValue(PropertyDef& p) {
  if (!IsPunct(u'=')) return;
  Advance();
  const MofValue v = ReadConstantOrArray();
  if (!v.alias.empty()) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, v.position, u"an alias cannot be a default value");
  if (p.BaseType() == CIM_OBJECT && v.value.vt != VT_NULL)
    Fail(WBEMMOF_E_TYPE_MISMATCH, v.position, u"an embedded object (" + p.name + u") cannot have a default value here");
  if (FAILED(ConvertToCim(v.value, p.type, &p.value)))
    Fail(WBEMMOF_E_TYPE_MISMATCH, v.position, u"the default value does not fit the type of " + p.name);
  if (p.type == CIM_REFERENCE && p.value.vt == VT_BSTR) {
    ObjectPath path;
    if (FAILED(ParseObjectPath(p.value.bstrVal, &path)))
      Fail(WBEMMOF_E_TYPE_MISMATCH, v.position, u"the default value of " + p.name + u" is not an object path");
  }
}

// One property or method of a class body.
void Parser::Feature(MofStatement& s, MofPosition at) {
  QualifierList qualifiers;
  if (IsPunct(u'[')) qualifiers = ReadQualifierList();
  const MofPosition typeAt = cur_.position;
  const WString type = ExpectIdentifier(WBEMMOF_E_EXPECTED_TYPE_IDENTIFIER, u"a property type or '}'");
  const bool isRef = IsWord(u"ref");
  if (isRef) Advance();
  const WString name = ExpectIdentifier(WBEMMOF_E_EXPECTED_PROPERTY_NAME, u"a property name");
  if (IsPunct(u'(')) {
    MethodDef m;
    m.name = name;
    m.qualifiers = std::move(qualifiers);
    m.returnType = Type(type, isRef, typeAt, true, &m.returnClass);
    if (s.cls.FindMethod(m.name))
      Fail(WBEMMOF_E_INVALID_CLASS_DECLARATION, at, u"the method " + m.name + u" is declared twice");
    Advance();  // '('
    if (!IsPunct(u')')) {
      while (true) {
        const MofPosition paramAt = cur_.position;
        PropertyDef p = Parameter();
        if (m.FindParameter(p.name))
          Fail(WBEMMOF_E_INVALID_CLASS_DECLARATION, paramAt, u"the parameter " + p.name + u" is declared twice");
        m.parameters.push_back(std::move(p));
        if (IsPunct(u')')) break;
        Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"',' or ')' in the parameter list");
      }
    }
    Advance();  // ')'
    Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the method " + m.name);
    s.cls.methods.push_back(std::move(m));
    s.methodPositions.push_back(at);
    return;
  }
  PropertyDef p;
  p.name = name;
  p.qualifiers = std::move(qualifiers);
  p.type = Type(type, isRef, typeAt, false, &p.refClass);
  if (ArraySuffix()) {
    if (p.type == CIM_REFERENCE) Fail(WBEMMOF_E_INVALID_CLASS_DECLARATION, cur_.position, u"references cannot be arrays");
    p.type |= CIM_FLAG_ARRAY;
  }
  DefaultValue(p);
  Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the property " + p.name);
  if (s.cls.Find(p.name)) Fail(WBEMMOF_E_DUPLICATE_PROPERTY, at, u"the property " + p.name + u" is declared twice");
  s.cls.properties.push_back(std::move(p));
  s.propertyPositions.push_back(at);
}

PropertyDef Parser::Parameter() {
  PropertyDef p;
  if (IsPunct(u'[')) p.qualifiers = ReadQualifierList();
  const MofPosition typeAt = cur_.position;
  const WString type = ExpectIdentifier(WBEMMOF_E_EXPECTED_TYPE_IDENTIFIER, u"a parameter type");
  const bool isRef = IsWord(u"ref");
  if (isRef) Advance();
  p.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_PROPERTY_NAME, u"a parameter name");
  p.type = Type(type, isRef, typeAt, false, &p.refClass);
  if (ArraySuffix()) p.type |= CIM_FLAG_ARRAY;
  DefaultValue(p);
  return p;
}

}  // namespace vr::wmi::mof_parts
