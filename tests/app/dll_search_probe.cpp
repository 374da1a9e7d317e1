// Loads each DLL named on the command line with the default search order and prints the path it
// came from, one "name=path" line each; shows that DLLs planted beside a program are picked up
// when nothing restricts the search.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    const HMODULE module = LoadLibraryW(argv[i]);
    wchar_t path[MAX_PATH] = {};
    if (module != nullptr) GetModuleFileNameW(module, path, MAX_PATH);
    std::wprintf(L"%ls=%ls\n", argv[i], module != nullptr ? path : L"(not loaded)");
  }
  return 0;
}
