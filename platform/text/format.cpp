#include "platform/text/format.h"

#include <cstdio>
#include <vector>

#include "platform/text/convert.h"

namespace vr::text {

long long FormatArg::AsSigned() const {
  switch (kind_) {
    case Kind::kSigned: return i_;
    case Kind::kUnsigned: case Kind::kWChar: case Kind::kChar: return static_cast<long long>(u_);
    case Kind::kDouble: return static_cast<long long>(d_);
    default: return 0;
  }
}

unsigned long long FormatArg::AsUnsigned() const {
  switch (kind_) {
    case Kind::kSigned: return static_cast<unsigned long long>(i_);
    case Kind::kUnsigned: case Kind::kWChar: case Kind::kChar: return u_;
    case Kind::kDouble: return static_cast<unsigned long long>(d_);
    default: return 0;
  }
}

double FormatArg::AsDouble() const {
  switch (kind_) {
    case Kind::kDouble: return d_;
    case Kind::kSigned: return static_cast<double>(i_);
    case Kind::kUnsigned: case Kind::kWChar: case Kind::kChar: return static_cast<double>(u_);
    default: return 0;
  }
}

WString FormatArg::AsWide() const {
  switch (kind_) {
    case Kind::kWide: return WString(w_);
    case Kind::kNarrow: return Utf8ToWide(n_);
    case Kind::kWChar: return WString(1, static_cast<char16_t>(u_));
    case Kind::kChar: return WString(1, static_cast<char16_t>(u_));
    case Kind::kSigned: return Utf8ToWide(std::to_string(i_));
    case Kind::kUnsigned: return Utf8ToWide(std::to_string(u_));
    case Kind::kDouble: return Utf8ToWide(std::to_string(d_));
  }
  return WString();
}

namespace {

struct Spec {
  bool left = false, plus = false, space = false, zero = false, alt = false;
  int width = -1;
  int precision = -1;
  std::string length;
  char conv = 0;
};

void Pad(WString& out, const WString& body, const Spec& s) {
  const int w = s.width;
  if (w > 0 && static_cast<int>(body.size()) < w) {
    const size_t fill = static_cast<size_t>(w) - body.size();
    if (s.left) { out += body; out.append(fill, u' '); }
    else { out.append(fill, u' '); out += body; }
  } else {
    out += body;
  }
}

// Integer and floating conversions go through snprintf with a rebuilt narrow format.
WString NumberText(const Spec& s, const FormatArg& a) {
  std::string f = "%";
  if (s.left) f += '-';
  if (s.plus) f += '+';
  if (s.space) f += ' ';
  if (s.zero) f += '0';
  if (s.alt) f += '#';
  if (s.width >= 0) f += std::to_string(s.width);
  if (s.precision >= 0) {
    f += '.';
    f += std::to_string(s.precision);
  }
  char buf[512];
  switch (s.conv) {
    case 'd': case 'i':
      f += "lld";
      std::snprintf(buf, sizeof buf, f.c_str(), a.AsSigned());
      break;
    case 'u': case 'x': case 'X': case 'o': {
      // Without a 64-bit length modifier a negative value shows as its 32-bit pattern, as
      // the Windows printf does for int and long.
      unsigned long long v = a.AsUnsigned();
      if (s.length == "h") v &= 0xFFFFull;
      else if (s.length != "ll" && s.length != "j" && s.length != "z" &&
               a.kind() == FormatArg::Kind::kSigned)
        v &= 0xFFFFFFFFull;
      f += "ll";
      f += s.conv;
      std::snprintf(buf, sizeof buf, f.c_str(), v);
      break;
    }
    default:
      f += s.conv;
      std::snprintf(buf, sizeof buf, f.c_str(), a.AsDouble());
      break;
  }
  return Utf8ToWide(buf);
}

}  // namespace

WString FormatList(WStringView fmt, std::initializer_list<FormatArg> argList) {
  std::vector<const FormatArg*> args;
  args.reserve(argList.size());
  for (const auto& a : argList) args.push_back(&a);
  size_t next = 0;
  auto take = [&]() -> const FormatArg* { return next < args.size() ? args[next++] : nullptr; };

  WString out;
  out.reserve(fmt.size() + 16);
  size_t i = 0;
  while (i < fmt.size()) {
    const char16_t c = fmt[i];
    if (c != u'%') { out += c; ++i; continue; }
    const size_t start = i++;
    if (i < fmt.size() && fmt[i] == u'%') { out += u'%'; ++i; continue; }
    Spec s;
    for (; i < fmt.size(); ++i) {
      const char16_t f = fmt[i];
      if (f == u'-') s.left = true;
      else if (f == u'+') s.plus = true;
      else if (f == u' ') s.space = true;
      else if (f == u'0') s.zero = true;
      else if (f == u'#') s.alt = true;
      else break;
    }
    if (i < fmt.size() && fmt[i] == u'*') {
      const FormatArg* a = take();
      long long w = a ? a->AsSigned() : 0;
      if (w < 0) { s.left = true; w = -w; }
      s.width = static_cast<int>(w > 4096 ? 4096 : w);
      ++i;
    } else {
      while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') {
        s.width = (s.width < 0 ? 0 : s.width) * 10 + (fmt[i] - u'0');
        if (s.width > 4096) s.width = 4096;
        ++i;
      }
    }
    if (i < fmt.size() && fmt[i] == u'.') {
      ++i;
      s.precision = 0;
      if (i < fmt.size() && fmt[i] == u'*') {
        const FormatArg* a = take();
        long long p = a ? a->AsSigned() : 0;
        s.precision = p < 0 ? -1 : static_cast<int>(p > 4096 ? 4096 : p);
        ++i;
      } else {
        while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') {
          s.precision = s.precision * 10 + (fmt[i] - u'0');
          if (s.precision > 4096) s.precision = 4096;
          ++i;
        }
      }
    }
    while (i < fmt.size() && (fmt[i] == u'l' || fmt[i] == u'h' || fmt[i] == u'z' ||
                              fmt[i] == u'j' || fmt[i] == u't' || fmt[i] == u'L')) {
      s.length += static_cast<char>(fmt[i]);
      ++i;
    }
    if (i >= fmt.size()) {  // a dangling conversion is printed as it stands
      out.append(fmt.substr(start));
      break;
    }
    s.conv = static_cast<char>(fmt[i] < 0x80 ? fmt[i] : '?');
    ++i;
    switch (s.conv) {
      case 'S': case 's': {
        const FormatArg* a = take();
        if (!a) break;
        WString body = a->AsWide();
        if (s.precision >= 0 && body.size() > static_cast<size_t>(s.precision))
          body.resize(static_cast<size_t>(s.precision));
        Pad(out, body, s);
        break;
      }
      case 'C': case 'c': {
        const FormatArg* a = take();
        if (!a) break;
        WString body;
        if (a->kind() == FormatArg::Kind::kWide || a->kind() == FormatArg::Kind::kNarrow) {
          WString w = a->AsWide();
          if (!w.empty()) body.assign(1, w[0]);
        } else {
          body.assign(1, static_cast<char16_t>(a->AsUnsigned() & 0xFFFF));
        }
        Pad(out, body, s);
        break;
      }
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': {
        const FormatArg* a = take();
        if (!a) break;
        out += NumberText(s, *a);
        break;
      }
      default:  // unknown conversion: printed as it stands, no argument used
        out.append(fmt.substr(start, i - start));
        break;
    }
  }
  return out;
}

std::string FormatListA(std::string_view format, std::initializer_list<FormatArg> args) {
  return WideToUtf8(FormatList(Utf8ToWide(format), args));
}

}  // namespace vr::text
