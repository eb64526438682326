// The MOF reader's parser: one production at a time (pragma, qualifier declaration, class,
// instance) into the statements of a MofDocument. Its parts are defined by subject:
// mof_reader.cpp (the productions and ReadMof), mof_pragmas.cpp, mof_qualifiers.cpp,
// mof_values.cpp, mof_classes.cpp and mof_instances.cpp. Internal to platform/wmi.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/text/casefold.h"
#include "platform/wmi/mof_lexer.h"
#include "platform/wmi/mof_reader.h"

namespace vr::wmi::mof_parts {

// An integer literal as a Variant: VT_I8, or VT_UI8 beyond the signed range.
Variant IntegerVariant(Int v);

class Parser {
 public:
  Parser(WStringView text, WStringView defaultNamespace, MofDocument* doc, const MofReadOptions& options);
  void Run();

 private:
  // The token stream.
  void Advance() { cur_ = lex_->Next(); }
  bool IsWord(const char16_t* w) const { return cur_.kind == Tok::kIdent && vr::text::EqualsNoCase(cur_.text, w); }
  bool IsPunct(char16_t p) const { return cur_.kind == Tok::kPunct && cur_.punct == p; }
  [[noreturn]] void Expected(HRESULT code, const WString& what);
  void Expect(char16_t p, HRESULT code, const WString& what);
  WString ExpectIdentifier(HRESULT code, const WString& what);
  void Production();

  // Pragmas and included files.
  void Pragma();
  long Flags(const std::vector<Token>& args, MofPosition at, bool forClasses);
  void SetNamespace(const WString& path, MofPosition at);
  void Include(const WString& name, MofPosition at);

  // Qualifier declarations, lists and values.
  const QualifierDecl* Declaration(const WString& name);
  void QualifierDeclaration();
  long ReadFlavors(long flavor);
  QualifierList ReadQualifierList();
  Variant QualifierValue(const MofValue& v);
  Variant QualifierArray(std::vector<Variant> items, MofPosition at);
  Variant TypedQualifierValue(const MofValue& v, const QualifierDecl& decl);

  // Literal values.
  Variant ReadConstant();
  MofValue ReadConstantOrArray();

  // Class declarations.
  void ClassDeclaration(MofPosition start, QualifierList qualifiers);
  bool NamesAClass(const WString& word) const;
  CIMTYPE Type(const WString& word, bool isRef, MofPosition at, bool allowVoid, WString* cls);
  bool ArraySuffix();
  void DefaultValue(PropertyDef& p);
  void Feature(MofStatement& s, MofPosition at);
  PropertyDef Parameter();

  // Instance declarations.
  void InstanceDeclaration(MofPosition start, QualifierList qualifiers);

  std::unique_ptr<Lexer> lex_;
  Token cur_;
  WString nameSpace_;
  long classFlags_ = 0;
  long instanceFlags_ = 0;
  std::vector<WString> aliases_;
  std::set<WString> classes_;  // the classes this text declares, lower case
  MofDocument* doc_;
  const MofReadOptions& options_;
  std::map<WString, QualifierDecl> declared_;  // in this text, by lower-case name
  std::map<WString, std::optional<QualifierDecl>> stored_;  // namespace's, by namespace and name
  std::vector<std::unique_ptr<WString>> texts_;  // included files, alive while they are read
  int depth_ = 0;
};

}  // namespace vr::wmi::mof_parts
