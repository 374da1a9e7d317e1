#include "ui/folder_picker.h"

#include <shobjidl.h>

#include "base/handles.h"

namespace lum::installer {

std::optional<std::wstring> ChooseFolder(HWND owner) {
  ComPtr<IFileOpenDialog> picker;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileOpenDialog, picker.PutVoid()))) {
    return std::nullopt;
  }
  FILEOPENDIALOGOPTIONS current = 0;
  if (SUCCEEDED(picker->GetOptions(&current))) {
    picker->SetOptions(current | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  }
  if (FAILED(picker->Show(owner))) return std::nullopt;  // cancelled or failed
  ComPtr<IShellItem> item;
  if (FAILED(picker->GetResult(item.Put()))) return std::nullopt;
  CoTaskMemString path;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.Put())) || !path) return std::nullopt;
  return std::wstring(path.Get());
}

}  // namespace lum::installer
