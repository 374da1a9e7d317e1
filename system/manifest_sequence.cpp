#include "system/manifest_sequence.h"

#include "base/handles.h"

namespace lum::installer {
namespace {

DWORD QuerySequence(HKEY key, std::uint64_t& sequence) {
  std::uint64_t value = 0;
  DWORD type = 0;
  DWORD size = sizeof(value);
  const LSTATUS status = RegQueryValueExW(key, kManifestSequenceValue, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &size);
  // A value of another kind or size counts as none: it is written anew on the next acceptance.
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA ||
      (status == ERROR_SUCCESS && (type != REG_QWORD || size != sizeof(value)))) {
    sequence = 0;
    return 0;
  }
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  sequence = value;
  return 0;
}

}  // namespace

DWORD ReadAcceptedManifestSequence(std::uint64_t& sequence) {
  RegistryKey key;
  const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kManifestSequenceKey, 0,
                                       KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put());
  if (status == ERROR_FILE_NOT_FOUND) {
    sequence = 0;
    return 0;
  }
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  return QuerySequence(key.Get(), sequence);
}

DWORD RecordAcceptedManifestSequence(std::uint64_t sequence) {
  RegistryKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kManifestSequenceKey, 0, nullptr, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                                   key.Put(), nullptr);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  std::uint64_t recorded = 0;
  if (const DWORD error = QuerySequence(key.Get(), recorded)) return error;
  if (recorded >= sequence) return 0;
  status = RegSetValueExW(key.Get(), kManifestSequenceValue, 0, REG_QWORD,
                          reinterpret_cast<const BYTE*>(&sequence), sizeof(sequence));
  return static_cast<DWORD>(status);
}

}  // namespace lum::installer
