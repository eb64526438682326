// Instance declarations: the class, an alias later values may name, and the property values.
#include "platform/wmi/mof_parser.h"

namespace vr::wmi::mof_parts {

using vr::text::EqualsNoCase;

void Parser::InstanceDeclaration(MofPosition start, QualifierList qualifiers) {
  Advance();  // "instance"
  if (!IsWord(u"of")) Expected(WBEMMOF_E_INVALID_INSTANCE_DECLARATION, u"\"of\" after \"instance\"");
  Advance();
  MofStatement s;
  s.kind = MofStatement::Kind::kInstance;
  s.position = start;
  s.nameSpace = nameSpace_;
  s.flags = instanceFlags_;
  s.qualifiers = std::move(qualifiers);
  s.className = ExpectIdentifier(WBEMMOF_E_EXPECTED_CLASS_NAME, u"a class name");
  if (IsWord(u"as")) {
    Advance();
    if (cur_.kind != Tok::kAlias) Expected(WBEMMOF_E_EXPECTED_ALIAS_NAME, u"an alias");
    s.alias = cur_.text;
    for (const auto& earlier : aliases_)
      if (EqualsNoCase(earlier, s.alias)) Fail(WBEMMOF_E_EXPECTED_ALIAS_NAME, cur_.position, u"the alias $" + s.alias + u" is defined twice");
    aliases_.push_back(s.alias);
    Advance();
  }
  Expect(u'{', WBEMMOF_E_EXPECTED_OPEN_BRACE, u"'{' to open the instance body");
  while (!IsPunct(u'}')) {
    MofInstanceProperty p;
    p.position = cur_.position;
    if (IsPunct(u'[')) p.qualifiers = ReadQualifierList();
    p.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_PROPERTY_NAME, u"a property name or '}'");
    for (const auto& earlier : s.properties)
      if (EqualsNoCase(earlier.name, p.name)) Fail(WBEMMOF_E_DUPLICATE_PROPERTY, p.position, u"the property " + p.name + u" is given twice");
    Expect(u'=', WBEMMOF_E_INVALID_INSTANCE_DECLARATION, u"'=' after " + p.name);
    p.value = ReadConstantOrArray();
    if (!p.value.alias.empty()) {
      bool known = false;
      for (const auto& a : aliases_) known = known || EqualsNoCase(a, p.value.alias);
      if (!known) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, p.value.position, u"the alias $" + p.value.alias + u" is not defined before this use");
    }
    Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the value of " + p.name);
    s.properties.push_back(std::move(p));
  }
  Advance();  // '}'
  Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the instance declaration");
  doc_->statements.push_back(std::move(s));
}

}  // namespace vr::wmi::mof_parts
