#include "net/download.h"

#include <algorithm>
#include <memory>

#include "base/handles.h"
#include "base/paths.h"
#include "net/https_transport.h"

namespace lum::installer {
namespace {

constexpr DWORD kTransferBufferSize = 65536;

// A file larger than expected is rewritten from the start.
std::uint64_t ResumeOffset(std::uint64_t size, std::uint64_t expectedSize) {
  return size > expectedSize ? 0 : size;
}

// GETs url from offset on. A 200 carries the whole file whatever was asked, so offset becomes 0;
// a 206 continues at it.
bool RequestFrom(const std::wstring& url, std::uint64_t& offset, WinHttpHandle& session,
                 WinHttpHandle& connection, WinHttpHandle& request, std::wstring& message,
                 TransferFailure& failure) {
  std::wstring rangeHeader;
  if (offset > 0) rangeHeader = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
  DWORD status = 0;
  if (!OpenHttpsRequest(url, offset > 0 ? rangeHeader.c_str() : nullptr, session, connection,
                        request, status, message, &failure)) {
    return false;
  }
  if (status != 200 && status != 206) {
    failure.httpStatus = status;
    message = L"下载服务器返回异常状态";
    return false;
  }
  if (status == 200) offset = 0;
  return true;
}

// Reads the body into file, whose write position is at done. Every chunk goes to the file in one
// write, so there is no buffer of our own to flush. failure counts the bytes read.
bool ReceiveBody(HINTERNET request, HANDLE file, std::uint64_t done, std::uint64_t expectedSize,
                 const std::atomic<bool>& cancel, const DownloadProgress& progress,
                 const ChunkWritten& written, std::wstring& message, TransferFailure& failure) {
  const auto buffer = std::make_unique<char[]>(kTransferBufferSize);
  if (progress) progress(done, expectedSize);
  for (;;) {
    if (cancel.load()) {
      message = L"下载已取消";
      return false;
    }
    // Asks only for what has arrived: a read of more may wait for the rest of the buffer (Wine's
    // does), and until it returns neither a cancel nor the progress is seen. None left: 0.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      failure.winError = GetLastError();
      message = L"读取安装包失败";
      return false;
    }
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.get(),
                         std::clamp<DWORD>(available, 1, kTransferBufferSize), &read)) {
      failure.winError = GetLastError();
      message = L"读取安装包失败";
      return false;
    }
    if (read == 0) {
      if (done == expectedSize) {
        message.clear();
        return true;
      }
      message = L"安装包下载不完整";
      return false;
    }
    failure.bytesReceived += read;
    DWORD count = 0;
    if (!WriteFile(file, buffer.get(), read, &count, nullptr) || count != read) {
      failure.winError = GetLastError();
      message = L"写入安装包失败";
      return false;
    }
    if (written) written(done, buffer.get(), read);
    done += read;
    if (done > expectedSize) {
      message = L"下载文件大小异常";
      return false;
    }
    if (progress) progress(done, expectedSize);
  }
}

// The request from offset on and its body, into the file openFile gives once the status is
// right (null: it cannot be written). A file that openFile opens itself goes into owned, which
// closes before the request, the connection and the session.
bool Transfer(const std::wstring& url, std::uint64_t offset, std::uint64_t expectedSize,
              const std::atomic<bool>& cancel, const DownloadProgress& progress,
              const ChunkWritten& written, std::wstring& message, TransferFailure& failure,
              const std::function<HANDLE(std::uint64_t offset, KernelHandle& owned)>& openFile) {
  if (offset == expectedSize) {
    if (progress) progress(offset, expectedSize);
    message.clear();
    return true;
  }
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  if (!RequestFrom(url, offset, session, connection, request, message, failure)) return false;
  KernelHandle owned;
  const HANDLE file = openFile(offset, owned);
  if (file == nullptr) {
    failure.winError = GetLastError();  // of the open or seek that openFile ended with
    message = L"无法写入下载缓存";
    return false;
  }
  return ReceiveBody(request.Get(), file, offset, expectedSize, cancel, progress, written, message,
                     failure);
}

// The caller's failure, emptied, or one that nobody reads.
TransferFailure& FailureOf(TransferFailure* given, TransferFailure& unread) {
  TransferFailure& failure = given ? *given : unread;
  failure = {};
  return failure;
}

}  // namespace

bool DownloadToFile(const std::wstring& url, const std::wstring& destination,
                    std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                    const DownloadProgress& progress, std::wstring* message,
                    TransferFailure* failure) {
  if (message == nullptr) return false;
  TransferFailure unread;
  TransferFailure& seen = FailureOf(failure, unread);
  if (!CreateDirectoryTree(ParentPath(destination))) {
    *message = L"无法创建下载缓存目录";
    return false;
  }
  std::uint64_t size = 0;
  const std::uint64_t offset =
      ReadFileSize(destination, size) ? ResumeOffset(size, expectedSize) : 0;
  return Transfer(url, offset, expectedSize, cancel, progress, nullptr, *message, seen,
                  [&destination](std::uint64_t from, KernelHandle& owned) -> HANDLE {
                    // Append to resume, truncate otherwise; shared for reading and writing.
                    owned.Reset(CreateFileW(
                        destination.c_str(), from > 0 ? FILE_APPEND_DATA : GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        from > 0 ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                    return owned ? owned.Get() : nullptr;
                  });
}

bool DownloadToOpenFile(const std::wstring& url, HANDLE file, std::uint64_t expectedSize,
                        const std::atomic<bool>& cancel, const DownloadProgress& progress,
                        const ChunkWritten& written, std::wstring* message,
                        TransferFailure* failure) {
  if (message == nullptr) return false;
  TransferFailure unread;
  TransferFailure& seen = FailureOf(failure, unread);
  LARGE_INTEGER size{};
  const std::uint64_t offset =
      GetFileSizeEx(file, &size)
          ? ResumeOffset(static_cast<std::uint64_t>(size.QuadPart), expectedSize)
          : 0;
  return Transfer(url, offset, expectedSize, cancel, progress, written, *message, seen,
                  [file](std::uint64_t from, KernelHandle&) -> HANDLE {
                    // Continue at the end of what is there, or start the file again.
                    LARGE_INTEGER position{};
                    position.QuadPart = static_cast<LONGLONG>(from);
                    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ||
                        (from == 0 && !SetEndOfFile(file))) {
                      return nullptr;
                    }
                    return file;
                  });
}

}  // namespace lum::installer
