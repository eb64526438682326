// The MOF reader: DMTF MOF text into statements for the compiler. It understands the pragmas
// namespace, classflags, instanceflags, deleteclass, deleteinstance, include, locale and
// autorecover; qualifier declarations (their type types the values of later uses, their
// flavours are the uses' defaults); qualifier lists with scalar and array values and flavours;
// class declarations with superclass, typed and array properties, references, embedded
// objects, defaults and methods; and instance declarations with aliases. Nothing is compiled
// when the text has an error; the error names file, line and column.
//
// The tokens are read by mof_lexer.h, the productions by the parser of mof_parser.h.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/com/variant.h"
#include "platform/wmi/object_model.h"

namespace vr::wmi {

struct MofPosition {
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t file = 0;  // index into MofDocument::files; 0 is the text itself
};

struct MofError {
  HRESULT code = S_OK;
  MofPosition position;
  WString message;
  WString file;  // the included file the error is in; empty when it is in the text itself
  // "FILE:LINE:COLUMN: error: MESSAGE", FILE being the included file the error is in or else
  // fileName (no file part when that is empty).
  WString Format(WStringView fileName) const;
};

// An instance property value before it meets its class: an integer (VT_I8, or VT_UI8 beyond
// the signed range), VT_R8, VT_BSTR, VT_BOOL, a char (VT_UI2), VT_NULL, an array of those
// (VT_ARRAY | VT_VARIANT), or an alias of an instance declared in the same text.
struct MofValue {
  Variant value = Variant::Null();
  WString alias;
  MofPosition position;
};

struct MofInstanceProperty {
  WString name;
  QualifierList qualifiers;
  MofValue value;
  MofPosition position;
};

struct MofStatement {
  enum class Kind { kClass, kInstance, kDeleteClass, kDeleteInstance, kQualifier };
  Kind kind = Kind::kClass;
  MofPosition position;
  WString nameSpace;  // the namespace in force ("root\..."), from the pragmas or the default
  long flags = 0;     // WBEM_FLAG_* from classflags / instanceflags

  // kClass
  ClassDecl cls;
  std::vector<MofPosition> propertyPositions;  // one per cls.properties entry
  std::vector<MofPosition> methodPositions;    // one per cls.methods entry
  // kQualifier
  QualifierDecl qualifier;
  // kInstance
  WString className;
  WString alias;  // without the '$'
  QualifierList qualifiers;
  std::vector<MofInstanceProperty> properties;
  // kDeleteClass (target is the class) and kDeleteInstance (target is the object path)
  WString target;
  bool failIfMissing = true;
};

struct MofDocument {
  std::vector<MofStatement> statements;
  std::vector<WString> files;  // the names of the files read: "" for the text, then each included one
};

// An included file as its reader hands it over.
struct MofIncludedFile {
  WString name;  // how errors name it
  WString text;
};

struct MofReadOptions {
  // A qualifier declaration stored in a namespace before this text; false when there is none.
  std::function<bool(WStringView nameSpace, WStringView name, QualifierDecl* out)> storedDeclaration;
  // True when the namespace already holds the class: a property typed with its name is an
  // embedded object of that class.
  std::function<bool(WStringView nameSpace, WStringView name)> storedClass;
  // Reads the file "#pragma include" names, relative to the file that includes it (its name
  // as MofIncludedFile::name gave it; empty for the text itself). False, with the reason in
  // *why, when it cannot be read or is not allowed. Unset: the pragma is refused.
  std::function<bool(WStringView includingFile, WStringView name, MofIncludedFile* out, WString* why)> include;
  // The text is a class as the repository stores it: complete in itself. No declaration
  // applies to it, any type word that is not a CIM type names an embedded object's class, and
  // qualifier values may be 64-bit integers or NULL.
  bool storedText = false;
};

// How deep "#pragma include" may nest.
constexpr int kMaxMofIncludeDepth = 16;

// defaultNamespace: the namespace before the first namespace pragma ("root\default" style).
HRESULT ReadMof(WStringView text, WStringView defaultNamespace, MofDocument* doc, MofError* error,
                const MofReadOptions* options = nullptr);

// Decodes a MOF file's bytes: UTF-16 with a byte-order mark, UTF-8 with or without one.
// False when the bytes are not text in any of these.
bool DecodeMofBytes(const std::string& bytes, WString* text);

}  // namespace vr::wmi
