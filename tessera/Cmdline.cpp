#include "tessera/Cmdline.h"

#include <iterator>
#include <optional>

#include "platform/os/locale.h"
#include "platform/text/casefold.h"
#include "tessera/AppErrors.h"
#include "tessera/TesseraTrace.h"

namespace {

constexpr size_t kGroupCount = 10;
constexpr size_t kMaxListSeparator = 5;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsOptionWord(const WString& word) {
  return word.size() >= 2 && word[0] == u'-' && !IsDigit(word[1]);
}

// A run of decimal digits as a number; nothing when empty or not all digits. Values beyond
// any real count are clamped, which keeps them beyond any real count.
std::optional<size_t> ParseCount(WStringView digits) {
  if (digits.empty()) return std::nullopt;
  size_t n = 0;
  for (char16_t c : digits) {
    if (!IsDigit(c)) return std::nullopt;
    if (n < 1000000) n = n * 10 + static_cast<size_t>(c - u'0');
  }
  return n;
}

// "{n}" exactly n values; "[a,b]" from a to b values; any other text admits no count.
bool CountSatisfies(WStringView rule, size_t count) {
  if (rule.size() >= 3 && rule.front() == u'{' && rule.back() == u'}') {
    const auto n = ParseCount(rule.substr(1, rule.size() - 2));
    return n && count == *n;
  }
  if (rule.size() >= 5 && rule.front() == u'[' && rule.back() == u']') {
    const WStringView inner = rule.substr(1, rule.size() - 2);
    const size_t comma = inner.find(u',');
    if (comma == WStringView::npos) return false;
    const auto low = ParseCount(inner.substr(0, comma));
    const auto high = ParseCount(inner.substr(comma + 1));
    return low && high && *low <= count && count <= *high;
  }
  return false;
}

enum class Requirement { kNone, kMandatory, kOptional, kMandatoryGroup, kOptionalGroup };

Requirement ParseRequirement(WStringView text, size_t& group) {
  if (text == u"M") return Requirement::kMandatory;
  if (text == u"O") return Requirement::kOptional;
  if (text.size() == 3 && text[1] == u'G' && IsDigit(text[2])) {
    group = static_cast<size_t>(text[2] - u'0');
    if (text[0] == u'M') return Requirement::kMandatoryGroup;
    if (text[0] == u'O') return Requirement::kOptionalGroup;
  }
  return Requirement::kNone;
}

// The user's list separator; a blank when the locale cannot be read.
WString ListSeparator() {
  WString sep;
  if (!vr::os::GetListSeparator(sep) || sep.empty()) return u" ";
  if (sep.size() > kMaxListSeparator) sep.resize(kMaxListSeparator);
  return sep;
}

}  // namespace

CCmdline::CCmdline(const std::vector<WString>& args) {
  VR_TRACE_FUNCTION("CCmdline::CCmdline", "Cmdline", vr::trace::kRunFlags);
  std::vector<WString>* current = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    const WString& word = args[i];
    if (IsOptionWord(word)) {
      WString name = vr::text::ToLower(word);
      std::vector<WString> values;
      if (i + 1 < args.size() && !IsOptionWord(args[i + 1])) {
        if (!args[i + 1].empty()) values.push_back(args[i + 1]);
        ++i;
      }
      if (options_.count(name)) {
        VR_TRACE_ERROR("Option '", name, "' is repeated.");
        status_ = kRepeatedOption;
        word_ = std::move(name);
        return;
      }
      current = &options_.emplace(std::move(name), std::move(values)).first->second;
      continue;
    }
    if (!current) {
      VR_TRACE_ERROR("Value '", word, "' has no option before it.");
      status_ = kLeadingValue;
      word_ = word;
      return;
    }
    if (!word.empty()) current->push_back(word);
  }
  status_ = static_cast<int>(options_.size());
}

bool CCmdline::HasOption(WStringView name) const { return options_.find(name) != options_.end(); }

size_t CCmdline::ValueCount(WStringView name) const {
  const auto it = options_.find(name);
  return it == options_.end() ? 0 : it->second.size();
}

const WString& CCmdline::Value(WStringView name, size_t index) const {
  const auto it = options_.find(name);
  if (it == options_.end() || index >= it->second.size())
    throw CCmdline_error(WString(name), kMissingValueCode);
  return it->second[index];
}

