// The pragmas: namespace, class and instance flags, deleteclass and deleteinstance, include
// (the named file read where the pragma stands), and those accepted for compatibility only.
#include "platform/wmi/mof_parser.h"

#include "platform/wmi/object_path.h"

namespace vr::wmi::mof_parts {

using vr::text::EqualsNoCase;

void Parser::Pragma() {
  const MofPosition at = cur_.position;
  Advance();
  const WString name = ExpectIdentifier(WBEMMOF_E_INVALID_PRAGMA, u"the name of the pragma");
  std::vector<Token> args;
  if (IsPunct(u'(')) {
    lex_->SetRawStrings(EqualsNoCase(name, u"include"));
    Advance();
    if (!IsPunct(u')')) {
      while (true) {
        if (cur_.kind != Tok::kString && cur_.kind != Tok::kIdent && cur_.kind != Tok::kInteger)
          Expected(WBEMMOF_E_INVALID_PRAGMA, u"a pragma parameter");
        args.push_back(cur_);
        Advance();
        if (IsPunct(u')')) break;
        Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"',' or ')'");
      }
    }
    lex_->SetRawStrings(false);
    Expect(u')', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"')'");
  }
  auto stringArg = [&](size_t i) -> const WString& {
    if (i >= args.size() || args[i].kind != Tok::kString)
      Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma " + name + u" needs a string parameter");
    return args[i].text;
  };
  if (EqualsNoCase(name, u"namespace")) {
    if (args.size() != 1) Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma namespace takes one namespace path");
    SetNamespace(stringArg(0), args[0].position);
  } else if (EqualsNoCase(name, u"classflags")) {
    classFlags_ = Flags(args, at, true);
  } else if (EqualsNoCase(name, u"instanceflags")) {
    instanceFlags_ = Flags(args, at, false);
  } else if (EqualsNoCase(name, u"deleteclass") || EqualsNoCase(name, u"deleteinstance")) {
    const bool isClass = EqualsNoCase(name, u"deleteclass");
    if (args.size() != 2 || args[1].kind != Tok::kIdent ||
        !(EqualsNoCase(args[1].text, u"FAIL") || EqualsNoCase(args[1].text, u"NOFAIL")))
      Fail(isClass ? WBEMMOF_E_INVALID_DELETECLASS_SYNTAX : WBEMMOF_E_INVALID_PRAGMA, at,
           u"#pragma " + name + u" takes a name and FAIL or NOFAIL");
    MofStatement s;
    s.kind = isClass ? MofStatement::Kind::kDeleteClass : MofStatement::Kind::kDeleteInstance;
    s.position = at;
    s.nameSpace = nameSpace_;
    s.target = stringArg(0);
    s.failIfMissing = EqualsNoCase(args[1].text, u"FAIL");
    if (isClass && !IsValidIdentifier(s.target)) Fail(WBEMMOF_E_INVALID_DELETECLASS_SYNTAX, at, u"\"" + s.target + u"\" is not a class name");
    if (!isClass) {
      ObjectPath p;
      if (FAILED(ParseObjectPath(s.target, &p)) || p.IsClassPath())
        Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"\"" + s.target + u"\" is not an instance path");
    }
    doc_->statements.push_back(std::move(s));
  } else if (EqualsNoCase(name, u"locale") || EqualsNoCase(name, u"autorecover") ||
             EqualsNoCase(name, u"source") || EqualsNoCase(name, u"nonlocal")) {
    // Accepted for compatibility: they change nothing in this repository.
  } else if (EqualsNoCase(name, u"include")) {
    if (!options_.include)
      Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma include is not supported; import the included file first");
    if (args.size() != 1) Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma include takes one file name");
    Include(stringArg(0), args[0].position);
  } else {
    Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"unknown pragma \"" + name + u"\"");
  }
}

long Parser::Flags(const std::vector<Token>& args, MofPosition at, bool forClasses) {
  long flags = 0;
  bool create = false, update = false;
  for (const Token& a : args) {
    if (a.kind != Tok::kString) Fail(WBEMMOF_E_INVALID_PRAGMA, a.position, u"flags are strings");
    if (EqualsNoCase(a.text, u"createonly")) { flags |= WBEM_FLAG_CREATE_ONLY; create = true; }
    else if (EqualsNoCase(a.text, u"updateonly")) { flags |= WBEM_FLAG_UPDATE_ONLY; update = true; }
    else if (forClasses && EqualsNoCase(a.text, u"safeupdate")) flags |= WBEM_FLAG_UPDATE_SAFE_MODE;
    else if (forClasses && EqualsNoCase(a.text, u"forceupdate")) flags |= WBEM_FLAG_UPDATE_FORCE_MODE;
    else Fail(WBEMMOF_E_INVALID_PRAGMA, a.position, u"unknown flag \"" + a.text + u"\"");
  }
  if (create && update) Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"createonly and updateonly exclude each other");
  if ((flags & WBEM_FLAG_UPDATE_SAFE_MODE) && (flags & WBEM_FLAG_UPDATE_FORCE_MODE))
    Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"safeupdate and forceupdate exclude each other");
  return flags;
}

void Parser::SetNamespace(const WString& path, MofPosition at) {
  WString server, ns;
  if (FAILED(ParseNamespacePath(path, &server, &ns)))
    Fail(WBEMMOF_E_INVALID_NAMESPACE_SYNTAX, at, u"\"" + path + u"\" is not a namespace path");
  if (!server.empty() && !IsLocalServer(server))
    Fail(WBEMMOF_E_INVALID_NAMESPACE_SYNTAX, at, u"the namespace is on another computer (" + server + u")");
  const size_t first = ns.find(u'\\');
  const WStringView head = WStringView(ns).substr(0, first);
  if (server.empty() && !EqualsNoCase(head, u"root")) nameSpace_ += u"\\" + ns;  // relative
  else nameSpace_ = ns;
}

// Reads the named file where the pragma stands, as if its text were written there.
void Parser::Include(const WString& name, MofPosition at) {
  if (depth_ >= kMaxMofIncludeDepth)
    Fail(WBEMMOF_E_INVALID_PRAGMA, at, u"#pragma include nests more than 16 files deep (does a file include itself?)");
  MofIncludedFile file;
  WString why;
  if (!options_.include(doc_->files[at.file], name, &file, &why))
    Fail(WBEMMOF_E_INVALID_FILE, at, u"cannot include \"" + name + u"\": " + why);
  const uint32_t index = static_cast<uint32_t>(doc_->files.size());
  doc_->files.push_back(file.name);
  texts_.push_back(std::make_unique<WString>(std::move(file.text)));
  CollectClassNames(*texts_.back(), &classes_);
  std::unique_ptr<Lexer> outer = std::move(lex_);
  const Token next = cur_;
  lex_ = std::make_unique<Lexer>(*texts_.back(), index);
  ++depth_;
  Advance();
  while (cur_.kind != Tok::kEnd) Production();
  --depth_;
  lex_ = std::move(outer);
  cur_ = next;
}

}  // namespace vr::wmi::mof_parts
