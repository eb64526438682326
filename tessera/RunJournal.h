// The run journal: what a registration or unregistration is doing, kept durably in the host
// root so that a run killed at any moment can be put right by the next one (the model is a
// database's hot journal, rolled back by the next connection).
//
// Each run has a folder ROOT/journal/run-PID-TIME with
//   run.manifest   the run's patch, undo file, creation time, selected sections and state,
//                  written whole and flushed (a crash leaves the old manifest or the new one);
//   platforms.log, packages.log, prereq.log
//                  the section logs of a registration: each section writes its undo lines into
//                  its log as it commits its changes, and each line is flushed to disk before
//                  the section goes on;
//   folders.log    folders a section is about to create, noted before it creates them;
//   platforms.rec, packages.rec, prereq.rec
//                  the sections' records: before its first change, a section writes the state
//                  before of everything it is about to change (its own format, UTF-8 lines),
//                  so that the next run can put every object back exactly, whatever part of
//                  the run happened.
// A run that ends, however it ends short of a crash, removes its folder. A folder whose
// manifest still says "active" belongs to a run that was killed: the next run rolls back
// what its section logs record, through the sections' own rollback, before its own work.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/wstring.h"

namespace vr::journal {

struct Manifest {
  std::string mode;        // "reg" or "unreg"
  WString patch;
  WString undoFile;        // empty when the run writes none
  WString createdOn;       // the undo header's creation time
  bool undoExisted = false;  // an undo file of that name was there before the run
  int sections = 0;        // the sections the run selected (undo file bits)
  std::string state;       // "active", or "kept" (the logs stay for the user)
};

class RunJournal {
 public:
  // Starts the journal of a run: makes its folder and writes its manifest (state "active").
  // A Win32 error when that fails; the run must then change nothing.
  static long Begin(const Manifest& manifest, std::unique_ptr<RunJournal>& out);
  // Removes the run's folder unless the run has started to change the host and did not
  // Finish: then only a crash or an unexpected error can have stopped it, and the journal
  // stays for the next run.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // The durable log of a section (undo file bit) in the run's folder.
  WString SectionLogPath(int section) const;
  // From now on the run changes the host: the journal stays unless Finish is called.
  void MarkUpdating() { updating_ = true; }
  // The run is over and the host is in order (committed, or rolled back): the journal goes.
  void Finish();
  // The run is over but its section logs hold what the user must see (the undo file could not
  // be saved): the manifest says "kept", so no later run rolls the changes back, and the logs
  // stay where they are.
  void Keep();

  // Appends a block of a section's record (whole lines, UTF-8) and flushes it to disk before
  // returning; the section changes nothing recorded there before this succeeded. A Win32
  // error when the record could not be made durable.
  long RecordSection(int section, std::string_view utf8Block);
  // The run's undo file was put back as it was before the run (its rollback failed, and the
  // journal stays for the next run): the manifest forgets it, so that a file found there later
  // (an older one of the same patch, maybe of the same second) is never taken for this run's.
  void ForgetUndoFile();
  // The record of a section as written so far by this run (whole lines), for a run that puts
  // a section back itself; empty when there is none or it cannot be read.
  std::string ReadRecord(int section) const;

  // Write-ahead note of a folder the run is about to create; a recovery removes it again when
  // it is empty. False when the note could not be made durable.
  bool NoteFolderToCreate(const WString& folder);

  const std::string& Folder() const { return folder_; }
  const Manifest& GetManifest() const { return manifest_; }

  // The journal of the registration going on in this process, or null: sections note through
  // it what they are about to create.
  static RunJournal* Current();

  // ---- Recovery

  // A run folder found in the journal, with what the killed run left.
  struct Interrupted {
    std::string folder;
    bool hasManifest = false;
    Manifest manifest;
    std::vector<WString> folders;  // from folders.log
    // The sections' records (RecordSection), each cut to its last whole line; empty when the
    // section recorded nothing. Indexed by RecordIndex.
    std::string records[3];
  };
  // The index into Interrupted::records of a section bit: platforms 0, packages 1, prereq 2.
  static int RecordIndex(int section);
  // The run folders below ROOT/journal, oldest first; a missing journal folder gives none.
  static std::vector<Interrupted> FindInterrupted();
  // What became of the killed run's undo file.
  enum class UndoState {
    NotWritten,  // none, unreadable, or another run's (the killed run did not get to write it)
    HeaderOnly,  // the killed run's header, no section yet: its changes are not recorded there
    Complete,    // the killed run's, with every section whose log records changes and at least
                 // one: the run was killed after its final save
    Partial,     // the killed run's, with sections, but not all of them
  };
  static UndoState UndoFileState(const Interrupted& run, int sectionsWithChanges);
  // Removes a run folder and all in it, the manifest first: a removal cut short leaves a
  // folder without manifest, which counts as a run that has nothing to put right.
  static long Remove(const std::string& folder);
  static std::string JournalFolder();

 private:
  RunJournal() = default;
  long WriteManifest();
  std::string folder_;
  Manifest manifest_;
  bool updating_ = false;
  bool finished_ = false;
};

// True when a section log records a change: a line other than a section marker, an empty line
// or a comment. A log without one has nothing to roll back.
bool SectionLogRecordsChanges(WStringView content);

// Manifest text: one "key=value" line per field, UTF-8. Parse gives false for a text that is
// not a complete manifest (a run killed while it wrote its first one leaves no manifest at
// all, so a damaged one is refused rather than guessed at).
std::string FormatManifest(const Manifest& manifest);
bool ParseManifest(const std::string& text, Manifest& manifest);

}  // namespace vr::journal
