#include "net/download.h"

#include <windows.h>

#include <memory>

#include "core/scoped_handle.h"
#include "net/https_transport.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

constexpr DWORD kTransferBufferSize = 65536;

// Size of an existing file, or 0 when there is none or it cannot be read; a file larger than
// expected is rewritten from the start.
std::uint64_t ResumeOffset(const std::wstring& destination, std::uint64_t expectedSize) {
  std::uint64_t size = 0;
  if (!ReadFileSize(destination, size)) return 0;
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

  // Opened in append mode to resume and truncated otherwise, shared for reading and writing.
  // Every chunk goes to the file in one write, so there is no buffer of our own to flush.
  KernelHandle file(CreateFileW(destination.c_str(), offset > 0 ? FILE_APPEND_DATA : GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                offset > 0 ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file) {
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
      if (done == expectedSize) {
        message->clear();
        return true;
      }
      *message = L"安装包下载不完整";
      return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer.get(), read, &written, nullptr) || written != read) {
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
