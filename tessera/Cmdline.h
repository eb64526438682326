// The table-driven command-line parser of tessera.
//
// The arguments are split into options (a word of two or more characters that starts with '-'
// and whose second character is not a digit, so "-5" is a value) and their values. Option names
// are lower-cased, so "-REG" and "-reg" are the same option. An option table of four parallel
// columns then says which options a mode allows, how many values each takes, which are
// mandatory or belong to a group, and which may not be combined.
#pragma once
#include <map>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/MessageIds.h"

class CCmdline {
 public:
  // Status of the split: the number of distinct options (>= 0), or one of these.
  static constexpr int kLeadingValue = -1;    // a value with no option before it
  static constexpr int kRepeatedOption = -6;  // an option given twice

  // Statuses of Validate (besides 0 and kLeadingValue for an option without a row).
  static constexpr int kBadValueCount = -2;
  static constexpr int kMandatoryMissing = -3;
  static constexpr int kGroupMemberMissing = -4;
  static constexpr int kGroupMembersRepeated = -5;
  static constexpr int kConflict = -7;

  // The code a CCmdline_error thrown by Value() carries.
  static constexpr int kMissingValueCode = -2000;

  // args are the program's arguments without the program name.
  explicit CCmdline(const std::vector<WString>& args);

  // Result of the split; Word() is the option or value a negative status refers to.
  int Status() const { return status_; }
  const WString& Word() const { return word_; }
  size_t OptionCount() const { return options_.size(); }

  // name is a table name, already lower case.
  bool HasOption(WStringView name) const;
  size_t ValueCount(WStringView name) const;
  // The index-th value of an option; throws CCmdline_error (kMissingValueCode, the option
  // name) when the option or the value is missing.
  const WString& Value(WStringView name, size_t index = 0) const;

  // Checks the parsed options against an option table of `rows` rows. Returns 0 or a negative
  // status; `out` receives the option name or list of names the status refers to.
  int Validate(size_t rows, const char16_t* const names[], const char16_t* const valueCounts[],
               const char16_t* const requirements[], const char16_t* const conflicts[],
               WString& out) const;

  // The catalogue message of a status: -1 20002, -2 20000, -3 20003, -4 20004, -5 20005,
  // -6 20006, -7 20007, anything else 20001.
  static vr::msg::MessageId StatusToMessageId(int status);

 private:
  std::map<WString, std::vector<WString>, std::less<>> options_;
  int status_ = 0;
  WString word_;
};

// The three option tables of tessera.
namespace vr::cmdline {

struct OptionTable {
  size_t rows;
  const char16_t* const* names;
  const char16_t* const* valueCounts;
  const char16_t* const* requirements;
  const char16_t* const* conflicts;
};

extern const OptionTable kRegisterTable;
extern const OptionTable kUnregisterTable;
// Neither "-reg" nor "-unreg": validating against it always fails with the group message.
extern const OptionTable kNeitherTable;

inline int Validate(const CCmdline& cmdline, const OptionTable& table, WString& out) {
  return cmdline.Validate(table.rows, table.names, table.valueCounts, table.requirements,
                          table.conflicts, out);
}

}  // namespace vr::cmdline
