#include "bench/transfer/bare_loops.h"

#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "base/handles.h"
#include "net/https_transport.h"

namespace lum::installer::bench {

bool BareWinHttpDownload(const std::wstring& url, const std::wstring& destination,
                         unsigned long bufferSize, std::uint64_t& bytes, std::wstring& message,
                         bool arrivedOnly) {
  bytes = 0;
  // The product's own request: its TLS versions, revocation check, time-outs and proxy, so that
  // the ratio to this loop is the product's reading and writing alone.
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  DWORD status = 0;
  if (!OpenHttpsRequest(url, nullptr, session, connection, request, status, message) ||
      status != 200) {
    message = L"request failed: " + message + L", status=" + std::to_wstring(status);
    return false;
  }

  KernelHandle file;
  if (!destination.empty()) {
    file.Reset(CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      message = L"CreateFileW failed, error=" + std::to_wstring(GetLastError());
      return false;
    }
  }
  std::vector<char> buffer(bufferSize);
  DWORD filled = 0;
  const auto flush = [&]() {
    DWORD written = 0;
    if (file && filled > 0 &&
        (!WriteFile(file.Get(), buffer.data(), filled, &written, nullptr) || written != filled)) {
      message = L"WriteFile failed, error=" + std::to_wstring(GetLastError());
      return false;
    }
    filled = 0;
    return true;
  };
  for (;;) {
    DWORD want = bufferSize - filled;
    if (arrivedOnly) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request.Get(), &available)) {
        message = L"WinHttpQueryDataAvailable failed, error=" + std::to_wstring(GetLastError());
        return false;
      }
      want = std::max<DWORD>(1, std::min(available, want));
    }
    DWORD read = 0;
    if (!WinHttpReadData(request.Get(), buffer.data() + filled, want, &read)) {
      message = L"WinHttpReadData failed, error=" + std::to_wstring(GetLastError());
      return false;
    }
    if (read == 0) return flush();
    filled += read;
    bytes += read;
    if (filled == bufferSize && !flush()) return false;
  }
}

bool BareCngSha256(const std::wstring& path, unsigned long bufferSize, std::wstring& digest,
                   std::uint64_t& bytes, std::wstring& message) {
  bytes = 0;
  BCryptAlgorithm algorithm;
  BCryptHash hash;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0))) {
    message = L"CNG set-up failed";
    return false;
  }
  KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    message = L"CreateFileW failed, error=" + std::to_wstring(GetLastError());
    return false;
  }
  std::vector<UCHAR> buffer(bufferSize);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.data(), bufferSize, &read, nullptr)) {
      message = L"ReadFile failed, error=" + std::to_wstring(GetLastError());
      return false;
    }
    if (read == 0) break;
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), buffer.data(), read, 0))) {
      message = L"BCryptHashData failed";
      return false;
    }
    bytes += read;
  }
  UCHAR value[32] = {};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), value, sizeof(value), 0))) {
    message = L"BCryptFinishHash failed";
    return false;
  }
  constexpr wchar_t kHex[] = L"0123456789abcdef";
  digest.clear();
  for (const UCHAR byte : value) {
    digest.push_back(kHex[byte >> 4]);
    digest.push_back(kHex[byte & 0x0F]);
  }
  return true;
}

}  // namespace lum::installer::bench
