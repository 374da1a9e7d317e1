#include "net/download.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <memory>

#include "base/paths.h"
#include "net/https_transport.h"

namespace lum::installer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kTransferBufferSize = 65536;
// The body goes to the file in batches of the whole buffer; a slow one at least this often, so
// that the progress moves and the file keeps up with what arrived.
constexpr Clock::duration kFlushInterval = std::chrono::milliseconds(100);
// A whole buffer that arrived within this time lets the next one be read with one call (see
// BodyBatches::ReadWhole).
constexpr Clock::duration kQuickBatch = std::chrono::milliseconds(50);

constexpr wchar_t kTextCancelled[] = L"下载已取消";
constexpr wchar_t kTextReadFailed[] = L"读取安装包失败";
constexpr wchar_t kTextStalled[] = L"下载停滞：10 秒未收到数据";
constexpr wchar_t kTextIncomplete[] = L"安装包下载不完整";
constexpr wchar_t kTextWriteFailed[] = L"写入安装包失败";
constexpr wchar_t kTextOversize[] = L"下载文件大小异常";
constexpr wchar_t kTextCannotOpen[] = L"无法写入下载缓存";
constexpr wchar_t kTextBadStatus[] = L"下载服务器返回异常状态";
constexpr wchar_t kTextBadRange[] = L"下载服务器返回的内容范围不符：";

// A file larger than expected is written again from the start.
std::uint64_t ResumeOffset(std::uint64_t size, std::uint64_t expectedSize) {
  return size > expectedSize ? 0 : size;
}

// A response header as text, empty when it is missing.
std::wstring ResponseHeader(HINTERNET request, DWORD query) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

// What If-Range may carry: a strong ETag, else the Last-Modified date (a weak ETag cannot be
// used there). Nothing with a line break goes into a request header.
std::wstring ValidatorOf(HINTERNET request) {
  std::wstring validator = ResponseHeader(request, WINHTTP_QUERY_ETAG);
  if (validator.empty() || validator.rfind(L"W/", 0) == 0) {
    validator = ResponseHeader(request, WINHTTP_QUERY_LAST_MODIFIED);
  }
  if (validator.find_first_of(L"\r\n") != std::wstring::npos) validator.clear();
  return validator;
}

bool ReadNumber(const wchar_t*& at, std::uint64_t& value) {
  if (*at < L'0' || *at > L'9') return false;
  value = 0;
  while (*at >= L'0' && *at <= L'9') {
    if (value > (UINT64_MAX - 9) / 10) return false;
    value = value * 10 + static_cast<std::uint64_t>(*at++ - L'0');
  }
  return true;
}

// "bytes FIRST-LAST/TOTAL" starting at offset and naming total as the file's size.
bool RangeStartsAt(const std::wstring& contentRange, std::uint64_t offset, std::uint64_t total) {
  const wchar_t* at = contentRange.c_str();
  if (std::wcsncmp(at, L"bytes ", 6) != 0) return false;
  at += 6;
  std::uint64_t first = 0, last = 0, size = 0;
  if (!ReadNumber(at, first) || *at++ != L'-' || !ReadNumber(at, last) || *at++ != L'/' ||
      !ReadNumber(at, size) || *at != L'\0') {
    return false;
  }
  return first == offset && size == total && last >= first && last < total;
}

// Sends the GET from fetch.offset on and judges the response's status and range. A 200 (or a
// 206 to a request without a range) carries the whole file: fetch.offset becomes 0.
FetchEnd Request(RangeFetch& fetch, WinHttpHandle& session, WinHttpHandle& connection,
                 WinHttpHandle& request, std::wstring& message, TransferFailure& failure) {
  std::wstring headers;
  if (fetch.offset > 0) {
    headers = L"Range: bytes=" + std::to_wstring(fetch.offset) + L"-\r\n";
    if (!fetch.validator.empty()) headers += L"If-Range: " + fetch.validator + L"\r\n";
  }
  // A silence of the stall time, before the headers or within the body, ends the transfer.
  DWORD status = 0;
  if (!OpenHttpsRequest(fetch.url, headers.empty() ? nullptr : headers.c_str(), session, connection,
                        request, status, message, &failure, kStallTimeoutMs)) {
    return FetchEnd::Network;
  }
  if (status != 200 && status != 206) {
    failure.httpStatus = status;
    NoteProxyFailure(failure, false);
    message = kTextBadStatus;
    return FetchEnd::Network;
  }
  if (status == 206 && fetch.offset > 0) {
    const std::wstring range = ResponseHeader(request.Get(), WINHTTP_QUERY_CONTENT_RANGE);
    if (!RangeStartsAt(range, fetch.offset, fetch.expectedSize)) {
      failure.httpStatus = status;
      message = kTextBadRange + (range.empty() ? std::wstring(L"(无)") : range);
      return FetchEnd::Network;
    }
    if (fetch.validator.empty()) fetch.validator = ValidatorOf(request.Get());
  } else {
    fetch.offset = 0;
    fetch.validator = ValidatorOf(request.Get());
  }
  return FetchEnd::Complete;
}

