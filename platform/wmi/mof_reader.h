// The MOF reader: DMTF MOF text into statements for the compiler. It understands the pragmas
// namespace, classflags, instanceflags, deleteclass, deleteinstance, locale and autorecover;
// qualifier declarations (their flavours become the defaults of that qualifier); qualifier
// lists with scalar and array values and flavours; class declarations with superclass, typed
// and array properties, references and defaults; and instance declarations with aliases.
// Nothing is compiled when the text has an error; the error names line and column.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/com/variant.h"
#include "platform/wmi/object_model.h"

namespace vr::wmi {

struct MofPosition {
  uint32_t line = 0;
  uint32_t column = 0;
};

struct MofError {
  HRESULT code = S_OK;
  MofPosition position;
  WString message;
  // "FILE:LINE:COLUMN: error: MESSAGE" (without the file part when fileName is empty).
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
  enum class Kind { kClass, kInstance, kDeleteClass, kDeleteInstance };
  Kind kind = Kind::kClass;
  MofPosition position;
  WString nameSpace;  // the namespace in force ("root\..."), from the pragmas or the default
  long flags = 0;     // WBEM_FLAG_* from classflags / instanceflags

  // kClass
  ClassDecl cls;
  std::vector<MofPosition> propertyPositions;  // one per cls.properties entry
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
};

// defaultNamespace: the namespace before the first namespace pragma ("root\default" style).
HRESULT ReadMof(WStringView text, WStringView defaultNamespace, MofDocument* doc, MofError* error);

// Decodes a MOF file's bytes: UTF-16 with a byte-order mark, UTF-8 with or without one.
// False when the bytes are not text in any of these.
bool DecodeMofBytes(const std::string& bytes, WString* text);

}  // namespace vr::wmi
