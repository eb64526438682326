// The prerequisite section's Update: brings the server's prerequisite-check configuration file
// up to date with the registration file's system and prerequisite tags, records what it
// replaced or added, and copies the result over the file's copies in the packages tree.
#include <map>
#include <vector>

#include "tessera/ExitCodes.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Prereq/PrereqRecord.h"
#include "tessera/Prereq/PrereqSupport.h"
#include "tessera/RunLedger.h"
#include "tessera/TesseraTrace.h"
#include "tessera/Prereq/PrereqSection.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::front::kExitFailure;
using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::prereq;

namespace vr::prereq {

// The block of lines from the current line (a tag line) up to the line that ends it, joined by
// line feeds, blank lines behind the tag's text included; the file's position is left on the
// ending line.
WString ReadBlock(VrConfigFile& file, VrTextLine& line) {
  WString block = line.GetText();
  while (!line.IsAtEnd()) {
    const VrTextPosition before = file.GetPosition();
    VrTextLine next;
    if (!file.ReadLine(next, nullptr, false, false)) break;
    if (VrConfigFile::IsEndOfBlock(next)) {
      file.SetPosition(before);
      break;
    }
    block += u"\n" + next.GetText();
    line = next;
  }
  return block;
}

// A tag's text as the registration file gives it, with CR LF turned into LF and outer blank
// lines dropped, so that it compares with a block read from the file.
WString TagText(const WString& text) {
  WString t;
  for (WChar c : text)
    if (c != u'\r') t += c;
  size_t a = 0;
  while (a < t.size() && (t[a] == u'\n' || t[a] == u' ' || t[a] == u'\t')) ++a;
  size_t b = t.size();
  while (b > a && (t[b - 1] == u'\n' || t[b - 1] == u' ' || t[b - 1] == u'\t')) --b;
  return t.substr(a, b - a);
}

// The blank lines at the end of a block (as "\n"s), which separate it from the next one.
WString TrailingBlankLines(const WString& block) {
  size_t n = block.size();
  while (n > 0 && block[n - 1] == u'\n') --n;
  return block.substr(n);
}

}  // namespace vr::prereq

int PrereqSection::Update(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog,
                          WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::Update", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  if (!MayChangePrereqFile(run_.GetClusterNodeState()) || !original_) {
    WriteCommonLog(u"No prerequisites config file update will be performed as we are not on the standalone or "
                   u"cluster/active VRMS server.");
    return 0;
  }
  WString undo = WString(u"[[[PREREQUISITE_CHECK]]]") + u"\n";
  new_->Free(false);
  new_->SetHasHeader(original_->HasHeader());

  // The registration's tags by name; a name given twice keeps its first text.
  Wanted wanted;
  for (const auto& t : reader.PrerequisiteTags())
    if (wanted.prerequisites.emplace(TrimmedName(t.name), WantedTag{t.text, false, false, WString()}).second)
      wanted.prerequisiteOrder.push_back(TrimmedName(t.name));
  for (const auto& t : reader.SystemTags())
    if (wanted.systems.emplace(TrimmedName(t.name), WantedTag{t.text, false, false, WString()}).second)
      wanted.systemOrder.push_back(TrimmedName(t.name));

  MarkTagsInFile(wanted);
  AddLedgerEntries(wanted);
  bool changes = false;
  for (const auto* m : {&wanted.prerequisites, &wanted.systems})
    for (const auto& [name, w] : *m)
      if (!w.met || w.replace) changes = true;
  if (!changes) {
    WriteCommonLog(u"There were no pending updates, no changes were done on the prerequisite file.");
    return 0;
  }
  BuildUpdatedFile(wanted, patch, reinstall, undo);
  return SaveUpdate(undo, sectionLog, message);
}

