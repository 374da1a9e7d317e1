// The baseline of the memory figures: a program that does nothing for a second and a half, so
// that what Wine itself costs a process can be read off beside the installation's figure.
//   idle_program.exe [DLL...]   loads these DLLs first (e.g. the ones the installation uses)
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (LoadLibraryW(argv[i]) == nullptr) return 1;
  }
  Sleep(1500);
  return 0;
}
