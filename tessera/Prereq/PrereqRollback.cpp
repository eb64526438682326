// Reversing the prerequisite section: after a later section of the same registration failed
// (rollback), or for an unregistration from an undo file. Replaced tags get their old blocks
// back, added tags are removed, and the "UPDATES:" line records the reversal.
#include <map>

#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Prereq/PrereqRecord.h"
#include "tessera/Prereq/PrereqSupport.h"
#include "tessera/RunLedger.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/Prereq/PrereqSection.h"
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::prereq;

namespace {

// Markers and record keywords are recognised as the undo file's check recognises its markers:
// by the line's first token, without regard to case.
bool FirstTokenIs(const VrTextLine& line, WStringView word) {
  const auto first = line.GetToken(0);
  return first && vr::text::EqualsNoCase(*first, word);
}

bool StartsWithNoCase(WStringView text, WStringView word) {
  return text.size() >= word.size() && vr::text::EqualsNoCase(text.substr(0, word.size()), word);
}

// Moves the log to the line after the section's begin marker; false when it has none.
bool FindSectionBegin(VrLogFile& log) {
  VrTextLine line;
  log.ResetPosition();
  while (true) {
    if (log.ReadLine(line, nullptr, true, true) && FirstTokenIs(line, vr::undo::kPrereqBegin)) return true;
    if (line.IsAtEnd()) return false;
  }
}

// Whether the ledger holds prerequisite entries of the registration being taken back.
bool LedgerHasPrereqEntries(const vr::ledger::Registration* known) {
  if (known)
    for (const auto& e : known->entries)
      if (e.section == vr::undo::kSectionPrereq) return true;
  return false;
}

}  // namespace

// The records of a registration the ledger knows, from its entries instead of the undo
// file's lines: a tag goes back to the block it had before the registration (or goes, when
// it was new), unless a later registration still listed it; that one then takes over what
// this one found, so that whichever of them is unregistered last puts back the original.
// False when the ledger holds no prerequisite entry of the registration (it was registered
// before the ledger kept them): the undo file's lines decide then.
bool PrereqSection::RecordsFromLedger(vr::ledger::Ledger& ledger, vr::ledger::Registration& registration,
                                      UndoRecords& records) {
  if (!LedgerHasPrereqEntries(&registration)) return false;
  records = UndoRecords();
  for (auto& e : registration.entries) {
    if (e.section != vr::undo::kSectionPrereq || e.reversed) continue;
    vr::ledger::Entry* later = nullptr;
    for (const auto& ref : ledger.Chain(vr::undo::kSectionPrereq, e.kind, e.key))
      if (ref.registration->seq > registration.seq) {
        later = ref.entry;
        break;
      }
    e.reversed = true;
    if (later) {
      later->existedBefore = e.existedBefore;
      later->before = e.before;
      continue;
    }
    if (e.existedBefore && e.before == e.after) continue;  // found as it is, left as it was
    auto& map = e.kind == kLedgerSystemKind ? records.systems : records.prerequisites;
    map[e.key] = e.existedBefore ? Restore{e.before, true} : Restore{};
  }
  return true;
}

bool PrereqSection::Rollback(VrLogFile& log, WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::Rollback", "Prereq\\PrereqRollback", vr::trace::kRunFlags);
  const bool rollback = run_.IsRollback();
  if (!rollback) {
    VR_TRACE_INFO("Performing prerequisites unregistration");
    if (!MayChangePrereqFile(run_.GetClusterNodeState())) {
      WriteCommonLog(u"No prerequisites config file update will be performed as we are not on the standalone or "
                     u"cluster/active VRMS server.");
      return true;
    }
  }
  const bool found = FindSectionBegin(log);
  vr::ledger::Registration* known = rollback ? nullptr : run_.LedgerRegistration();
  const bool ledgerKnows = LedgerHasPrereqEntries(known);
  if (!found && !ledgerKnows) {
    WriteCommonLog(u"Prerequisites section not found in undo file!");
    return true;
  }

  UndoRecords records;
  // A section the ledger alone knows has no lines to read.
  if (found && !ReadUndoRecords(log, records, message)) return false;
  if (ledgerKnows && RecordsFromLedger(run_.RunLedger(), *known, records))
    WriteCommonLog(u"Prerequisite tags taken back as the ledger of registrations records them.");
  if (records.prerequisites.empty() && records.systems.empty()) {
    WriteCommonLog(u"No specific prerequisites data found in undo file!");
    return true;
  }
  if (rollback) VR_TRACE_INFO("Performing prerequisites rollback");
  if (!original_ || !new_) {
    message = LoadMessage(MessageId::kConfigFileOpenFailed, WString());
    return false;
  }
  // The original is read again: it holds what the registration saved.
  if (FAILED(original_->LoadFile())) {
    message = LoadMessage(MessageId::kConfigFileOpenFailed, original_->GetPath());
    return false;
  }
  BuildRolledBackFile(records);
  return SaveRollback(rollback, message);
}

