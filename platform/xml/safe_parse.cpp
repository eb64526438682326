#include "platform/xml/safe_parse.h"


#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/os/datadir.h"
#include "platform/os/file.h"
#include "platform/xml/dom.h"

namespace vr::xml::detail {
namespace {

// Everything one parse needs in its callbacks. libxml2 calls back on the parsing thread, so
// the entity loader finds the parse through a thread-local pointer.
struct ParseState {
  xmlParserCtxtPtr ctxt = nullptr;
  bool validate = false;
  std::string docDir;
  std::string dtdName;          // the system identifier of the document type declaration
  bool doctypeSeen = false;
  bool inExternalSubset = false;
  bool dtdServed = false;
  std::string dtdPath;          // where the DTD was found
  unsigned depth = 0;
  std::unique_ptr<vr::os::PlainReader> file;
  size_t bytesRead = 0;
  ParseFailure own;             // a failure this layer detected (code != 0)
  ParseFailure first;           // the first error libxml2 reported (code != 0)

  internalSubsetSAXFunc internalSubset = nullptr;
  externalSubsetSAXFunc externalSubset = nullptr;
  startElementNsSAX2Func startElementNs = nullptr;
  endElementNsSAX2Func endElementNs = nullptr;
};

thread_local ParseState* t_parse = nullptr;

long CurrentLine(const ParseState& s) {
  return (s.ctxt && s.ctxt->input) ? s.ctxt->input->line : 0;
}
long CurrentColumn(const ParseState& s) {
  return (s.ctxt && s.ctxt->input) ? s.ctxt->input->col : 0;
}
std::string CurrentUrl(const ParseState& s) {
  return (s.ctxt && s.ctxt->input && s.ctxt->input->filename) ? s.ctxt->input->filename : "";
}

// Records the first failure of this layer's own and, when stop is set, ends the parse.
void Refuse(ParseState& s, long code, std::string reason, bool stop) {
  if (s.own.code == 0) {
    s.own.code = code;
    s.own.reason = std::move(reason);
    s.own.url = CurrentUrl(s);
    s.own.line = CurrentLine(s);
    s.own.column = CurrentColumn(s);
  }
  if (stop && s.ctxt) xmlStopParser(s.ctxt);
}

// The parse a callback belongs to (libxml2 passes the parser context as user data).
ParseState* StateOf(void* ctx) {
  ParseState* s = t_parse;
  return (s && s->ctxt == static_cast<xmlParserCtxtPtr>(ctx)) ? s : nullptr;
}

bool EndsWithDtd(std::string_view name) {
  if (name.size() < 5) return false;
  std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'd' && (ext[2] | 0x20) == 't' && (ext[3] | 0x20) == 'd';
}

// A document type definition is named by a bare file name ending in ".dtd" (looked for beside
// the document, then in the installed data folder), or by a relative path below the document's
// folder ("dtd/VrNPConfig.dtd", '\\' or '/' between the folders; looked for there only). No
// scheme, no drive, no absolute path, no "." or ".." folder: the name can only reach a file
// inside the document's folder. Returns the relative path with '/' separators, or empty when
// the name is not allowed; bare tells whether it was a bare file name.
std::string AllowedDtdPath(std::string_view name, bool& bare) {
  bare = false;
  if (!EndsWithDtd(name)) return std::string();
  std::string path;
  size_t start = 0;
  bool folders = false;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return std::string();
    for (unsigned char c : part)
      if (c == ':' || c < 0x20 || c == 0x7F) return std::string();
    if (!path.empty()) path += '/';
    path += part;
    if (end == name.size()) break;
    folders = true;
    start = end + 1;
  }
  bare = !folders;
  return path;
}

// True when path, with every link resolved, lies inside folder (also resolved).
bool StaysInside(const std::string& folder, const std::string& path) {
  char* realFolder = ::realpath(folder.c_str(), nullptr);
  char* realPath = ::realpath(path.c_str(), nullptr);
  bool inside = false;
  if (realFolder && realPath) {
    std::string f(realFolder);
    if (f.empty() || f.back() != '/') f += '/';
    inside = std::string_view(realPath).substr(0, f.size()) == f;
  }
  std::free(realFolder);
  std::free(realPath);
  return inside;
}

// Reads a whole regular file of at most maxBytes. False when it cannot.
bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string& out) {
  std::unique_ptr<vr::os::PlainReader> file;
  std::string reason;
  if (vr::os::PlainReader::Open(path, file, reason) != ERROR_SUCCESS) return false;
  bool ok = file->IsRegular() && file->Size() <= maxBytes;
  out.clear();
  char buf[16384];
  while (ok) {
    size_t n = 0;
    if (file->Read(buf, sizeof buf, n, reason) != ERROR_SUCCESS) {
      ok = false;
      break;
    }
    if (n == 0) break;
    out.append(buf, n);
    if (out.size() > maxBytes) ok = false;
  }
  return ok;
}