int CCmdline::Validate(size_t rows, const char16_t* const names[], const char16_t* const valueCounts[],
                       const char16_t* const requirements[], const char16_t* const conflicts[],
                       WString& out) const {
  VR_TRACE_FUNCTION("CCmdline::Validate", "Cmdline", vr::trace::kRunFlags);
  const WString separator = ListSeparator();
  // -1: the group does not occur in the table; otherwise the number of its members present.
  int mandatoryGroups[kGroupCount];
  int optionalGroups[kGroupCount];
  for (size_t k = 0; k < kGroupCount; ++k) mandatoryGroups[k] = optionalGroups[k] = -1;

  for (size_t row = 0; row < rows; ++row) {
    const WStringView name = names[row];
    const bool present = HasOption(name);
    size_t group = 0;
    switch (ParseRequirement(requirements[row], group)) {
      case Requirement::kMandatory:
        if (!present) {
          out = WString(name);
          return kMandatoryMissing;
        }
        break;
      case Requirement::kMandatoryGroup:
        if (mandatoryGroups[group] < 0) mandatoryGroups[group] = 0;
        if (present) ++mandatoryGroups[group];
        break;
      case Requirement::kOptionalGroup:
        if (optionalGroups[group] < 0) optionalGroups[group] = 0;
        if (present) ++optionalGroups[group];
        break;
      case Requirement::kOptional:
      case Requirement::kNone:
        break;
    }
    if (!present) continue;
    // The conflicts column: names separated by commas, ended by an asterisk.
    WStringView list = conflicts[row];
    if (const size_t star = list.find(u'*'); star != WStringView::npos) list = list.substr(0, star);
    while (!list.empty()) {
      const size_t comma = list.find(u',');
      const WStringView other = list.substr(0, comma);
      list = comma == WStringView::npos ? WStringView() : list.substr(comma + 1);
      if (!other.empty() && HasOption(other)) {
        out = WString(name) + separator + u" " + WString(other);
        return kConflict;
      }
    }
  }

  auto groupNames = [&](WStringView prefix, size_t k) {
    WString list;
    for (size_t row = 0; row < rows; ++row) {
      const WStringView req = requirements[row];
      if (req.size() == 3 && req.substr(0, 2) == prefix && req[2] == static_cast<char16_t>(u'0' + k)) {
        if (!list.empty()) list += separator + u" ";
        list += names[row];
      }
    }
    return list;
  };
  for (size_t k = 0; k < kGroupCount; ++k) {
    if (mandatoryGroups[k] == 0) {
      out = groupNames(u"MG", k);
      return kGroupMemberMissing;
    }
    if (mandatoryGroups[k] >= 2) {
      out = groupNames(u"MG", k);
      return kGroupMembersRepeated;
    }
    if (optionalGroups[k] >= 2) {
      out = groupNames(u"OG", k);
      return kGroupMembersRepeated;
    }
  }

  for (const auto& [option, values] : options_) {
    size_t row = 0;
    while (row < rows && option != names[row]) ++row;
    if (row == rows) {
      out = option;
      return kLeadingValue;
    }
    if (!CountSatisfies(valueCounts[row], values.size())) {
      out = option;
      return kBadValueCount;
    }
  }
  return 0;
}

vr::msg::MessageId CCmdline::StatusToMessageId(int status) {
  using vr::msg::MessageId;
  switch (status) {
    case -1: return MessageId::kCmdlineUnexpectedOption;
    case -2: return MessageId::kCmdlineArgumentCount;
    case -3: return MessageId::kCmdlineMandatoryMissing;
    case -4: return MessageId::kCmdlineOneOfRequired;
    case -5: return MessageId::kCmdlineOnlyOneOf;
    case -6: return MessageId::kCmdlineRepeatedOption;
    case -7: return MessageId::kCmdlineIncompatibleOptions;
    default: return MessageId::kCmdlineSyntax;
  }
}

namespace vr::cmdline {
namespace {

// "-whatif" plans the run and changes nothing; an unregistration that changes nothing has
// no undo file to delete afterwards, so "-delundo" cannot go with it.
constexpr const char16_t* kRegisterNames[] = {u"-reg", u"-patch", u"-reinstall", u"-sections", u"-log", u"-cluster",
                                              u"-whatif"};
constexpr const char16_t* kRegisterCounts[] = {u"{1}", u"{1}", u"{0}", u"{1}", u"{1}", u"{1}", u"{0}"};
constexpr const char16_t* kRegisterRequirements[] = {u"M", u"M", u"O", u"O", u"O", u"O", u"O"};
constexpr const char16_t* kRegisterConflicts[] = {u"*", u"*", u"*", u"*", u"*", u"*", u"*"};

constexpr const char16_t* kUnregisterNames[] = {u"-unreg", u"-cluster", u"-delundo", u"-whatif"};
constexpr const char16_t* kUnregisterCounts[] = {u"{1}", u"{1}", u"{0}", u"{0}"};
constexpr const char16_t* kUnregisterRequirements[] = {u"M", u"O", u"O", u"O"};
constexpr const char16_t* kUnregisterConflicts[] = {u"*", u"*", u"*", u"-delundo,*"};

constexpr const char16_t* kNeitherNames[] = {u"-reg", u"-unreg"};
constexpr const char16_t* kNeitherCounts[] = {u"*", u"*"};
constexpr const char16_t* kNeitherRequirements[] = {u"MG1", u"MG1"};
constexpr const char16_t* kNeitherConflicts[] = {u"*", u"*"};

}  // namespace

const OptionTable kRegisterTable = {std::size(kRegisterNames), kRegisterNames, kRegisterCounts,
                                    kRegisterRequirements, kRegisterConflicts};
const OptionTable kUnregisterTable = {std::size(kUnregisterNames), kUnregisterNames, kUnregisterCounts,
                                      kUnregisterRequirements, kUnregisterConflicts};
const OptionTable kNeitherTable = {std::size(kNeitherNames), kNeitherNames, kNeitherCounts,
                                   kNeitherRequirements, kNeitherConflicts};

}  // namespace vr::cmdline
