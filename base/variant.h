// COM automation's strings and values, owned: a BSTR made from text, and a VARIANT that frees what
// it holds. The one place that allocates and frees them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string_view>

#include "base/handles.h"

namespace lum::installer {

// A BSTR copy of the text; null when out of memory.
ScopedBstr MakeBstr(std::wstring_view text);

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(Variant&& other) noexcept;
  Variant& operator=(Variant&& other) noexcept;
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  static Variant Int(LONG number);
  static Variant Bool(bool flag);
  static Variant Double(double number);
  // Empty (VT_EMPTY) when out of memory.
  static Variant String(std::wstring_view text);

  bool Empty() const { return value_.vt == VT_EMPTY; }
  // For a call that takes a VARIANT by value: the callee reads it and this one still owns it.
  const VARIANT& Get() const { return value_; }
  // The same for a call that takes it by address.
  VARIANT* Address() { return &value_; }
  // Cleared, for a call that fills it.
  VARIANT* Put();
  // Hands the value over to an out-parameter the caller frees; this one is left empty.
  void MoveTo(VARIANT* out);

 private:
  VARIANT value_;
};

}  // namespace lum::installer