// The only external entity loader of the process. It serves one resource per parse: the
// document type definition the document names, when libxml2 asks for the external subset,
// from beside the document or from the installed data folder. Every other request (external
// entities, parameter entities, a second DTD, anything outside one of our parses) is refused.
xmlParserInputPtr EntityLoader(const char* url, const char*, xmlParserCtxtPtr ctxt) {
  ParseState* s = t_parse;
  if (!s || ctxt != s->ctxt) return nullptr;
  if (!s->inExternalSubset || s->dtdServed) {
    Refuse(*s, kFailRefused, std::string("external resource '") + (url ? url : "") + "' is not allowed", true);
    return nullptr;
  }
  s->dtdServed = true;
  bool bare = false;
  const std::string relative = AllowedDtdPath(s->dtdName, bare);
  if (relative.empty()) {
    Refuse(*s, kFailNoDtd,
           "the document type definition must be named by its file name or a path below the document's folder, "
           "not '" + s->dtdName + "'",
           true);
    return nullptr;
  }
  std::string content;
  for (const std::string& dir : {s->docDir, bare ? vr::os::DataDir() : std::string()}) {
    if (dir.empty()) continue;
    const std::string path = dir + "/" + relative;
    if (!bare && !StaysInside(dir, path)) continue;
    if (!ReadSmallFile(path, kMaxDtdBytes, content)) continue;
    xmlParserInputBufferPtr buf = xmlParserInputBufferCreateMem(content.data(), static_cast<int>(content.size()),
                                                                XML_CHAR_ENCODING_NONE);
    if (!buf) break;
    xmlParserInputPtr input = xmlNewIOInputStream(ctxt, buf, XML_CHAR_ENCODING_NONE);
    if (!input) { xmlFreeParserInputBuffer(buf); break; }
    input->filename = reinterpret_cast<char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(path.c_str())));
    s->dtdPath = path;
    return input;
  }
  Refuse(*s, kFailNoDtd, "the document type definition '" + s->dtdName + "' cannot be read", true);
  return nullptr;
}

void OnInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId, const xmlChar* systemId) {
  ParseState* s = StateOf(ctx);
  s->doctypeSeen = true;
  s->dtdName = systemId ? reinterpret_cast<const char*>(systemId) : "";
  s->internalSubset(ctx, name, externalId, systemId);
}

void OnExternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId, const xmlChar* systemId) {
  ParseState* s = StateOf(ctx);
  s->inExternalSubset = true;
  s->externalSubset(ctx, name, externalId, systemId);
  s->inExternalSubset = false;
}

// Entities are never declared in registration files; refusing every declaration closes
// external-entity disclosure and expansion bombs at their source.
void OnEntityDecl(void* ctx, const xmlChar* name, int, const xmlChar*, const xmlChar*, xmlChar*) {
  Refuse(*StateOf(ctx), kFailRefused,
         std::string("entity declarations are not allowed ('") + reinterpret_cast<const char*>(name) + "')", true);
}
void OnUnparsedEntityDecl(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar*, const xmlChar*) {
  OnEntityDecl(ctx, name, 0, nullptr, nullptr, nullptr);
}

void OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                      int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int nbDefaulted,
                      const xmlChar** attributes) {
  ParseState* s = StateOf(ctx);
  if (++s->depth > kMaxDepth) {
    Refuse(*s, kFailRefused, "elements are nested deeper than " + std::to_string(kMaxDepth) + " levels", true);
    return;
  }
  for (int i = 0; i < nbAttributes; ++i) {
    const xmlChar* value = attributes[i * 5 + 3];
    const xmlChar* end = attributes[i * 5 + 4];
    if (static_cast<size_t>(end - value) > kMaxAttributeBytes) {
      Refuse(*s, kFailRefused,
             std::string("attribute '") + reinterpret_cast<const char*>(attributes[i * 5]) + "' is longer than " +
                 std::to_string(kMaxAttributeBytes) + " bytes",
             true);
      return;
    }
  }
  s->startElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes, nbDefaulted, attributes);
}

void OnEndElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
  ParseState* s = StateOf(ctx);
  if (s->depth > 0) --s->depth;
  s->endElementNs(ctx, localname, prefix, uri);
}

void OnError(void* userData, xmlErrorPtr err) {
  ParseState* s = StateOf(userData);
  if (!s || !err || err->level < XML_ERR_ERROR || s->first.code != 0) return;
  s->first.code = err->code ? err->code : kFailInvalid;
  std::string msg = err->message ? err->message : "";
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r' || msg.back() == ' ')) msg.pop_back();
  s->first.reason = msg;
  s->first.url = err->file ? err->file : CurrentUrl(*s);
  s->first.line = err->line;
  s->first.column = err->int2;
}

