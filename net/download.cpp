#include "net/download.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "core/scoped_handle.h"
#include "net/https_transport.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

constexpr DWORD kTransferBufferSize = 65536;

// Size of an existing regular file, or 0 when there is none or it cannot be read; a file
// larger than expected is rewritten from the start.
std::uint64_t ResumeOffset(const std::wstring& destination, std::uint64_t expectedSize) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  const std::uint64_t size =
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return size > expectedSize ? 0 : size;
}

}  // namespace

bool DownloadToFile(const std::wstring& url, const std::wstring& destination,
                    std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                    const DownloadProgress& progress, std::wstring* message) {
  if (message == nullptr) return false;
  const auto report = [&progress](std::uint64_t done, std::uint64_t total) {
    if (progress) progress(done, total);
  };

  if (!CreateDirectoryTree(ParentPath(destination))) {
    *message = L"无法创建下载缓存目录";
    return false;
  }

  std::uint64_t offset = ResumeOffset(destination, expectedSize);
  if (offset == expectedSize) {
    report(offset, expectedSize);
    message->clear();
    return true;
  }

  std::wstring rangeHeader;
  if (offset > 0) rangeHeader = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";

  // Declared in this order so that the file closes first, then request, connection, session.
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  DWORD status = 0;
  if (!OpenHttpsRequest(url, offset > 0 ? rangeHeader.c_str() : nullptr, session, connection,
                        request, status, *message)) {
    return false;
  }
  if (status != 200 && status != 206) {
    *message = L"下载服务器返回异常状态";
    return false;
  }
  // A 200 carries the whole file whatever was asked; a 206 continues at the offset.
  if (status == 200) offset = 0;

  const std::ios::openmode mode =
      std::ios::binary | std::ios::out | (offset > 0 ? std::ios::app : std::ios::trunc);
  std::ofstream file(std::filesystem::path(destination), mode);
  if (!file.is_open()) {
    *message = L"无法写入下载缓存";
    return false;
  }

  const auto buffer = std::make_unique<char[]>(kTransferBufferSize);
  std::uint64_t done = offset;
  report(done, expectedSize);
  for (;;) {
    if (cancel.load()) {
      *message = L"下载已取消";
      return false;
    }
    DWORD read = 0;
    if (!WinHttpReadData(request.Get(), buffer.get(), kTransferBufferSize, &read)) {
      *message = L"读取安装包失败";
      return false;
    }
    if (read == 0) {
      file.flush();
      if (file.good() && done == expectedSize) {
        message->clear();
        return true;
      }
      *message = L"安装包下载不完整";
      return false;
    }
    file.write(buffer.get(), static_cast<std::streamsize>(read));
    if (!file) {
      *message = L"写入安装包失败";
      return false;
    }
    done += read;
    if (done > expectedSize) {
      *message = L"下载文件大小异常";
      return false;
    }
    report(done, expectedSize);
  }
}

}  // namespace lum::installer
