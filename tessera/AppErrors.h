// The two exceptions of tessera. Every failure reaches main as one of them (or _com_error) and
// leaves as one exit code.
#pragma once
#include <exception>

#include "platform/text/wstring.h"

// A command-line error: main prints it with the usage text and exits with 50.
class CCmdline_error : public std::exception {
 public:
  CCmdline_error(WString message, int code) : message_(std::move(message)), code_(code) {}
  const WString& Message() const { return message_; }
  int Code() const { return code_; }
  const char* what() const noexcept override { return "CCmdline_error"; }
 private:
  WString message_;
  int code_;
};

// A run-time failure carrying the process exit code.
class CApp_error : public std::exception {
 public:
  CApp_error(WString message, int exitCode) : message_(std::move(message)), exitCode_(exitCode) {}
  const WString& Message() const { return message_; }
  int ExitCode() const { return exitCode_; }
  const char* what() const noexcept override { return "CApp_error"; }
 private:
  WString message_;
  int exitCode_;
};
