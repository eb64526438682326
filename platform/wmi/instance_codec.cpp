#include "platform/wmi/instance_codec.h"

#include <cstring>

#include "platform/com/safearray.h"
#include "platform/text/casefold.h"

namespace vr::wmi {
namespace {

constexpr char kMagic[2] = {'V', '1'};

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) { Raw(&v, 2); }
  void U32(uint32_t v) { Raw(&v, 4); }
  void Raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
  void Str(WStringView s) {
    U32(static_cast<uint32_t>(s.size()));
    Raw(s.data(), s.size() * 2);
  }
  void Scalar(const Variant& v, VARTYPE vt) {
    switch (vt) {
      case VT_I2: Raw(&v.iVal, 2); break;
      case VT_UI1: U8(v.bVal); break;
      case VT_I4: Raw(&v.lVal, 4); break;
      case VT_R4: Raw(&v.fltVal, 4); break;
      case VT_R8: Raw(&v.dblVal, 8); break;
      case VT_I8: Raw(&v.llVal, 8); break;    // 64-bit qualifier values
      case VT_UI8: Raw(&v.ullVal, 8); break;
      case VT_BOOL: U8(v.boolVal ? 1 : 0); break;
      default: Str(v.bstrVal); break;
    }
  }
  void Value(const Variant& v) {
    U16(v.vt);
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return;
    if (v.IsArray()) {
      const SafeArray* psa = v.parray();
      const VARTYPE element = static_cast<VARTYPE>(v.vt & ~VT_ARRAY);
      U32(psa ? static_cast<uint32_t>(psa->data.size()) : 0);
      for (size_t i = 0; psa && i < psa->data.size(); ++i) Scalar(psa->data[i], element);
      return;
    }
    Scalar(v, v.vt);
  }
  void Qualifiers(const QualifierList& q) {
    U32(static_cast<uint32_t>(q.size()));
    for (const auto& x : q.items()) {
      Str(x.name);
      U32(static_cast<uint32_t>(x.flavor));
      Value(x.value);
    }
  }
  std::string& out() { return out_; }

 private:
  std::string out_;
};

