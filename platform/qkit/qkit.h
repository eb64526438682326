// The common component library's trace, string and locale classes that the programs call.
// The sink is the file named by VR_TRACE (tracing is off when it is unset); VR_TRACE_MASK
// (decimal or 0x hex, all severities when unset) selects the severities written. Callers test
// IsEnabled before building a text, so a disabled severity costs one test.
//
// Folder platform/qkit, library vr_qkit: host layer of the programs' trace; uses platform/os,
// com and text.
#pragma once
#include <atomic>
#include <cstddef>
#include <string>

#include "platform/com/bstr.h"
#include "platform/text/wstring.h"

struct _qkit_TraceTypeMap_t {
  enum StdCategory_e : int {
    eCatNone = 0, eCatError = 1, eCatWarning = 2, eCatBlock = 3, eCatInit = 4,
    eCatData = 5, eCatDebug = 6, eCatMessage = 7
  };
  enum Severity_e : unsigned {
    eSevInfo = 1, eSevWarning = 2, eSevError = 4, eSevDebug = 8, eSevBlock = 16
  };
};

class qkit_String_t {
 public:
  qkit_String_t() = default;
  qkit_String_t(const char* text, size_t length = 0);  // UTF-8; length 0 = to the terminator
  explicit qkit_String_t(unsigned long value);
  qkit_String_t(WChar c, size_t count);
  qkit_String_t(const WChar* text);
  qkit_String_t(WStringView text) : s_(text) {}
  qkit_String_t(const WString& text) : s_(text) {}
  qkit_String_t(const qkit_String_t&) = default;
  qkit_String_t& operator=(const qkit_String_t&) = default;

  qkit_String_t Concatenate(const qkit_String_t& other) const;
  qkit_String_t Concatenate(const char* text) const;
  qkit_String_t Concatenate(const WChar* text) const;
  qkit_String_t Concatenate(WStringView text) const;
  // Replaces the text by the number in a printf format ("%d", "%ld", "%lu", "0x%X").
  qkit_String_t& FormatNumber(int value, const char* format);
  qkit_String_t& FormatNumber(unsigned int value, const char* format);
  qkit_String_t& FormatNumber(long value, const char* format);
  qkit_String_t& FormatNumber(unsigned long value, const char* format);
  // A new BSTR the caller frees with SysFreeString.
  BSTR CreateBSTR() const;

  const WString& str() const { return s_; }
  std::string Utf8() const;

 private:
  WString s_;
};

class qkit_TraceObject_t {
 public:
  qkit_TraceObject_t(const char* component, _qkit_TraceTypeMap_t::StdCategory_e category);
  unsigned GetEnabledMask() const;
  bool IsEnabled(unsigned severity) const { return (GetEnabledMask() & severity) == severity; }
  bool Trace(unsigned severity, int reserved, const qkit_String_t& text, const char* sourceFile, int line);
  const char* Component() const { return component_; }
  int Category() const { return category_; }

 private:
  const char* component_;
  int category_;
};

// Entry and exit of a block (a function): written on construction and destruction.
class qkit_BlockTrace_t {
 public:
  qkit_BlockTrace_t(qkit_TraceObject_t& object, const char* function, const char* sourceFile,
                    int line, unsigned flags);
  ~qkit_BlockTrace_t();
  qkit_BlockTrace_t(const qkit_BlockTrace_t&) = delete;
  qkit_BlockTrace_t& operator=(const qkit_BlockTrace_t&) = delete;
  const char* Function() const { return function_; }

 private:
  qkit_TraceObject_t& object_;
  const char* function_;
  const char* file_;
  int line_;
  bool written_;
};

class qkit_Locale_t {
 public:
  explicit qkit_Locale_t(uint16_t langId) : langId_(langId) {}
  uint16_t GetLanguageId() const { return langId_; }
 private:
  uint16_t langId_;
};

class qkit_Nls_t {
 public:
  static qkit_Locale_t GetLocale();
};

// Tests and tools: send traces to a file with a mask ("" switches tracing off), replacing
// what VR_TRACE and VR_TRACE_MASK said.
void qkit_SetTraceSink(const std::string& path, unsigned mask);
