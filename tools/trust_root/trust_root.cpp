// Test bed tool: adds a DER certificate to the machine's trusted Root store of the Wine prefix.
//   trust_root.exe path\to\ca.der
#include <windows.h>
#include <wincrypt.h>

#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: trust_root.exe CERT.der\n");
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"cannot open %ls: %lu\n", argv[1], GetLastError());
    return 1;
  }
  std::vector<BYTE> der(GetFileSize(file, nullptr));
  DWORD read = 0;
  const BOOL ok = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok || read != der.size()) return 1;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    std::fwprintf(stderr, L"cannot open the Root store: %lu\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, der.data(), read, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    std::fwprintf(stderr, L"cannot add the certificate: %lu\n", error);
    return 1;
  }
  return 0;
}
