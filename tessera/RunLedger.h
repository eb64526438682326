// The ledger: what every registration of this server changed, kept until it is unregistered.
//
// An undo file says what a registration did, but not what happened since: a second
// unregistration of the same file, a later patch that changed the same caption, or a value that
// was there before the registration. The ledger keeps, for each registration (found by the undo
// header's Patch= and CreatedOn=), the changes its sections made with their before and after
// states, and which sections an unregistration has taken back. It lives in one file below the
// host root, replaced whole and flushed at each commit of a run (dpkg's list of the files a
// package owns, and a database's log, are the models).
//
// File format (UTF-8, one record per line, fields separated by tabs; tab, line end and
// backslash in a field are escaped as \t \n \r \\):
//   vorant-ledger 1                                    first line
//   R <seq> <sections> <reversedSections> <patch> <createdOn> <undoFile>
//   E <section> <kind> <flags> <key> <before> <after>  entries of the registration above
//   end                                                last line: a ledger without it is damaged
// flags: "b" existed before, "r" reversed, "-" neither.
#pragma once
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/text/line_escape.h"
#include "platform/text/wstring.h"

namespace vr::ledger {

// One field of a tab-separated line: tab, line ends and backslash escaped as \t \n \r \\.
// The ledger and the sections' records in the run journal write their fields this way.
inline std::string EscapeField(std::string_view v) { return vr::text::EscapeLineText(v, vr::text::TabEscape::kEscape); }
// False for a text no EscapeField wrote (a lone or unknown escape).
inline bool UnescapeField(std::string_view v, std::string& out) { return vr::text::UnescapeLineText(v, out); }

// One change a registration made, with its states in the section's own encoding.
struct Entry {
  int section = 0;             // vr::undo::kSection...
  std::string kind;            // the section's name of the change ("caption", "module", ...)
  WString key;                 // what was changed; compared without regard to case
  WString before, after;       // the states before and after the registration
  bool existedBefore = false;  // the object was there before the registration
  bool reversed = false;       // taken back by an unregistration
};

struct Registration {
  long long seq = 0;           // registration order, increasing
  WString patch, createdOn;    // the undo header's Patch= and CreatedOn=: the key
  WString undoFile;            // where its undo file was written (information only)
  int sections = 0;            // the sections it registered (undo file bits)
  int reversedSections = 0;    // the sections an unregistration has taken back
  std::vector<Entry> entries;  // in the order the changes were made

  // True when every section of mask that the registration holds has been taken back.
  bool Reversed(int mask) const { return (sections & mask & ~reversedSections) == 0; }
};

class Ledger {
 public:
  // Reads the ledger of the host. A missing ledger is an empty one; a damaged one gives
  // ERROR_INVALID_DATA (and out stays empty), a read failure its Win32 error.
  static long Load(Ledger& out);
  // Replaces the ledger file with this content, atomically and flushed: one sync.
  long Save() const;

  // Pointers into the ledger (Find, Add, Chain) stay valid until their registration is removed.
  Registration* Find(WStringView patch, WStringView createdOn);
  // A new registration with the next sequence number; one with the same key goes first.
  Registration& Add(WStringView patch, WStringView createdOn, WStringView undoFile);
  bool Remove(WStringView patch, WStringView createdOn);

  // The live entries of one object (same section and kind, key equal without regard to
  // case): entries not reversed, of registrations that have not taken back that section;
  // oldest registration first, and in each registration in the order of its entries.
  struct Ref {
    Registration* registration;
    Entry* entry;
  };
  std::vector<Ref> Chain(int section, std::string_view kind, WStringView key);

  // Chain for a run that asks about many objects of one section (an unregistration of a
  // thousand packages): the entries are grouped once, so that each question costs the length
  // of its own chain and not a walk over the whole ledger. It sees later changes of the
  // entries' reversed flags, but no entry or registration added or removed after it was made.
  class SectionIndex {
   public:
    SectionIndex(Ledger& ledger, int section);
    std::vector<Ref> Chain(std::string_view kind, WStringView key) const;

   private:
    std::unordered_map<std::string, std::vector<Ref>> refs_;  // kind, tab, key in lower case
  };

  // In registration order (the order of their sequence numbers).
  const std::list<Registration>& Registrations() const { return registrations_; }
  std::list<Registration>& Registrations() { return registrations_; }

  // The text of the file, and its reading (false for a damaged text); exposed for tests.
  std::string Format() const;
  static bool Parse(const std::string& text, Ledger& out);
  // ROOT/ledger/ledger.txt
  static std::string FilePath();

 private:
  std::list<Registration> registrations_;
  long long nextSeq_ = 1;
};

}  // namespace vr::ledger