class Reader {
 public:
  Reader(const void* p, size_t n) : p_(static_cast<const unsigned char*>(p)), n_(n) {}
  bool Raw(void* dst, size_t n) {
    if (n > n_ - pos_) return false;
    std::memcpy(dst, p_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool U8(uint8_t& v) { return Raw(&v, 1); }
  bool U16(uint16_t& v) { return Raw(&v, 2); }
  bool U32(uint32_t& v) { return Raw(&v, 4); }
  bool Str(WString& s) {
    uint32_t len;
    if (!U32(len) || len > (n_ - pos_) / 2) return false;
    s.resize(len);
    return Raw(s.data(), len * 2u);
  }
  bool Scalar(Variant& v, VARTYPE vt) {
    v.vt = vt;
    switch (vt) {
      case VT_I2: return Raw(&v.iVal, 2);
      case VT_UI1: return U8(v.bVal);
      case VT_I4: return Raw(&v.lVal, 4);
      case VT_R4: return Raw(&v.fltVal, 4);
      case VT_R8: return Raw(&v.dblVal, 8);
      case VT_I8: return Raw(&v.llVal, 8);
      case VT_UI8: return Raw(&v.ullVal, 8);
      case VT_BOOL: {
        uint8_t b;
        if (!U8(b)) return false;
        v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
      }
      case VT_BSTR: return Str(v.bstrVal);
      default: return false;
    }
  }
  bool Value(Variant& v) {
    uint16_t vt;
    if (!U16(vt)) return false;
    if (vt == VT_NULL || vt == VT_EMPTY) { v = Variant::Null(); return true; }
    if (vt & VT_ARRAY) {
      const VARTYPE element = static_cast<VARTYPE>(vt & ~VT_ARRAY);
      uint32_t count;
      if (!U32(count) || count > n_ - pos_) return false;
      SafeArray* psa = SafeArrayCreateVector(element, 0, count);
      if (!psa) return false;
      Variant holder;
      holder.AttachArray(psa);
      for (uint32_t i = 0; i < count; ++i)
        if (!Scalar(psa->data[i], element)) return false;
      v = std::move(holder);
      return true;
    }
    v = Variant();
    return Scalar(v, vt);
  }
  bool Qualifiers(QualifierList& q) {
    uint32_t count;
    if (!U32(count) || count > n_ - pos_) return false;
    for (uint32_t i = 0; i < count; ++i) {
      Qualifier x;
      uint32_t flavor;
      if (!Str(x.name) || !U32(flavor) || !Value(x.value)) return false;
      x.flavor = static_cast<long>(flavor);
      q.items().push_back(std::move(x));
    }
    return true;
  }
  bool AtEnd() const { return pos_ == n_; }

 private:
  const unsigned char* p_;
  size_t n_;
  size_t pos_ = 0;
};

}  // namespace

std::string EncodeInstance(const InstanceRecord& rec) {
  Writer w;
  w.Raw(kMagic, 2);
  uint32_t count = 0;
  for (const auto& v : rec.values) count += (v.vt != VT_NULL && v.vt != VT_EMPTY) ? 1 : 0;
  // A property whose class default is not null and whose value is null is stored as NULL.
  for (size_t i = 0; i < rec.values.size(); ++i)
    if ((rec.values[i].vt == VT_NULL || rec.values[i].vt == VT_EMPTY) && rec.cls->properties[i].value.vt != VT_NULL)
      ++count;
  w.U32(count);
  for (size_t i = 0; i < rec.values.size(); ++i) {
    const Variant& v = rec.values[i];
    const bool isNull = v.vt == VT_NULL || v.vt == VT_EMPTY;
    if (isNull && rec.cls->properties[i].value.vt == VT_NULL) continue;
    w.Str(rec.cls->properties[i].name);
    w.Value(isNull ? Variant::Null() : v);
  }
  w.Qualifiers(rec.qualifiers);
  uint32_t groups = 0;
  for (const auto& pq : rec.propertyQualifiers) groups += pq.second.empty() ? 0 : 1;
  w.U32(groups);
  for (const auto& pq : rec.propertyQualifiers) {
    if (pq.second.empty()) continue;
    w.Str(pq.first);
    w.Qualifiers(pq.second);
  }
  return std::move(w.out());
}

HRESULT DecodeInstance(const void* data, size_t size, std::shared_ptr<const ResolvedClass> cls,
                       InstanceRecord* out) {
  Reader r(data, size);
  char magic[2];
  if (!r.Raw(magic, 2) || magic[0] != kMagic[0] || magic[1] != kMagic[1]) return WBEM_E_INVALID_STREAM;
  out->cls = cls;
  out->values.clear();
  out->values.reserve(cls->properties.size());
  for (const auto& p : cls->properties) out->values.push_back(p.value);
  out->qualifiers = QualifierList();
  out->propertyQualifiers.clear();
  uint32_t count;
  if (!r.U32(count)) return WBEM_E_INVALID_STREAM;
  WString name;
  size_t hint = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Variant v;
    if (!r.Str(name) || !r.Value(v)) return WBEM_E_INVALID_STREAM;
    // Fast path: values are stored in class order, so the next one is usually further on.
    int at = -1;
    for (size_t j = hint; j < cls->properties.size() && j < hint + 4; ++j)
      if (cls->properties[j].name == name) { at = static_cast<int>(j); break; }
    if (at < 0) at = cls->FindProperty(name);
    if (at >= 0) {
      out->values[static_cast<size_t>(at)] = std::move(v);
      hint = static_cast<size_t>(at) + 1;
    }
  }
  if (!r.Qualifiers(out->qualifiers)) return WBEM_E_INVALID_STREAM;
  uint32_t groups;
  if (!r.U32(groups)) return WBEM_E_INVALID_STREAM;
  for (uint32_t g = 0; g < groups; ++g) {
    std::pair<WString, QualifierList> pq;
    if (!r.Str(pq.first) || !r.Qualifiers(pq.second)) return WBEM_E_INVALID_STREAM;
    out->propertyQualifiers.push_back(std::move(pq));
  }
  return r.AtEnd() ? S_OK : WBEM_E_INVALID_STREAM;
}

}  // namespace vr::wmi
