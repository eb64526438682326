// Reading MOF text: the parser's entry and its productions, and ReadMof, which turns the first
// failure into its MofError and leaves no statement behind.
#include "platform/wmi/mof_reader.h"

#include <string>

#include "platform/text/byte_order_mark.h"
#include "platform/text/convert.h"
#include "platform/wmi/mof_parser.h"

namespace vr::wmi::mof_parts {

Parser::Parser(WStringView text, WStringView defaultNamespace, MofDocument* doc, const MofReadOptions& options)
    : lex_(std::make_unique<Lexer>(text)), nameSpace_(defaultNamespace), doc_(doc), options_(options) {
  doc_->files.push_back(WString());
  CollectClassNames(text, &classes_);
  Advance();
}

void Parser::Run() {
  while (cur_.kind != Tok::kEnd) Production();
}

void Parser::Expected(HRESULT code, const WString& what) {
  Fail(code, cur_.position, u"expected " + what + u" instead of " + Describe(cur_));
}

void Parser::Expect(char16_t p, HRESULT code, const WString& what) {
  if (!IsPunct(p)) Expected(code, what);
  Advance();
}

WString Parser::ExpectIdentifier(HRESULT code, const WString& what) {
  if (cur_.kind != Tok::kIdent) Expected(code, what);
  WString name = cur_.text;
  Advance();
  return name;
}

void Parser::Production() {
  if (cur_.kind == Tok::kPragma) return Pragma();
  if (IsWord(u"qualifier")) return QualifierDeclaration();
  const MofPosition start = cur_.position;
  QualifierList qualifiers;
  if (IsPunct(u'[')) qualifiers = ReadQualifierList();
  if (IsWord(u"class")) return ClassDeclaration(start, std::move(qualifiers));
  if (IsWord(u"instance")) return InstanceDeclaration(start, std::move(qualifiers));
  Expected(WBEMMOF_E_INVALID_CLASS_DECLARATION, u"a class, an instance, a qualifier declaration or #pragma");
}

}  // namespace vr::wmi::mof_parts

namespace vr::wmi {

using mof_parts::MofFailure;
using mof_parts::Parser;

WString MofError::Format(WStringView fileName) const {
  WString r;
  if (!file.empty()) r += file + u":";
  else if (!fileName.empty()) r += WString(fileName) + u":";
  r += vr::text::Utf8ToWide(std::to_string(position.line) + ":" + std::to_string(position.column) + ": error: ");
  r += message;
  return r;
}

HRESULT ReadMof(WStringView text, WStringView defaultNamespace, MofDocument* doc, MofError* error,
                const MofReadOptions* options) {
  *doc = MofDocument();
  *error = MofError();
  const MofReadOptions none;
  try {
    Parser parser(text, defaultNamespace, doc, options ? *options : none);
    parser.Run();
    return S_OK;
  } catch (const MofFailure& f) {
    if (f.position.file > 0 && f.position.file < doc->files.size()) error->file = doc->files[f.position.file];
    *doc = MofDocument();
    error->code = f.code;
    error->position = f.position;
    error->message = f.message;
    return f.code;
  }
}

bool DecodeMofBytes(const std::string& bytes, WString* text) {
  return vr::text::DecodeMarkedText(bytes, *text) == vr::text::MarkedTextResult::Ok;
}

}  // namespace vr::wmi