bool WriteAt(HANDLE file, std::uint64_t offset, const char* data, DWORD size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD count = 0;
  return WriteFile(file, data, size, &count, &at) && count == size;
}

// The body's bytes, gathered into whole buffers before they go to the file, the progress and
// the written callback. Reads ask only for what has arrived (a read of more waits for all of it,
// and until it returns no cancel would be seen), which is one TLS record at a time, except while
// the body comes fast (ReadWhole).
class BodyBatches {
 public:
  BodyBatches(HANDLE file, std::uint64_t offset, std::uint64_t expectedSize,
              const DownloadProgress& progress, const ChunkWritten& written)
      : buffer_(std::make_unique<char[]>(kTransferBufferSize)),
        file_(file),
        offset_(offset),
        expectedSize_(expectedSize),
        progress_(progress),
        written_(written) {}

  char* Space() { return buffer_.get() + filled_; }
  DWORD SpaceLeft() const { return kTransferBufferSize - filled_; }
  // Bytes written and gathered.
  std::uint64_t Done() const { return offset_ + filled_; }
  // The last buffer filled within kQuickBatch and the next has not begun: one read of a whole
  // buffer saves a query and a read per TLS record (Wine's WinHTTP hands over 8 KiB a call) and,
  // at the rate just seen, still ends well within a second. A slower buffer goes back to reading
  // what has arrived. The price: a read that fails midway (a stall) keeps none of its part, which
  // the next URL or attempt fetches again.
  bool ReadWhole() const { return quick_ && filled_ == 0; }

  // count bytes were read into Space(); writes the batch when it is full or has waited long.
  bool Add(DWORD count) {
    filled_ += count;
    const auto now = Clock::now();
    if (filled_ == kTransferBufferSize || now - lastFlush_ >= kFlushInterval) {
      quick_ = filled_ == kTransferBufferSize && now - lastFlush_ < kQuickBatch;
      return Flush();
    }
    return true;
  }

  bool Flush() {
    lastFlush_ = Clock::now();
    if (filled_ == 0) return true;
    if (!WriteAt(file_, offset_, buffer_.get(), filled_)) return false;
    if (written_) written_(offset_, buffer_.get(), filled_);
    offset_ += filled_;
    filled_ = 0;
    // A body longer than the file is a failure, not progress.
    if (progress_ && offset_ <= expectedSize_) progress_(offset_, expectedSize_);
    return true;
  }

 private:
  std::unique_ptr<char[]> buffer_;
  HANDLE file_;
  std::uint64_t offset_;
  std::uint64_t expectedSize_;
  const DownloadProgress& progress_;
  const ChunkWritten& written_;
  DWORD filled_ = 0;
  Clock::time_point lastFlush_ = Clock::now();
  bool quick_ = false;
};

// Reads the body into file from offset on. failure counts the bytes read.
FetchEnd ReceiveBody(HINTERNET request, HANDLE file, std::uint64_t offset,
                     std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                     const DownloadProgress& progress, const ChunkWritten& written,
                     std::wstring& message, TransferFailure& failure) {
  BodyBatches batches(file, offset, expectedSize, progress, written);
  if (progress) progress(offset, expectedSize);
  // A read that fails after the stall time without a byte is the stall: the time-out's error
  // differs between WinHTTP's implementations.
  auto lastByte = Clock::now();
  const auto stalled = [&lastByte](DWORD error) {
    return error == ERROR_WINHTTP_TIMEOUT ||
           Clock::now() - lastByte >= std::chrono::milliseconds(kStallTimeoutMs - 500);
  };
  // Whatever ends the transfer, the bytes read so far go to the file first.
  const auto end = [&](FetchEnd how, const wchar_t* text) {
    if (!batches.Flush()) {
      failure.winError = GetLastError();
      message = kTextWriteFailed;
      return FetchEnd::Local;
    }
    message = text;
    return how;
  };
  for (;;) {
    if (cancel.load()) return end(FetchEnd::Cancelled, kTextCancelled);
    // None left: 0, and the read of one byte below confirms the end.
    DWORD available = batches.SpaceLeft();
    DWORD read = 0;
    if ((!batches.ReadWhole() && !WinHttpQueryDataAvailable(request, &available)) ||
        !WinHttpReadData(request, batches.Space(),
                         std::clamp<DWORD>(available, 1, batches.SpaceLeft()), &read)) {
      failure.winError = GetLastError();
      return end(FetchEnd::Network, stalled(failure.winError) ? kTextStalled : kTextReadFailed);
    }
    if (read == 0) {
      if (batches.Done() == expectedSize) return end(FetchEnd::Complete, L"");
      return end(FetchEnd::Network, kTextIncomplete);
    }
    failure.bytesReceived += read;
    lastByte = Clock::now();
    const bool oversize = batches.Done() + read > expectedSize;
    if (!batches.Add(read)) {
      failure.winError = GetLastError();
      message = kTextWriteFailed;
      return FetchEnd::Local;
    }
    if (oversize) return end(FetchEnd::Network, kTextOversize);
  }
}

