#include "base/variant.h"

#include <utility>

namespace lum::installer {

ScopedBstr MakeBstr(std::wstring_view text) {
  return ScopedBstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

Variant::Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&value_);
    value_ = other.value_;
    VariantInit(&other.value_);
  }
  return *this;
}

Variant Variant::Int(LONG number) {
  Variant made;
  made.value_.vt = VT_I4;
  made.value_.lVal = number;
  return made;
}

Variant Variant::Bool(bool flag) {
  Variant made;
  made.value_.vt = VT_BOOL;
  made.value_.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return made;
}

Variant Variant::Double(double number) {
  Variant made;
  made.value_.vt = VT_R8;
  made.value_.dblVal = number;
  return made;
}

Variant Variant::String(std::wstring_view text) {
  Variant made;
  ScopedBstr copy = MakeBstr(text);
  if (copy) {
    made.value_.vt = VT_BSTR;
    made.value_.bstrVal = copy.Release();
  }
  return made;
}

VARIANT* Variant::Put() {
  VariantClear(&value_);
  return &value_;
}

void Variant::MoveTo(VARIANT* out) {
  *out = value_;
  VariantInit(&value_);
}

}  // namespace lum::installer
