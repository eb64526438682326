// The prerequisite section of a registration run: brings the server's prerequisite-check
// configuration file up to date with the registration file's system and prerequisite tags,
// takes those changes back (rollback, unregistration), and puts the files back from the run
// journal's record. It owns the loaded file and the version folder its Init may have made, and
// reaches the run's shared state only through the registration object's public accessors.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/Prereq/PrereqSupport.h"

class CVrPlatformRegistration;
class CXmlReader;
class VrConfigFile;
class VrLogFile;
namespace vr::ledger {
class Ledger;
struct Registration;
}  // namespace vr::ledger

class PrereqSection {
 public:
  explicit PrereqSection(CVrPlatformRegistration& run);
  ~PrereqSection();
  PrereqSection(const PrereqSection&) = delete;
  PrereqSection& operator=(const PrereqSection&) = delete;

  // Loads the highest version's file, or copies it into the requested version's new folder
  // first; 0 or 100 with message.
  int Init(WString& message, const WString& requestedVersion);
  // Adds and replaces the registration file's tags, writes the undo lines into sectionLog and
  // copies the saved file over its copies; 0 or 100 with message.
  int Update(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog, WString& message);
  // Takes back the tags the section's lines (or the ledger) name; false when any part failed.
  bool Rollback(VrLogFile& log, WString& message);
  // Drops the loaded file; a registration that did not get as far as its summary also loses
  // the version folder its Init made.
  bool Cleanup(WString& message);
  // Puts back the files a run journal's record names (recovery); idempotent.
  bool RestoreRecord(const std::string& record, WString& message);
  // Refuses a registration file whose tag text is not one block of its own name and kind:
  // false with message 211, which also goes to the run log.
  bool CheckTags(const CXmlReader& reader, WString& message);

 private:
  // What the registration wants of one tag, and what the file holds of it.
  struct WantedTag {
    WString text;
    bool met = false;
    bool replace = false;
    WString before;  // the tag's block in the file, when met
  };
  using WantedTags = std::map<WString, WantedTag, vr::prereq::NoCaseLess>;

  // What to put back for one tag: an empty text removes it. An undo file's old lines carry
  // their own line ends; a block from the ledger is the block as the file held it.
  struct Restore {
    WString text;
    bool block = false;
  };
  // The undo records: tag name to what to put back.
  struct UndoRecords {
    std::map<WString, Restore, vr::prereq::NoCaseLess> prerequisites;
    std::map<WString, Restore, vr::prereq::NoCaseLess> systems;
  };
  // The records of a registration the ledger knows, from its entries instead of the undo
  // file's lines; false when the ledger holds no prerequisite entry of it.
  static bool RecordsFromLedger(vr::ledger::Ledger& ledger, vr::ledger::Registration& registration,
                                UndoRecords& records);

  // ---- Init
  // Makes the requested version's folder and file from the file at path (recorded first, so
  // that a run that does not complete takes them away); 0 or 100 with message.
  int CreateVersion(const WString& folder, const WString& requestedVersion, const WString& path,
                    WString& message);
  // Removes the version folder (or the file) this run's Init created.
  void DiscardNewVersion();

  // ---- Update
  // The registration's tags (first text of each name, in the registration file's order) with what
  // the configuration file holds of them.
  struct Wanted {
    WantedTags prerequisites, systems;
    std::vector<WString> prerequisiteOrder, systemOrder;
  };
  // First pass over the file: which tags are there, and which differ from the wanted text.
  void MarkTagsInFile(Wanted& wanted);
  // The ledger's entries of every tag the registration lists.
  void AddLedgerEntries(const Wanted& wanted);
  // Second pass: builds the new file with the tags added and replaced; the undo lines go to undo.
  void BuildUpdatedFile(Wanted& wanted, const WString& patch, bool reinstall, WString& undo);
  // Records, logs the undo lines, saves the new file and copies it; 0 or 100 with message.
  int SaveUpdate(WString& undo, VrLogFile& sectionLog, WString& message);

  // ---- Rollback
  // Reads the undo lines after the section's begin marker into records; false with message
  // (the undo file's fault, error flag set) on a syntax error.
  bool ReadUndoRecords(VrLogFile& log, UndoRecords& records, WString& message);
  // Builds the new file with the records' tags put back and the reversal in the UPDATES line.
  void BuildRolledBackFile(const UndoRecords& records);
  // Records (unregistration), saves the new file and copies it; false with message.
  bool SaveRollback(bool rollback, WString& message);

  // A line of the run log, traced first.
  void WriteCommonLog(const WString& text);
  // Copies the saved configuration file over its copies in the packages tree; failurePrefix
  // (rollback and unregistration) goes to the run log before a failed copy's message.
  bool CopyInstances(const WString& saved, const WString& logPrefix, const WChar* failurePrefix, WString& message);

  CVrPlatformRegistration& run_;
  std::unique_ptr<VrConfigFile> original_;  // the file as loaded at Init
  std::unique_ptr<VrConfigFile> new_;       // the file being built, saved at the end
  WString version_;                         // the version folder in use
  WString createdFolder_;                   // the version folder this run's Init created
  WString createdFile_;                     // the file this run's Init copied into it
};
