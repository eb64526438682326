// _com_error: a failed COM call as an exception, with the optional error information.
#pragma once
#include <exception>
#include <memory>

#include "platform/com/errorinfo.h"
#include "platform/com/hresult.h"
#include "platform/text/wstring.h"

class _com_error : public std::exception {
 public:
  explicit _com_error(HRESULT hr, std::shared_ptr<ErrorInfo> info = nullptr)
      : hr_(hr), info_(std::move(info)) {}
  HRESULT Error() const { return hr_; }
  // The system's text of the code; "IDispatch error #n" for interface codes from 0x80040200
  // that the system has no text for; "Unknown error 0x%0lX" otherwise.
  WString ErrorMessage() const;
  WString Source() const { return info_ ? info_->source : WString(); }
  WString Description() const { return info_ ? info_->description : WString(); }
  std::shared_ptr<ErrorInfo> ErrorInfoObject() const { return info_; }
  // The dispatch code: hr - 0x80040200 for 0x80040200..0x8004FFFF, else 0.
  static uint16_t WCodeFromHR(HRESULT hr);
  const char* what() const noexcept override { return "_com_error"; }

 private:
  HRESULT hr_;
  std::shared_ptr<ErrorInfo> info_;
};

// Throws _com_error with the thread's error information when hr is a failure.
void _com_issue_error(HRESULT hr);
