#include "platform/qkit/qkit.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/os/clock.h"
#include "platform/os/file.h"
#include "platform/os/locale.h"
#include "platform/os/process.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"

namespace {

struct Sink {
  std::mutex mutex;
  std::atomic<unsigned> mask{0};
  std::unique_ptr<vr::os::AppendOnlyLog> file;
  bool loaded = false;
};

Sink& TheSink() {
  static Sink* s = new Sink;  // lives to process exit: traces run in static destructors too
  return *s;
}

void LoadFromEnvironment(Sink& s) {
  if (s.loaded) return;
  s.loaded = true;
  const char* path = std::getenv("VR_TRACE");
  if (!path || !*path) return;
  unsigned mask = 0xFFFFFFFFu;
  if (const char* m = std::getenv("VR_TRACE_MASK"); m && *m) {
    char* end = nullptr;
    unsigned long v = std::strtoul(m, &end, 0);
    if (end && *end == '\0') mask = static_cast<unsigned>(v);
  }
  s.file = vr::os::AppendOnlyLog::Open(path);
  if (s.file) s.mask = mask;
}

void Write(const qkit_TraceObject_t& obj, unsigned sev, const std::string& text, const char* file, int line) {
  Sink& s = TheSink();
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, now.wMilliseconds);
  std::string out = vr::text::FormatA("%s [%d] %s/%d S%u %s:%d %s\n", stamp,
                                      static_cast<int>(vr::os::GetCurrentProcessId()), obj.Component(), obj.Category(),
                                      sev, file ? file : "", line, text);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file) s.file->Append(out);
}

}  // namespace

// ---- qkit_String_t

qkit_String_t::qkit_String_t(const char* text, size_t length) {
  if (!text) return;
  s_ = vr::text::Utf8ToWide(length ? std::string_view(text, length) : std::string_view(text));
}

qkit_String_t::qkit_String_t(unsigned long value) : s_(vr::text::Format(u"%lu", value)) {}

qkit_String_t::qkit_String_t(WChar c, size_t count) : s_(count, c) {}

qkit_String_t::qkit_String_t(const WChar* text) : s_(text ? text : u"") {}

qkit_String_t qkit_String_t::Concatenate(const qkit_String_t& other) const {
  qkit_String_t r(*this);
  r.s_ += other.s_;
  return r;
}

qkit_String_t qkit_String_t::Concatenate(const char* text) const { return Concatenate(qkit_String_t(text)); }

qkit_String_t qkit_String_t::Concatenate(const WChar* text) const { return Concatenate(qkit_String_t(text)); }

qkit_String_t qkit_String_t::Concatenate(WStringView text) const {
  qkit_String_t r(*this);
  r.s_ += text;
  return r;
}

qkit_String_t& qkit_String_t::FormatNumber(int value, const char* format) {
  s_ = vr::text::Utf8ToWide(vr::text::FormatA(format ? format : "%d", value));
  return *this;
}

qkit_String_t& qkit_String_t::FormatNumber(unsigned int value, const char* format) {
  s_ = vr::text::Utf8ToWide(vr::text::FormatA(format ? format : "%u", value));
  return *this;
}

qkit_String_t& qkit_String_t::FormatNumber(long value, const char* format) {
  s_ = vr::text::Utf8ToWide(vr::text::FormatA(format ? format : "%ld", value));
  return *this;
}

qkit_String_t& qkit_String_t::FormatNumber(unsigned long value, const char* format) {
  s_ = vr::text::Utf8ToWide(vr::text::FormatA(format ? format : "%lu", value));
  return *this;
}

BSTR qkit_String_t::CreateBSTR() const {
  return SysAllocStringLen(s_.data(), static_cast<uint32_t>(s_.size()));
}

std::string qkit_String_t::Utf8() const { return vr::text::WideToUtf8(s_); }

// ---- qkit_TraceObject_t

qkit_TraceObject_t::qkit_TraceObject_t(const char* component, _qkit_TraceTypeMap_t::StdCategory_e category)
    : component_(component ? component : ""), category_(category) {}

unsigned qkit_TraceObject_t::GetEnabledMask() const {
  Sink& s = TheSink();
  if (!s.loaded) {
    std::lock_guard<std::mutex> lock(s.mutex);
    LoadFromEnvironment(s);
  }
  return s.mask.load(std::memory_order_relaxed);
}

bool qkit_TraceObject_t::Trace(unsigned severity, int, const qkit_String_t& text, const char* file, int line) {
  if (!IsEnabled(severity)) return false;
  Write(*this, severity, text.Utf8(), file, line);
  return true;
}

// ---- qkit_BlockTrace_t

qkit_BlockTrace_t::qkit_BlockTrace_t(qkit_TraceObject_t& object, const char* function, const char* file,
                                     int line, unsigned)
    : object_(object), function_(function), file_(file), line_(line),
      written_(object.IsEnabled(_qkit_TraceTypeMap_t::eSevInfo)) {
  if (written_) Write(object_, _qkit_TraceTypeMap_t::eSevInfo, std::string("{ Enter ") + function_, file_, line_);
}

qkit_BlockTrace_t::~qkit_BlockTrace_t() {
  if (written_) Write(object_, _qkit_TraceTypeMap_t::eSevInfo, std::string("} Leave ") + function_, file_, line_);
}

// ---- qkit_Nls_t

qkit_Locale_t qkit_Nls_t::GetLocale() { return qkit_Locale_t(vr::os::GetUserDefaultLangId()); }

void qkit_SetTraceSink(const std::string& path, unsigned mask) {
  Sink& s = TheSink();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.loaded = true;
  s.file.reset();
  if (!path.empty()) s.file = vr::os::AppendOnlyLog::Open(path);
  s.mask = s.file ? mask : 0;
}