bool PrereqSection::ReadUndoRecords(VrLogFile& log, UndoRecords& records, WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::ReadUndoRecords", "Prereq\\PrereqRollback", vr::trace::kRunFlags);
  VR_TRACE_INFO("Parsing undo file.");
  // A damaged section is the undo file's fault: the run ends with the undo-file error.
  auto syntaxError = [&](uint32_t number, const WString& expected) {
    run_.SetError();
    WriteCommonLog(vr::text::Format(u"Syntax error in undo file, section PREREQUISITE_CHECK, line %u, expected %S",
                                    number, expected));
    message = LoadMessage(MessageId::kUndoPrereqExpected, number, log.GetPath(), expected);
    return false;
  };
  VrTextLine line;
  while (log.ReadLine(line, nullptr, true, false)) {
    const uint32_t number = line.GetPosition().line;
    if (FirstTokenIs(line, vr::undo::kPrereqEnd)) return true;
    const bool prereqAdd = FirstTokenIs(line, kPrerequisitesAdd), systemAdd = FirstTokenIs(line, kSystemAdd);
    const bool prereqReplace = FirstTokenIs(line, kPrerequisitesReplace),
               systemReplace = FirstTokenIs(line, kSystemReplace);
    if (prereqAdd || systemAdd || prereqReplace || systemReplace) {
      const bool system = systemAdd || systemReplace;
      const WString tag = TagNameOf(line);
      if (line.GetTokenCount() < 2 || tag.empty())
        return syntaxError(number, system ? u"<system_name>" : u"<prerequisite_name>");
      auto& map = system ? records.systems : records.prerequisites;
      if (prereqAdd || systemAdd) {
        map[tag] = Restore{};
      } else {
        // The old block runs from its marker up to the new block's marker, which is left for
        // the next line read.
        VrTextLine marker;
        if (!log.ReadLine(marker, kBeginOld, true, false)) return syntaxError(marker.GetPosition().line, kBeginOld);
        WString old;
        VrTextLine body;
        bool closed = false;
        while (log.ReadLine(body, nullptr, false, false)) {
          const auto t = body.GetToken(0);
          if (t && StartsWithNoCase(*t, kBeginNew)) {
            log.GoBackOneLine(nullptr, false, false);
            closed = true;
            break;
          }
          old += body.GetText() + u"\r\n";
          if (body.IsAtEnd()) break;
        }
        if (!closed) return syntaxError(body.GetPosition().line, kBeginNew);
        map[tag] = Restore{old, false};
      }
    }
    if (line.IsAtEnd()) break;
  }
  run_.SetError();
  message = LoadMessage(MessageId::kUndoPrereqUnterminated, log.GetPath(), vr::undo::kPrereqEnd);
  return false;
}

void PrereqSection::BuildRolledBackFile(const UndoRecords& records) {
  VR_TRACE_FUNCTION("PrereqSection::BuildRolledBackFile", "Prereq\\PrereqRollback", vr::trace::kRunFlags);
  VR_TRACE_INFO("Performing undo changes.");
  new_->Free(false);
  new_->SetHasHeader(original_->HasHeader());
  original_->ResetPosition();
  const WString& patch = run_.GetPatch();
  using Kind = VrConfigFile::LineKind;
  VrTextLine line;
  while (original_->ReadLine(line, nullptr, false, false)) {
    const bool last = line.IsAtEnd();
    const Kind kind = original_->Classify(line);
    if (line.GetTokenCount() == 0) {
      if (!(last && line.GetText().empty())) new_->Append(line.GetText(), !last);
    } else if (kind == Kind::Updates) {
      VR_TRACE_INFO("Updating UPDATES line in reqcheck config file: ", "--", patch);
      new_->Append(line.GetText() + u" --" + patch, true);
    } else if ((kind == Kind::PrerequisitesTag || kind == Kind::SystemTag) && line.GetTokenCount() >= 2) {
      const bool system = kind == Kind::SystemTag;
      const WString name = TagNameOf(line);
      VR_TRACE_INFO(system ? "Encountered system tag for '" : "Encountered prerequisites tag for '", name, "'.");
      const WString block = ReadBlock(*original_, line);
      const auto& map = system ? records.systems : records.prerequisites;
      const auto it = map.find(name);
      if (it == map.end()) {
        VR_TRACE_INFO("Using existing tag content, no undo required.");
        new_->Append(block, true);
      } else {
        if (it->second.text.empty()) {
          VR_TRACE_INFO("Removing existing tag.");
        } else {
          VR_TRACE_INFO("Replacing existing tag content with content from undo file.");
          new_->Append(it->second.text, it->second.block);
        }
        WriteCommonLog(WString(system ? u"Undone system tag '" : u"Undone prerequisite tag '") + name +
                       u"' content:\n" + block);
      }
    } else if (kind == Kind::Crc) {
      break;  // the save writes a new CRC line
    } else {
      new_->Append(line.GetText(), !last);
    }
    if (last) break;
  }
}

bool PrereqSection::SaveRollback(bool rollback, WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::SaveRollback", "Prereq\\PrereqRollback", vr::trace::kRunFlags);
  // An unregistration records the files before it changes them; a rollback needs no record of
  // its own, the registration's record already holds the state before the run.
  if (std::string record; !rollback && (!BuildPrereqSaveRecord(new_->GetPath(), record, message) ||
                                        !WritePrereqRecord(record, message)))
    return false;
  if (rollback) VR_TRACE_INFO("Saving the original prerequisites config file.");
  if (FAILED(new_->SaveFile())) {
    WriteCommonLog(u"Original prerequisites config file could not be saved!");
    message = LoadMessage(MessageId::kConfigFileSaveFailed, new_->GetPath()) + LoadMessage(MessageId::kPrereqCopiesUnchanged);
    return false;
  }
  WriteCommonLog((rollback ? u"Rolled-back original config file: " : u"Unregistered original config file: ") +
                 new_->GetPath());
  return CopyInstances(new_->GetPath(),
                       rollback ? u"Rolled-back instance config file: " : u"Unregistered instance config file: ",
                       rollback ? u"Rollback of instance reqcheck file failed: "
                                : u"Unregistration of instance reqcheck file failed: ",
                       message);
}