// The caller's failure, emptied, or one that nobody reads.
TransferFailure& FailureOf(TransferFailure* given, TransferFailure& unread) {
  TransferFailure& failure = given ? *given : unread;
  failure = {};
  return failure;
}

// A held file's size, the bytes a fetch continues from.
std::uint64_t HeldOffset(HANDLE file, std::uint64_t expectedSize) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size)
             ? ResumeOffset(static_cast<std::uint64_t>(size.QuadPart), expectedSize)
             : 0;
}

// A held file, emptied when the body starts it again.
HANDLE HeldFileFrom(HANDLE file, std::uint64_t from) {
  if (from == 0) {
    FILE_END_OF_FILE_INFO empty{};
    if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &empty, sizeof(empty))) {
      return nullptr;
    }
  }
  return file;
}

}  // namespace

FetchEnd FetchRange(RangeFetch& fetch, const FileForBody& fileForBody,
                    const std::atomic<bool>& cancel, const DownloadProgress& progress,
                    const ChunkWritten& written, std::wstring& message, TransferFailure& failure) {
  failure = {};
  if (fetch.offset == fetch.expectedSize) {
    if (progress) progress(fetch.offset, fetch.expectedSize);
    message.clear();
    return FetchEnd::Complete;
  }
  // Declared in this order so that they close request first, after the file.
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  if (const FetchEnd sent = Request(fetch, session, connection, request, message, failure);
      sent != FetchEnd::Complete) {
    return sent;
  }
  KernelHandle owned;
  const HANDLE file = fileForBody(fetch.offset, owned);
  if (file == nullptr) {
    failure.winError = GetLastError();  // of the open or truncation that ended it
    message = kTextCannotOpen;
    return FetchEnd::Local;
  }
  return ReceiveBody(request.Get(), file, fetch.offset, fetch.expectedSize, cancel, progress,
                     written, message, failure);
}

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
  RangeFetch fetch{.url = url, .expectedSize = expectedSize};
  fetch.offset = ReadFileSize(destination, size) ? ResumeOffset(size, expectedSize) : 0;
  const FileForBody open = [&destination](std::uint64_t from, KernelHandle& owned) -> HANDLE {
    // Kept to resume, emptied otherwise; shared for reading and writing.
    owned.Reset(CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, from > 0 ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return owned ? owned.Get() : nullptr;
  };
  return FetchRange(fetch, open, cancel, progress, nullptr, *message, seen) == FetchEnd::Complete;
}

bool DownloadToOpenFile(const std::wstring& url, HANDLE file, std::uint64_t expectedSize,
                        const std::atomic<bool>& cancel, const DownloadProgress& progress,
                        const ChunkWritten& written, std::wstring* message,
                        TransferFailure* failure) {
  if (message == nullptr) return false;
  TransferFailure unread;
  TransferFailure& seen = FailureOf(failure, unread);
  RangeFetch fetch{
      .url = url, .offset = HeldOffset(file, expectedSize), .expectedSize = expectedSize};
  const FileForBody held = [file](std::uint64_t from, KernelHandle&) {
    return HeldFileFrom(file, from);
  };
  return FetchRange(fetch, held, cancel, progress, written, *message, seen) == FetchEnd::Complete;
}

bool DownloadFromUrls(const std::vector<std::wstring>& urls, HANDLE file,
                      std::uint64_t expectedSize, std::wstring& validator,
                      const std::atomic<bool>& cancel, const UrlPassCallbacks& callbacks,
                      std::wstring& message) {
  const FileForBody held = [file](std::uint64_t from, KernelHandle&) {
    return HeldFileFrom(file, from);
  };
  RangeFetch fetch;
  // The caller's validator follows the response as soon as its bytes go to the file.
  const ChunkWritten written = [&](std::uint64_t offset, const char* data, DWORD size) {
    validator = fetch.validator;
    if (callbacks.written) callbacks.written(offset, data, size);
  };
  message = kTextIncomplete;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    if (cancel.load()) {
      message = kTextCancelled;
      return false;
    }
    fetch = RangeFetch{.url = urls[i],
                       .offset = HeldOffset(file, expectedSize),
                       .expectedSize = expectedSize,
                       .validator = validator};
    TransferFailure failure;
    const FetchEnd end =
        FetchRange(fetch, held, cancel, callbacks.progress, written, message, failure);
    if (fetch.offset == 0 || end == FetchEnd::Complete) validator = fetch.validator;
    if (end == FetchEnd::Complete) {
      const bool last = i + 1 == urls.size();
      std::wstring why;
      if (last || !callbacks.finishedCheck || callbacks.finishedCheck(why)) return true;
      // The wrong file, from this URL at least: the next one starts from nothing.
      validator.clear();
      if (HeldFileFrom(file, 0) == nullptr) {
        message = kTextWriteFailed;
        return false;
      }
      if (callbacks.urlFailed) callbacks.urlFailed(urls[i], why, failure);
      message = why;
      continue;
    }
    if (callbacks.urlFailed) callbacks.urlFailed(urls[i], message, failure);
    if (end != FetchEnd::Network) return false;
  }
  return false;
}

}  // namespace lum::installer
