// Compiling MOF into the repository, and the repository's text forms: export of a namespace
// or a class as MOF (what import reads back), query results, and the canonical snapshot.
// All or nothing: a MOF text with an error, of syntax or of meaning, changes nothing.
#pragma once
#include <functional>

#include "platform/wmi/mof_reader.h"
#include "platform/wmi/repository.h"

namespace vr::wmi {

struct MofImportCounts {
  size_t classes = 0;
  size_t instances = 0;
  size_t deletions = 0;
  size_t qualifiers = 0;  // qualifier declarations
};

// Reads the files "#pragma include" names (MofReadOptions::include; MofFileIncludes reads
// them from the file system). Unset: the pragma is refused.
using MofIncludeReader = std::function<bool(WStringView includingFile, WStringView name, MofIncludedFile* out, WString* why)>;

// defaultNamespace applies until the first namespace pragma. Qualifier declarations are kept
// in their namespace and type and flavour the uses of every later import there. A reference
// or embedded object must name a class that exists when the import ends (a class of the same
// text may come later). Fault point "wmi.CompileMof".
HRESULT CompileMof(Repository& repo, WStringView text, WStringView defaultNamespace, MofImportCounts* counts,
                   MofError* error, const MofIncludeReader& include = {});

using TextSink = std::function<void(const WString&)>;

// The qualifier declarations, the classes (every class after its superclass) and then the
// instances of a namespace, in key order; or, with className, that class, its subclasses and their instances. With
// withPragma the text begins with the namespace pragma. System classes are not written,
// their instances are; child namespaces are not.
HRESULT ExportNamespace(Repository& repo, WStringView nameSpace, WStringView className, bool withPragma,
                        const TextSink& sink, WString* why);
// The MOF text of every instance a WQL query returns.
HRESULT QueryText(Repository& repo, WStringView nameSpace, WStringView wql, const TextSink& sink, size_t* count,
                  WString* why);
// Every namespace, then the export of each: two repositories in the same state give the same text.
HRESULT SnapshotText(Repository& repo, const TextSink& sink, WString* why);

// The namespace pragma line for a namespace ("#pragma namespace(\"\\\\\\\\.\\\\root...\")").
WString NamespacePragma(WStringView nameSpace);

}  // namespace vr::wmi