void PrereqSection::MarkTagsInFile(Wanted& wanted) {
  VR_TRACE_FUNCTION("PrereqSection::MarkTagsInFile", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  VR_TRACE_INFO("Initial reading of the config file, check if there are any changes to be applied.");
  using Kind = VrConfigFile::LineKind;
  original_->ResetPosition();
  VrTextLine line;
  while (original_->ReadLine(line, nullptr, false, false)) {
    const Kind kind = original_->Classify(line);
    const bool isPrereq = kind == Kind::PrerequisitesTag;
    const bool isSystem = kind == Kind::SystemTag;
    if ((isPrereq || isSystem) && line.GetTokenCount() >= 2) {
      const WString name = TagNameOf(line);
      VR_TRACE_INFO(isPrereq ? "Encountered prerequisites tag for '" : "Encountered system tag for '", name, "'.");
      const WString block = ReadBlock(*original_, line);
      auto& tags = isPrereq ? wanted.prerequisites : wanted.systems;
      if (auto it = tags.find(name); it != tags.end()) {
        it->second.met = true;
        it->second.before = block;
        it->second.replace = TagText(it->second.text) != block.substr(0, block.size() - TrailingBlankLines(block).size());
        VR_TRACE_INFO(isPrereq ? "Prerequisites tag '" : "System tag '", name,
                            it->second.replace ? "' will be replaced." : "' will not be replaced, sections are identical.");
      }
    }
    if (line.IsAtEnd()) break;
  }
}

// The ledger's entries: every tag the file lists, changed or found as it is, with the block
// it had before, so that an unregistration puts back what was there and leaves a tag that a
// later registration still lists.
void PrereqSection::AddLedgerEntries(const Wanted& wanted) {
  vr::ledger::Registration* ledger = run_.LedgerRegistration();
  if (!ledger) return;
  for (const auto& [map, kind] :
       {std::pair{&wanted.prerequisites, kLedgerPrerequisiteKind}, {&wanted.systems, kLedgerSystemKind}})
    for (const auto& [name, w] : *map) {
      vr::ledger::Entry entry;
      entry.section = vr::undo::kSectionPrereq;
      entry.kind = kind;
      entry.key = name;
      entry.existedBefore = w.met;
      entry.before = w.before;
      // A tag found as the file wants it is left as it was: its after is its before.
      entry.after = w.met && !w.replace ? w.before : TagText(w.text);
      ledger->entries.push_back(std::move(entry));
    }
}

void PrereqSection::BuildUpdatedFile(Wanted& wanted, const WString& patch, bool reinstall, WString& undo) {
  VR_TRACE_FUNCTION("PrereqSection::BuildUpdatedFile", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  VR_TRACE_INFO("Second reading of the config file, apply marked changes.");
  original_->ResetPosition();
  auto addMissing = [&](WantedTags& tags, const std::vector<WString>& order, bool system) {
    for (const auto& name : order) {
      WantedTag& w = tags[name];
      if (w.met) continue;
      VR_TRACE_INFO(system ? "Adding new system from Tessera XML: '" : "Adding new prerequisites from Tessera XML: '",
                          name, "'.");
      const WString text = TagText(w.text);
      new_->Append(text, true);
      new_->Append(u"", true);
      undo += WString(system ? kSystemAdd : kPrerequisitesAdd) + u" " + name + u"\n" + kBeginSection + u"\n" +
              text + u"\n" + kEndSection + u"\n";
      w.met = true;
    }
  };
  // New tags go at the end of their own section: before the line that opens the other section
  // when theirs comes first, before the CRC line when theirs comes last.
  enum class Section { None, Prerequisites, System } current = Section::None;
  auto addPending = [&](Section section) {
    if (section == Section::Prerequisites) addMissing(wanted.prerequisites, wanted.prerequisiteOrder, false);
    else if (section == Section::System) addMissing(wanted.systems, wanted.systemOrder, true);
  };
  using Kind = VrConfigFile::LineKind;
  VrTextLine line;
  while (original_->ReadLine(line, nullptr, false, false)) {
    const bool last = line.IsAtEnd();
    const Kind kind = original_->Classify(line);
    if (line.GetTokenCount() == 0) {
      if (!(last && line.GetText().empty())) new_->Append(line.GetText(), !last);
    } else if (kind == Kind::Version) {
      VR_TRACE_INFO("Updating VER line in reqcheck config file: ", version_);
      new_->Append(u"VER " + version_, true);
    } else if (kind == Kind::Updates) {
      if (reinstall) {
        new_->Append(line.GetText(), true);
      } else {
        VR_TRACE_INFO("Updating UPDATES line in reqcheck config file: ", "++", patch);
        new_->Append(line.GetText() + u" ++" + patch, true);
      }
    } else if ((kind == Kind::PrerequisitesTag || kind == Kind::SystemTag) && line.GetTokenCount() >= 2) {
      const bool system = kind == Kind::SystemTag;
      const WString name = TagNameOf(line);
      const WString block = ReadBlock(*original_, line);
      auto& tags = system ? wanted.systems : wanted.prerequisites;
      auto it = tags.find(name);
      if (it != tags.end() && it->second.replace) {
        VR_TRACE_INFO("Replacing existing tag content with content from Tessera XML.");
        const WString text = TagText(it->second.text);
        new_->Append(text + TrailingBlankLines(block), true);
        undo += WString(system ? kSystemReplace : kPrerequisitesReplace) + u" " + name + u"\n" + kBeginOld + u"\n" +
                block + u"\n" + kBeginNew + u"\n" + text + u"\n" + kEndNew + u"\n";
      } else {
        VR_TRACE_INFO("Using existing tag content, no updates from Tessera XML.");
        new_->Append(block, true);
      }
    } else if (kind == Kind::PrerequisitesSection || kind == Kind::SystemSection) {
      addPending(current);
      current = kind == Kind::SystemSection ? Section::System : Section::Prerequisites;
      new_->Append(line.GetText(), true);
    } else if (kind == Kind::Crc) {
      addPending(current);
      addPending(Section::Prerequisites);  // nothing left after a loaded file; kept for safety
      addPending(Section::System);
      break;  // the save writes a new CRC line
    } else {
      new_->Append(line.GetText(), !last);
    }
    if (last) break;
  }
}

// The undo records reach the section log (durable in the run journal) before the file
// changes, so that a run killed right after the save can still be rolled back; rolling back
// records of a save that did not happen leaves the file's tags as they are.
// Every file the save and the copies may change is recorded as it is before the first of
// them changes.
int PrereqSection::SaveUpdate(WString& undo, VrLogFile& sectionLog, WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::SaveUpdate", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  if (run_.IsPlanOnly()) {
    sectionLog.AppendLine(undo + u"[[[PREREQUISITE_CHECK_END]]]", true);
    return 0;
  }
  if (std::string record; !BuildPrereqSaveRecord(new_->GetPath(), record, message) || !WritePrereqRecord(record, message))
    return kExitFailure;
  undo += u"[[[PREREQUISITE_CHECK_END]]]";
  VR_TRACE_INFO("Trying to write to partial (reqcheck) log file: ", undo);
  sectionLog.AppendLine(undo, true);
  VR_TRACE_INFO("Saving the updated original reqcheck config file");
  if (FAILED(new_->SaveFile())) {
    WriteCommonLog(u"Original prerequisites config file could not be saved!");
    message = LoadMessage(MessageId::kConfigFileSaveFailed, new_->GetPath());
    return kExitFailure;
  }
  WriteCommonLog(u"Updated original config file: " + new_->GetPath());
  return CopyInstances(new_->GetPath(), u"Updated instance config file: ", nullptr, message) ? 0 : kExitFailure;
}
