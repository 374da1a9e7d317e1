#include "base/module.h"

namespace lum::installer {

std::string_view ResourceBytes(HMODULE module, int id) {
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (resource == nullptr) return {};
  const DWORD size = SizeofResource(module, resource);
  const HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return {};
  return {static_cast<const char*>(bytes), size};
}

}  // namespace lum::installer
