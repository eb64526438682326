// The plan of a run (-whatif): a registration or unregistration goes as far as its first
// change, then prints, section by section, the undo lines it would write (or take back) and
// stops. Nothing is recorded, applied or saved; the run log gets the header and the outcome.
#include <utility>

#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/FinalMessage.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/RunJournal.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace {

using namespace vr::front;  // the exit codes

// The run log's mark of a plan run, below its header.
constexpr const char16_t* kPlanMark = u"# Plan only (-whatif): the stores are read, nothing is changed.";

// The sections of a plan write their progress nowhere: the run log keeps the lines of what a
// run did, and a plan does nothing. The run log is back when the guard goes.
class RunLogDetached {
 public:
  explicit RunLogDetached(std::unique_ptr<VrLogFile>& runLog) : runLog_(runLog), kept_(std::move(runLog)) {}
  ~RunLogDetached() { runLog_ = std::move(kept_); }
  RunLogDetached(const RunLogDetached&) = delete;
  RunLogDetached& operator=(const RunLogDetached&) = delete;

 private:
  std::unique_ptr<VrLogFile>& runLog_;
  std::unique_ptr<VrLogFile> kept_;
};

// A text of lines as the console takes it: line feeds only.
WString ConsoleLines(const WString& text) {
  WString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) out += text[i];
  if (!out.empty() && out.back() != u'\n') out += u'\n';
  return out;
}

struct SectionMarkers {
  int bit;
  const char16_t* begin;
  const char16_t* end;
};
constexpr SectionMarkers kMarkers[] = {
    {vr::undo::kSectionPlatforms, vr::undo::kPlatformsBegin, vr::undo::kPlatformsEnd},
    {vr::undo::kSectionPackages, vr::undo::kPackagesBegin, vr::undo::kPackagesEnd},
    {vr::undo::kSectionPrereq, vr::undo::kPrereqBegin, vr::undo::kPrereqEnd},
};

WString Trimmed(const WString& line) {
  size_t a = 0, b = line.size();
  while (a < b && (line[a] == u' ' || line[a] == u'\t' || line[a] == u'\r')) ++a;
  while (b > a && (line[b - 1] == u' ' || line[b - 1] == u'\t' || line[b - 1] == u'\r')) --b;
  return line.substr(a, b - a);
}

// The lines of every section of the kind in an undo file's text, markers included, exactly as
// the file has them (line feeds only). Markers match in any letter case, as the sections'
// readers take them.
WString SectionText(const WString& content, const SectionMarkers& markers) {
  WString out;
  bool inside = false;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find(u'\n', pos);
    if (nl == WString::npos) nl = content.size();
    WString line = content.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    const WString word = Trimmed(line);
    if (!inside && vr::text::EqualsNoCase(word, markers.begin)) inside = true;
    if (inside) out += line + u"\n";
    if (inside && vr::text::EqualsNoCase(word, markers.end)) inside = false;
  }
  return out;
}

}  // namespace

// A plan puts nothing right, not even what a killed run left: the real run would take back
// that run's changes first, and the plan says so for each such run.
void CVrPlatformRegistration::BeginPlan() {
  LogLine(kPlanMark);
  for (const vr::journal::RunJournal::Interrupted& run : vr::journal::RunJournal::FindInterrupted()) {
    if (!run.hasManifest || run.manifest.state != "active") continue;
    const WString warning =
        LoadMessage(MessageId::kPlanInterruptedRunFirst, run.manifest.patch, vr::text::Utf8ToWide(run.folder));
    LogLine(u"# " + warning);
    vr::console::PrintConsoleText(warning, vr::console::kWarning);
  }
}