// Messages that reach libxml2's global handlers (there should be none) go nowhere.
void SilentGeneric(void*, const char*, ...) {}

int ReadDocument(void* ctx, char* buffer, int len) {
  auto* s = static_cast<ParseState*>(ctx);
  size_t n = 0;
  std::string reason;
  if (s->file->Read(buffer, static_cast<size_t>(len), n, reason) != ERROR_SUCCESS) {
    Refuse(*s, kFailOpen, "the file cannot be read: " + reason, false);
    return -1;
  }
  s->bytesRead += n;
  if (s->bytesRead > kMaxDocumentBytes) {
    Refuse(*s, kFailTooLarge, "the document is larger than " + std::to_string(kMaxDocumentBytes) + " bytes", false);
    return -1;
  }
  return static_cast<int>(n);
}

int CloseDocument(void*) { return 0; }

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(EntityLoader);
  });
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The DTD's failures are the document's: report the document's name for them too, but keep
// the line, which is where the problem is.
ParseFailure Pick(const ParseState& s) {
  if (s.own.code != 0) return s.own;
  if (s.first.code != 0) return s.first;
  ParseFailure f;
  f.code = kFailInvalid;
  f.reason = "the document is not valid";
  return f;
}

}  // namespace

_xmlDoc* ParseFile(const std::string& nativePath, bool validate, ParseFailure& failure) {
  InitLibxml();
  failure = ParseFailure();
  failure.url = nativePath;

  ParseState s;
  s.validate = validate;
  s.docDir = DirectoryOf(nativePath);
  std::string reason;
  if (vr::os::PlainReader::Open(nativePath, s.file, reason) != ERROR_SUCCESS) {
    failure.code = kFailOpen;
    failure.reason = "the file cannot be opened: " + reason;
    return nullptr;
  }
  if (!s.file->IsRegular()) {
    failure.code = kFailOpen;
    failure.reason = "not a regular file";
    return nullptr;
  }
  if (s.file->Size() > kMaxDocumentBytes) {
    failure.code = kFailTooLarge;
    failure.reason = "the document is larger than " + std::to_string(kMaxDocumentBytes) + " bytes";
    return nullptr;
  }

  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) {
    failure.code = kFailOpen;
    failure.reason = "out of memory";
    return nullptr;
  }
  s.ctxt = ctxt;
  xmlSAXHandlerPtr sax = ctxt->sax;
  s.internalSubset = sax->internalSubset;
  s.externalSubset = sax->externalSubset;
  s.startElementNs = sax->startElementNs;
  s.endElementNs = sax->endElementNs;
  sax->internalSubset = OnInternalSubset;
  sax->externalSubset = OnExternalSubset;
  sax->entityDecl = OnEntityDecl;
  sax->unparsedEntityDecl = OnUnparsedEntityDecl;
  sax->startElementNs = OnStartElementNs;
  sax->endElementNs = OnEndElementNs;
  sax->serror = OnError;
  sax->error = nullptr;
  sax->warning = nullptr;
  ctxt->vctxt.error = nullptr;
  ctxt->vctxt.warning = nullptr;

  int options = XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_COMPACT | XML_PARSE_BIG_LINES |
                XML_PARSE_NOWARNING;
  if (validate) options |= XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID;

  ParseState* saved = t_parse;
  t_parse = &s;
  xmlSetGenericErrorFunc(nullptr, SilentGeneric);
  xmlSetStructuredErrorFunc(nullptr, nullptr);
  xmlDocPtr doc = xmlCtxtReadIO(ctxt, ReadDocument, CloseDocument, &s, nativePath.c_str(), nullptr, options);
  t_parse = saved;
  s.file.reset();

  bool ok = doc != nullptr && ctxt->wellFormed && s.own.code == 0 && s.first.code == 0;
  if (validate && doc != nullptr && ctxt->wellFormed && (!s.doctypeSeen || s.dtdName.empty())) {
    Refuse(s, kFailNoDtd, "the document names no document type definition", false);
    ok = false;
  }
  if (validate && (!ctxt->valid || s.dtdPath.empty())) ok = false;
  if (!ok) {
    failure = Pick(s);
    if (failure.url.empty()) failure.url = nativePath;
    if (doc) xmlFreeDoc(doc);
    doc = nullptr;
  }
  xmlFreeParserCtxt(ctxt);
  return doc;
}

void FreeDocument(_xmlDoc* doc) {
  if (doc) xmlFreeDoc(doc);
}

}  // namespace vr::xml::detail
