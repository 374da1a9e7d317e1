// Functions looked up by name in a loaded system DLL, and resource bytes of a module.
#pragma once

#include <windows.h>

#include <bit>
#include <string_view>

namespace lum::installer {

// The function name exports from the already loaded module, as a pointer of type F; null when
// the module or the export is missing (an older system, or not Wine).
template <typename F>
F LoadedFunction(const wchar_t* module, const char* name) {
  const HMODULE handle = GetModuleHandleW(module);
  const FARPROC function = handle ? GetProcAddress(handle, name) : nullptr;
  return function ? std::bit_cast<F>(function) : nullptr;
}

// The bytes of RCDATA resource id of module; empty when it is missing or empty. They live as
// long as the module stays loaded.
std::string_view ResourceBytes(HMODULE module, int id);

}  // namespace lum::installer