int CVrPlatformRegistration::PlanRegistration(CXmlReader& reader, const WString& patch, bool reinstall,
                                              const WString& undoFile, int selected) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PlanRegistration", "VrPlatformRegistration", vr::trace::kRunFlags);
  RunInits(selected, reader.ReqCheckVersion());
  // The plan writes no undo file; a path whose root cannot be entered stops the real run
  // before its first change, and the plan with it. (A folder the real run would create is not
  // made here, so whether that would succeed is not known.)
  if (const WString problem = undoFile.empty() ? WString() : UndoRootProblem(undoFile); !problem.empty()) {
    LogLine(problem);
    throw CApp_error(problem, kExitFailure);
  }

  // The section logs of a plan stay in memory: the plan prints them.
  VrLogFile platformLog(u"", false), packageLog(u"", false), prereqLog(u"", false);
  struct Step {
    int bit;
    VrLogFile* log;
  };
  const Step steps[] = {{vr::undo::kSectionPlatforms, &platformLog},
                        {vr::undo::kSectionPackages, &packageLog},
                        {vr::undo::kSectionPrereq, &prereqLog}};
  WString plan;
  for (const Step& step : steps) {
    if (!(selected & step.bit)) continue;
    WString failure;
    const SectionMarkers& markers = step.bit == vr::undo::kSectionPlatforms  ? kMarkers[0]
                                    : step.bit == vr::undo::kSectionPackages ? kMarkers[1]
                                                                             : kMarkers[2];
    // The prerequisite section writes its own markers, as in the real run.
    const bool runMarks = step.bit != vr::undo::kSectionPrereq;
    int status;
    {
      RunLogDetached quiet(runLog_);
      if (runMarks) step.log->AppendLine(markers.begin, true);
      if (step.bit == vr::undo::kSectionPlatforms) status = sections_->PlatformRegUpdate(reader, patch, reinstall, *step.log, failure);
      else if (step.bit == vr::undo::kSectionPackages) status = sections_->PackageRegUpdate(reader, patch, reinstall, *step.log, failure);
      else status = sections_->ReqCheckCfgRegUpdate(reader, patch, reinstall, *step.log, failure);
      if (runMarks) step.log->AppendLine(markers.end, true);
    }
    if (status == kExitWarnings && step.bit == vr::undo::kSectionPlatforms) status = 0;
    if (status != 0) {
      // The real run fails here and rolls back what the sections before did: the plan shows
      // those sections, the failure, and ends with the real run's exit code.
      if (!plan.empty()) vr::console::WriteStdout(plan);
      vr::console::PrintConsoleText(failure, vr::console::kError);
      LogLine(u"# " + failure);
      throw CApp_error(WString(), kExitRollbackSucceeded);
    }
    // As the undo file has them: the platform and package sections after an empty line.
    if (runMarks) plan += u"\n";
    plan += ConsoleLines(step.log->GetContent());
  }
  vr::console::WriteStdout(plan);
  return FinishPlan();
}

int CVrPlatformRegistration::PlanUnregistration(VrLogFile& undo, int sections,
                                                const vr::ledger::Registration* known) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PlanUnregistration", "VrPlatformRegistration", vr::trace::kRunFlags);
  const int reversed = known ? known->reversedSections : 0;
  const int todo = sections & ~reversed;
  RunInits(todo, WString());
  vr::front::SetFinalMessage(LoadMessage(MessageId::kUnregErrors, GetPatch()));
  // The package section checks, before it changes anything, that the patch is registered and
  // that none of its packages is deployed on a Windows node; the real run stops when not.
  WString errors;
  int result = 0;
  if (todo & vr::undo::kSectionPackages) {
    undo.ResetPosition();
    WString message;
    bool ok;
    {
      RunLogDetached quiet(runLog_);
      ok = sections_->PackageRegRollback(undo, message);
    }
    if (!ok && (patchNotRegistered_ || packageDeployed_)) {
      const int code = patchNotRegistered_ ? kExitPatchNotRegistered : kExitPackageDeployed;
      vr::console::WriteStdout(message);
      LogLine(message);
      const WString notUnregistered = LoadMessage(MessageId::kPatchNotUnregistered, GetPatch());
      LogLine(u"\n# " + notUnregistered);
      vr::console::WriteStdout(u"\n" + notUnregistered);
      vr::console::WriteStdout(LoadMessage(MessageId::kPlanRunWouldStop));
      LogPlanStop();
      vr::front::ClearFinalMessage();
      LogLine(vr::text::Format(u"# Exit code = %d", code));
      return code;
    }
    if (!ok) {
      // The real run reports it at its end, after the other sections.
      errors = message;
      result = HasError() ? kExitUndoSyntax : kExitUnregisterErrors;
    }
  }
  // In the order the unregistration takes the sections back.
  WString plan;
  for (const SectionMarkers* markers : {&kMarkers[1], &kMarkers[0], &kMarkers[2]}) {
    if (!(sections & markers->bit)) continue;
    // A section that only the ledger knows of (prerequisite tags that were all there) has no
    // lines in the undo file to show.
    const WString lines = SectionText(undo.GetContent(), *markers);
    if (lines.empty()) continue;
    plan += u"\n";
    if (reversed & markers->bit) plan += u"# " + ConsoleLines(LoadMessage(MessageId::kPlanLinesTakenBack));
    plan += lines;
  }
  vr::console::WriteStdout(plan);
  if (result != 0) {
    LogLine(u"# " + errors);
    throw CApp_error(errors, result);
  }
  return FinishPlan();
}

int CVrPlatformRegistration::FinishPlan() {
  const WString closing = LoadMessage(MessageId::kPlanNothingChanged);
  LogLine(u"\n# " + closing);
  vr::console::WriteStdout(u"\n" + closing);
  vr::front::ClearFinalMessage();
  LogLine(vr::text::Format(u"# Exit code = %d", kExitSuccess));
  return kExitSuccess;
}

// The console line goes out with the error, from main (see ReportException).
void CVrPlatformRegistration::LogPlanStop() {
  if (planOnly_) LogLine(u"# " + LoadMessage(MessageId::kPlanRunWouldStop));
}
