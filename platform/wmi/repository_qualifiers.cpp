// Qualifier declarations of a namespace, kept as their MOF text.
#include "platform/wmi/repository.h"

#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"

namespace vr::wmi {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

namespace {

bool ParseDeclaration(const std::string& text, QualifierDecl* out) {
  MofDocument doc;
  MofError error;
  MofReadOptions stored;
  stored.storedText = true;
  if (FAILED(ReadMof(Utf8ToWide(text), u"root", &doc, &error, &stored)) || doc.statements.size() != 1 ||
      doc.statements[0].kind != MofStatement::Kind::kQualifier)
    return false;
  *out = std::move(doc.statements[0].qualifier);
  return true;
}

}  // namespace

HRESULT Session::PutQualifierDecl(const NamespaceInfo& ns, const QualifierDecl& decl, WString* why) {
  if (!IsValidIdentifier(decl.name)) {
    if (why) *why = u"\"" + decl.name + u"\" is not a valid qualifier name.";
    return WBEM_E_INVALID_PARAMETER;
  }
  return repo_.db_->Sql("INSERT OR REPLACE INTO qualifier_decls(ns, fold, name, text) VALUES(?1, ?2, ?3, ?4)")
      .Bind(1, ns.id).Bind(2, Fold(decl.name)).Bind(3, WideToUtf8(decl.name))
      .Bind(4, WideToUtf8(MofQualifierDeclText(decl))).Run();
}

HRESULT Session::GetQualifierDecl(const NamespaceInfo& ns, WStringView name, QualifierDecl* out) {
  Statement q = repo_.db_->Sql("SELECT text FROM qualifier_decls WHERE ns=?1 AND fold=?2");
  q.Bind(1, ns.id).Bind(2, Fold(name));
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  if (!row) return WBEM_E_NOT_FOUND;
  const std::string text(q.Text(0));
  q.Reset();
  return ParseDeclaration(text, out) ? S_OK : WBEM_E_CRITICAL_ERROR;
}

HRESULT Session::ListQualifierDecls(const NamespaceInfo& ns, std::vector<QualifierDecl>* out) {
  out->clear();
  Statement q = repo_.db_->Sql("SELECT text FROM qualifier_decls WHERE ns=?1 ORDER BY fold");
  q.Bind(1, ns.id);
  bool row = false;
  HRESULT hr;
  std::vector<std::string> texts;
  while (SUCCEEDED(hr = q.Step(&row)) && row) texts.emplace_back(q.Text(0));
  if (FAILED(hr)) return hr;
  for (const auto& t : texts) {
    QualifierDecl d;
    if (!ParseDeclaration(t, &d)) return WBEM_E_CRITICAL_ERROR;
    out->push_back(std::move(d));
  }
  return S_OK;
}

}  // namespace vr::wmi
