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
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::prereq;

namespace {

// What to put back for one tag: an empty text removes it. An undo file's old lines carry
// their own line ends; a block from the ledger is the block as the file held it.
struct Restore {
  WString text;
  bool block = false;
};

// The undo records: tag name to what to put back.
struct UndoRecords {
  std::map<WString, Restore, NoCaseLess> prerequisites;
  std::map<WString, Restore, NoCaseLess> systems;
};

// The records of a registration the ledger knows, from its entries instead of the undo
// file's lines: a tag goes back to the block it had before the registration (or goes, when
// it was new), unless a later registration still listed it; that one then takes over what
// this one found, so that whichever of them is unregistered last puts back the original.
// False when the ledger holds no prerequisite entry of the registration (it was registered
// before the ledger kept them): the undo file's lines decide then.
bool RecordsFromLedger(vr::ledger::Ledger& ledger, vr::ledger::Registration& registration, UndoRecords& records) {
  bool any = false;
  for (const auto& e : registration.entries)
    if (e.section == vr::undo::kSectionPrereq) any = true;
  if (!any) return false;
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

// Markers and record keywords are recognised as the undo file's check recognises its markers:
// by the line's first token, without regard to case.
bool FirstTokenIs(const VrTextLine& line, WStringView word) {
  const auto first = line.GetToken(0);
  return first && vr::text::EqualsNoCase(*first, word);
}

bool StartsWithNoCase(WStringView text, WStringView word) {
  return text.size() >= word.size() && vr::text::EqualsNoCase(text.substr(0, word.size()), word);
}

}  // namespace

bool CVrPlatformRegistration::ReqCheckCfgRegRollback(VrLogFile& log, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::ReqCheckCfgRegRollback", "Prereq\\PrereqRollback", vr::trace::kRunFlags);
  const bool rollback = rollback_;
  if (!rollback) {
    VR_TRACE_INFO("Performing prerequisites unregistration");
    if (!MayChangePrereqFile(clusterNodeState_)) {
      WriteCommonLog(u"No prerequisites config file update will be performed as we are not on the standalone or "
                     u"cluster/active VRMS server.");
      return true;
    }
  }

  VrTextLine line;
  log.ResetPosition();
  bool found = false;
  while (!found) {
    if (log.ReadLine(line, nullptr, true, true) && FirstTokenIs(line, vr::undo::kPrereqBegin)) found = true;
    else if (line.IsAtEnd()) break;
  }
  vr::ledger::Registration* known = rollback ? nullptr : LedgerRegistration();
  bool ledgerKnows = false;
  if (known)
    for (const auto& e : known->entries)
      if (e.section == vr::undo::kSectionPrereq) ledgerKnows = true;
  if (!found && !ledgerKnows) {
    WriteCommonLog(u"Prerequisites section not found in undo file!");
    return true;
  }

  VR_TRACE_INFO("Parsing undo file.");
  UndoRecords records;
  auto syntaxError = [&](uint32_t number, const WString& expected) {
    error_ = true;
    WriteCommonLog(vr::text::Format(u"Syntax error in undo file, section PREREQUISITE_CHECK, line %u, expected %S",
                                    number, expected));
    message = LoadMessage(MessageId::kUndoPrereqExpected, number, log.GetPath(), expected);
    return false;
  };
  bool terminated = !found;  // a section the ledger alone knows has no lines to read
  while (found && log.ReadLine(line, nullptr, true, false)) {
    const uint32_t number = line.GetPosition().line;
    if (FirstTokenIs(line, vr::undo::kPrereqEnd)) {
      terminated = true;
      break;
    }
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
  if (!terminated) {
    error_ = true;
    message = LoadMessage(MessageId::kUndoPrereqUnterminated, log.GetPath(), vr::undo::kPrereqEnd);
    return false;
  }
  if (ledgerKnows && RecordsFromLedger(RunLedger(), *known, records))
    WriteCommonLog(u"Prerequisite tags taken back as the ledger of registrations records them.");
  if (records.prerequisites.empty() && records.systems.empty()) {
    WriteCommonLog(u"No specific prerequisites data found in undo file!");
    return true;
  }
  if (rollback) VR_TRACE_INFO("Performing prerequisites rollback");
  if (!reqOriginal_ || !reqNew_) {
    message = LoadMessage(MessageId::kConfigFileOpenFailed, WString());
    return false;
  }
  // The original is read again: it holds what the registration saved.
  if (FAILED(reqOriginal_->LoadFile())) {
    message = LoadMessage(MessageId::kConfigFileOpenFailed, reqOriginal_->GetPath());
    return false;
  }

  VR_TRACE_INFO("Performing undo changes.");
  reqNew_->Free(false);
  reqNew_->SetHasHeader(reqOriginal_->HasHeader());
  reqOriginal_->ResetPosition();
  const WString& patch = patch_;
  using Kind = VrConfigFile::LineKind;
  while (reqOriginal_->ReadLine(line, nullptr, false, false)) {
    const bool last = line.IsAtEnd();
    const Kind kind = reqOriginal_->Classify(line);
    if (line.GetTokenCount() == 0) {
      if (!(last && line.GetText().empty())) reqNew_->Append(line.GetText(), !last);
    } else if (kind == Kind::Updates) {
      VR_TRACE_INFO("Updating UPDATES line in reqcheck config file: ", "--", patch);
      reqNew_->Append(line.GetText() + u" --" + patch, true);
    } else if ((kind == Kind::PrerequisitesTag || kind == Kind::SystemTag) && line.GetTokenCount() >= 2) {
      const bool system = kind == Kind::SystemTag;
      const WString name = TagNameOf(line);
      VR_TRACE_INFO(system ? "Encountered system tag for '" : "Encountered prerequisites tag for '", name, "'.");
      const WString block = ReadBlock(*reqOriginal_, line);
      const auto& map = system ? records.systems : records.prerequisites;
      const auto it = map.find(name);
      if (it == map.end()) {
        VR_TRACE_INFO("Using existing tag content, no undo required.");
        reqNew_->Append(block, true);
      } else {
        if (it->second.text.empty()) {
          VR_TRACE_INFO("Removing existing tag.");
        } else {
          VR_TRACE_INFO("Replacing existing tag content with content from undo file.");
          reqNew_->Append(it->second.text, it->second.block);
        }
        WriteCommonLog(WString(system ? u"Undone system tag '" : u"Undone prerequisite tag '") + name +
                       u"' content:\n" + block);
      }
    } else if (kind == Kind::Crc) {
      break;  // the save writes a new CRC line
    } else {
      reqNew_->Append(line.GetText(), !last);
    }
    if (last) break;
  }
  // An unregistration records the files before it changes them; a rollback needs no record of
  // its own, the registration's record already holds the state before the run.
  if (std::string record; !rollback && (!BuildPrereqSaveRecord(reqNew_->GetPath(), record, message) ||
                                        !WritePrereqRecord(record, message)))
    return false;
  if (rollback) VR_TRACE_INFO("Saving the original prerequisites config file.");
  if (FAILED(reqNew_->SaveFile())) {
    WriteCommonLog(u"Original prerequisites config file could not be saved!");
    message = LoadMessage(MessageId::kConfigFileSaveFailed, reqNew_->GetPath()) + LoadMessage(MessageId::kPrereqCopiesUnchanged);
    return false;
  }
  WriteCommonLog((rollback ? u"Rolled-back original config file: " : u"Unregistered original config file: ") +
                 reqNew_->GetPath());
  return CopyPrereqInstances(reqNew_->GetPath(),
                             rollback ? u"Rolled-back instance config file: " : u"Unregistered instance config file: ",
                             rollback ? u"Rollback of instance reqcheck file failed: "
                                      : u"Unregistration of instance reqcheck file failed: ",
                             message);
}
