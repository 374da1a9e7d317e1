#include "net/download.h"

#include <process.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <iterator>
#include <memory>
#include <mutex>

#include "base/paths.h"
#include "net/https_transport.h"

namespace lum::installer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kTransferBufferSize = 65536;
// The body goes to the file in batches of the whole buffer; a slow one at least this often, so
// that the progress moves and the file keeps up with what arrived.
constexpr Clock::duration kFlushInterval = std::chrono::milliseconds(100);

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

// "bytes FIRST-LAST/TOTAL" starting at offset and naming total as the file's size, and ending at
// wantedLast when one is given.
bool RangeStartsAt(const std::wstring& contentRange, std::uint64_t offset, std::uint64_t total,
                   std::uint64_t wantedLast = UINT64_MAX) {
  const wchar_t* at = contentRange.c_str();
  if (std::wcsncmp(at, L"bytes ", 6) != 0) return false;
  at += 6;
  std::uint64_t first = 0, last = 0, size = 0;
  if (!ReadNumber(at, first) || *at++ != L'-' || !ReadNumber(at, last) || *at++ != L'/' ||
      !ReadNumber(at, size) || *at != L'\0') {
    return false;
  }
  return first == offset && size == total && last >= first && last < total &&
         (wantedLast == UINT64_MAX || last == wantedLast);
}

// A Range from `from` on, up to last unless that is UINT64_MAX, and the validator, if any, as
// If-Range.
std::wstring RangeHeaders(std::uint64_t from, std::uint64_t last, const std::wstring& validator) {
  std::wstring headers = L"Range: bytes=" + std::to_wstring(from) + L"-";
  if (last != UINT64_MAX) headers += std::to_wstring(last);
  headers += L"\r\n";
  if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
  return headers;
}

// Sends the GET from fetch.offset on and judges the response's status and range. A 200 (or a
// 206 to a request without a range) carries the whole file: fetch.offset becomes 0.
FetchEnd Request(RangeFetch& fetch, WinHttpHandle& session, WinHttpHandle& connection,
                 WinHttpHandle& request, std::wstring& message, TransferFailure& failure) {
  const std::wstring headers =
      fetch.offset > 0 ? RangeHeaders(fetch.offset, UINT64_MAX, fetch.validator) : L"";
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

class Segments;

// The body's bytes, gathered into whole buffers before they go to the file, the progress and
// the written callback. Reads ask only for what has arrived (a read of more waits for all of it,
// and until it returns no cancel would be seen), which is one TLS record at a time. A segment's
// batches go to its Segments too, and stay within its piece.
class BodyBatches {
 public:
  BodyBatches(HANDLE file, std::uint64_t offset, std::uint64_t expectedSize,
              const DownloadProgress& progress, const ChunkWritten& written, Segments* segments,
              std::size_t piece)
      : buffer_(std::make_unique<char[]>(kTransferBufferSize)),
        file_(file),
        offset_(offset),
        expectedSize_(expectedSize),
        progress_(progress),
        written_(written),
        segments_(segments),
        piece_(piece),
        limit_(offset) {}

  char* Space() { return buffer_.get() + filled_; }
  // What the next read may fill; 0 once a segment's piece is done.
  DWORD SpaceLeft();
  // Bytes written and gathered.
  std::uint64_t Done() const { return offset_ + filled_; }

  // count bytes were read into Space(); writes the batch when it is full or has waited long.
  bool Add(DWORD count) {
    filled_ += count;
    if (filled_ == kTransferBufferSize || Clock::now() - lastFlush_ >= kFlushInterval) {
      return Flush();
    }
    return true;
  }

  bool Flush() {
    lastFlush_ = Clock::now();
    if (filled_ == 0) return true;
    if (!Write()) return false;
    if (written_) written_(offset_, buffer_.get(), filled_);
    Wrote();
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
  Segments* segments_;
  std::size_t piece_;
  std::uint64_t limit_;  // a segment's reads stay below it (see Segments::Reserve)
  DWORD filled_ = 0;
  Clock::time_point lastFlush_ = Clock::now();

  bool positioned_ = false;

  void Wrote();

  // One connection's batches follow each other from the file pointer, set once: under Wine a
  // write at an explicit offset costs several percent of the download's CPU. Segments share the
  // handle, so each of their writes says where.
  bool Write() {
    if (segments_ != nullptr) return WriteAt(file_, offset_, buffer_.get(), filled_);
    if (!positioned_) {
      LARGE_INTEGER at{};
      at.QuadPart = static_cast<LONGLONG>(offset_);
      if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return false;
      positioned_ = true;
    }
    DWORD count = 0;
    return WriteFile(file_, buffer_.get(), filled_, &count, nullptr) && count == filled_;
  }
};

// A large file's rest fetched over several connections at once into one held file (see
// FetchRange). The rest is a set of pieces, each fetched from its start on by at most one
// connection: bytes [begin, pos) of a piece are in the file, reads of it may reach reserved, and
// its end only shrinks, never below reserved. Pieces nobody fetches wait for a connection that
// is done with its own.
class Segments {
 public:
  Segments(const RangeFetch& fetch, HANDLE file, const std::atomic<bool>& cancel,
           const DownloadProgress& progress, const ChunkWritten& written)
      : fetch_(fetch),
        file_(file),
        cancel_(cancel),
        progress_(progress),
        written_(written),
        pieces_{{fetch.offset, fetch.offset, fetch.offset, fetch.expectedSize, true, Clock::now()}},
        held_(fetch.offset),
        delivered_(fetch.offset) {}

  // Runs the fetch on: the first connection (its response's headers are in) reads on from the
  // offset, and once its pace says that more connections pay (see Judge), helper threads ask for
  // later parts; afterwards every connection takes more until nothing is left, and all are
  // joined.
  FetchEnd Run(WinHttpHandle& session, WinHttpHandle& connection, WinHttpHandle& request,
               std::wstring& message, TransferFailure& failure);

  bool Stopped() const { return stop_.load() || cancel_.load(); }
  // The end of the batch of piece that starts at batch: a buffer on, or the piece's end.
  std::uint64_t Reserve(std::size_t piece, std::uint64_t batch);
  // size bytes of piece are in the file at offset.
  void Wrote(std::size_t piece, std::uint64_t offset, const char* data, DWORD size);

 private:
  struct Piece {
    std::uint64_t begin, pos, reserved, end;
    bool owned;
    Clock::time_point since;  // when its connection set out to fetch it
  };
  enum class Opened { Range, Refused, Failed };
  static constexpr std::size_t kNone = SIZE_MAX;
  static constexpr std::size_t kWait = SIZE_MAX - 1;  // none yet, but one may need splitting
  static constexpr DWORD kWaitMs = 100;
  struct ProbeStart {
    Segments* segments;
    std::uint64_t from, to;
  };

  // A thread of the C runtime's (_beginthreadex), as the connections use it.
  static unsigned __stdcall ProbeThread(void* start) {
    const ProbeStart& probe = *static_cast<const ProbeStart*>(start);
    probe.segments->Fetch(true, probe.from, probe.to);
    return 0;
  }
  bool Judge(Clock::time_point now);
  void StartHelpers();
  void Fetch(bool probe, std::uint64_t from, std::uint64_t to);
  Opened OpenPiece(std::uint64_t from, std::uint64_t to, WinHttpHandle& session,
                   WinHttpHandle& connection, WinHttpHandle& request);
  bool Receive(HINTERNET request, std::size_t piece);
  void Ended(FetchEnd end, const std::wstring& message, const TransferFailure& failure);
  std::size_t Claim(std::uint64_t from, std::uint64_t to);
  std::size_t Take(std::uint64_t& from, std::uint64_t& to);
  std::uint64_t Prefix();
  void Deliver(std::uint64_t offset, const char* data, DWORD size, bool last);

  const RangeFetch& fetch_;
  const HANDLE file_;
  const std::atomic<bool>& cancel_;
  const DownloadProgress& progress_;
  const ChunkWritten& written_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;  // guards the members below up to delivering_
  // Splits stop when it is full: enough for the first parts and many splits of them.
  Piece pieces_[64];
  std::size_t pieceCount_ = 1;
  std::uint64_t held_;  // bytes in the file: the offset and every piece's written ones
  std::uint64_t received_ = 0;
  FetchEnd failed_ = FetchEnd::Complete;  // the first failure, which stops every connection
  std::wstring message_;
  TransferFailure failure_;
  // The first connection's pace, judged until the helpers start (see kJudgeAfter): where its
  // piece stood, every kPaceSampleEvery or so.
  struct PaceSample {
    Clock::time_point at;
    std::uint64_t pos;
  };
  bool split_ = false;
  const Clock::time_point bodyStart_ = Clock::now();
  PaceSample pace_[8];  // a ring, enough for kPaceWindow and more
  std::size_t paceCount_ = 0;
  ProbeStart starts_[kDownloadConnections - 1];
  HANDLE helpers_[kDownloadConnections - 1];
  DWORD started_ = 0;      // written by the first connection's thread alone, read after it is done
  std::mutex delivering_;  // one thread at a time hands bytes to written_
  std::uint64_t delivered_;
  std::unique_ptr<char[]> readBack_;
};

DWORD BodyBatches::SpaceLeft() {
  if (segments_ == nullptr) return kTransferBufferSize - filled_;
  if (Done() == limit_) limit_ = segments_->Reserve(piece_, offset_);
  return static_cast<DWORD>(limit_ - Done());
}

void BodyBatches::Wrote() {
  if (segments_ != nullptr) segments_->Wrote(piece_, offset_, buffer_.get(), filled_);
}

// Reads the body into file from offset on, or a segment's piece of it. failure counts the bytes
// read.
FetchEnd ReceiveBody(HINTERNET request, HANDLE file, std::uint64_t offset,
                     std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                     const DownloadProgress& progress, const ChunkWritten& written,
                     std::wstring& message, TransferFailure& failure, Segments* segments = nullptr,
                     std::size_t piece = 0) {
  BodyBatches batches(file, offset, expectedSize, progress, written, segments, piece);
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
    if (cancel.load() || (segments != nullptr && segments->Stopped())) {
      return end(FetchEnd::Cancelled, kTextCancelled);
    }
    const DWORD space = batches.SpaceLeft();
    if (space == 0) return end(FetchEnd::Complete, L"");  // a segment at its piece's end
    // None left: 0, and the read of one byte below confirms the end.
    DWORD available = 0;
    DWORD read = 0;
    if (!WinHttpQueryDataAvailable(request, &available) ||
        !WinHttpReadData(request, batches.Space(), std::clamp<DWORD>(available, 1, space), &read)) {
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

bool CutFile(HANDLE file, std::uint64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof(end)) != FALSE;
}

// A held file, emptied when the body starts it again.
HANDLE HeldFileFrom(HANDLE file, std::uint64_t from) {
  return from > 0 || CutFile(file, 0) ? file : nullptr;
}

// Each connection of a segmented fetch starts with at least this much of the file. A piece is
// split for a connection that is done only when its own connection would need longer than
// kSplitAfterMs for the rest, at its pace so far, and both halves keep kMinSplit. The new
// connection first spends some four round trips on TCP, TLS and the request (0.8 s at 200 ms),
// so a split gains only where the rest takes more than twice that; on a fast line the piece's own
// connection is done before another one could start.
constexpr std::uint64_t kMinSegment = 1024 * 1024;
constexpr std::uint64_t kMinSplit = 128 * 1024;
constexpr std::uint64_t kSplitAfterMs = 2000;

// The first connection goes alone until its pace says that more would pay, as Chromium's
// parallel download waits for a remaining time: from kJudgeAfter into the body on, the helpers
// start once the rest would take over kSplitRestSeconds at its pace over the last second or so.
// Until then TCP's slow start makes every connection on a long path look alike, whatever holds
// it back later; a second's pace rides out a loss that holds back what arrives in order for a
// round trip or two. Measured over 200 ms and 1 % loss, a 20 Mbit/s line: a BBR connection,
// which fills the line by itself, reaches some 1.2 MB/s in order by 2 s, where 8 MiB then
// needs at most 6 s more, and more connections would only overrun the bottleneck's queue
// together and waste what each one cut short had in flight; a CUBIC one falls to some
// 100-300 kB/s near the Mathis bound, tens of seconds for the rest, and is joined as it falls.
// A connection that is quick for its line is done before it is judged.
constexpr Clock::duration kJudgeAfter = std::chrono::seconds(2);
constexpr Clock::duration kPaceWindow = std::chrono::seconds(1);
constexpr Clock::duration kPaceSampleEvery = std::chrono::milliseconds(250);
constexpr double kSplitRestSeconds = 8;

// A large file whose server serves ranges: the first response is a 206 that continues the file,
// or says "Accept-Ranges: bytes"; it carries the rest of the file and a validator, with which
// the other connections ask for parts of the same file.
bool Segmentable(const RangeFetch& fetch, HINTERNET request) {
  const std::uint64_t rest = fetch.expectedSize - fetch.offset;
  return fetch.connections > 1 && fetch.expectedSize >= kSegmentThreshold &&
         rest >= 2 * kMinSegment && !fetch.validator.empty() &&
         (fetch.offset > 0 || ResponseHeader(request, WINHTTP_QUERY_ACCEPT_RANGES) == L"bytes") &&
         ResponseHeader(request, WINHTTP_QUERY_CONTENT_LENGTH) == std::to_wstring(rest);
}

FetchEnd Segments::Run(WinHttpHandle& session, WinHttpHandle& connection, WinHttpHandle& request,
                       std::wstring& message, TransferFailure& failure) {
  if (progress_) progress_(fetch_.offset, fetch_.expectedSize);
  Receive(request.Get(), 0);
  // Past its piece the rest of the first response is not wanted.
  request.Reset();
  connection.Reset();
  session.Reset();
  Fetch(false, 0, 0);
  if (started_ > 0) static_cast<void>(WaitForMultipleObjects(started_, helpers_, TRUE, INFINITE));
  for (DWORD i = 0; i < started_; ++i) CloseHandle(helpers_[i]);

  Deliver(0, nullptr, 0, true);
  FetchEnd end = failed_;
  message = message_;
  failure = failure_;
  failure.bytesReceived = received_;
  if (end == FetchEnd::Complete && delivered_ != fetch_.expectedSize) {
    end = FetchEnd::Network;  // parts that no connection would serve
    message = kTextIncomplete;
  }
  // What ran ahead of the contiguous bytes goes: the file holds what written saw, which is what
  // the next fetch continues from and what a record of the download vouches for.
  if (end != FetchEnd::Complete && !CutFile(file_, delivered_)) {
    failure.winError = GetLastError();
    message = kTextWriteFailed;
    return FetchEnd::Local;
  }
  return end;
}

// Called under mutex_ with each batch of the first connection until the helpers start: true once
// its pace says they should (see kJudgeAfter).
bool Segments::Judge(Clock::time_point now) {
  const Piece& first = pieces_[0];
  const auto newest = [this](std::size_t back) -> const PaceSample& {
    return pace_[(paceCount_ - 1 - back) % std::size(pace_)];
  };
  if (paceCount_ == 0 || now - newest(0).at >= kPaceSampleEvery) {
    pace_[paceCount_++ % std::size(pace_)] = {now, first.pos};
  }
  if (now - bodyStart_ < kJudgeAfter) return false;
  // The newest sample at least a window old.
  for (std::size_t back = 0; back < std::min(paceCount_, std::size(pace_)); ++back) {
    const PaceSample& from = newest(back);
    if (now - from.at < kPaceWindow) continue;
    const std::chrono::duration<double> elapsed = now - from.at;
    const double pace = static_cast<double>(first.pos - from.pos) / elapsed.count();
    const std::uint64_t rest = first.end - first.pos;
    return rest >= 2 * kMinSegment && static_cast<double>(rest) > kSplitRestSeconds * pace;
  }
  return false;
}

// On the first connection's thread: helpers for the later parts of what its piece has left, each
// at least kMinSegment.
void Segments::StartHelpers() {
  std::uint64_t from = 0, rest = 0;
  {
    const std::lock_guard lock(mutex_);
    from = pieces_[0].reserved;
    rest = pieces_[0].end - from;
  }
  const std::uint64_t count =
      std::min<std::uint64_t>(kDownloadConnections, std::max<std::uint64_t>(rest / kMinSegment, 1));
  for (std::uint64_t k = 1; k < count; ++k) {
    const std::uint64_t begin = from + rest / count * k;
    starts_[started_] = {this, begin, k + 1 == count ? from + rest : begin + rest / count};
    helpers_[started_] = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, ProbeThread, &starts_[started_], 0, nullptr));
    if (helpers_[started_] == nullptr) break;  // fewer connections, no less correct
    ++started_;
  }
}

// A connection's work: a helper's first part [from, to), claimed once the answer is that range,
// then the pieces it takes, until nothing is left for it.
void Segments::Fetch(bool probe, std::uint64_t from, std::uint64_t to) {
  for (std::size_t piece = kNone; probe || (piece = Take(from, to)) != kNone; probe = false) {
    if (piece == kWait) {
      Sleep(kWaitMs);
      continue;
    }
    WinHttpHandle session;
    WinHttpHandle connection;
    WinHttpHandle request;
    if (OpenPiece(from, to, session, connection, request) != Opened::Range) {
      if (piece == kNone) return;
      const std::lock_guard lock(mutex_);
      pieces_[piece].owned = false;  // for another connection, or the fetch ends without it
      return;
    }
    if (piece == kNone) piece = Claim(from, to);
    if (piece != kNone && !Receive(request.Get(), piece)) return;
  }
}

// A GET of [from, to) with the validator of the first response. Only an answer of exactly that
// range serves; any other answer or none drops the connection, and with it only this helper.
Segments::Opened Segments::OpenPiece(std::uint64_t from, std::uint64_t to, WinHttpHandle& session,
                                     WinHttpHandle& connection, WinHttpHandle& request) {
  const std::wstring headers = RangeHeaders(from, to - 1, fetch_.validator);
  std::wstring message;
  DWORD status = 0;
  if (!OpenHttpsRequest(fetch_.url, headers.c_str(), session, connection, request, status, message,
                        nullptr, kStallTimeoutMs)) {
    return Opened::Failed;
  }
  return status == 206 && RangeStartsAt(ResponseHeader(request.Get(), WINHTTP_QUERY_CONTENT_RANGE),
                                        from, fetch_.expectedSize, to - 1)
             ? Opened::Range
             : Opened::Refused;
}

// Reads piece's part of request's body; false when the connection failed or the fetch stops.
bool Segments::Receive(HINTERNET request, std::size_t piece) {
  std::uint64_t from = 0;
  {
    const std::lock_guard lock(mutex_);
    from = pieces_[piece].pos;
  }
  std::wstring message;
  TransferFailure failure;
  const FetchEnd end = ReceiveBody(request, file_, from, fetch_.expectedSize, cancel_, nullptr,
                                   nullptr, message, failure, this, piece);
  Ended(end, message, failure);
  return end == FetchEnd::Complete;
}

void Segments::Ended(FetchEnd end, const std::wstring& message, const TransferFailure& failure) {
  const std::lock_guard lock(mutex_);
  received_ += failure.bytesReceived;
  if (end == FetchEnd::Complete || failed_ != FetchEnd::Complete) return;
  failed_ = end;
  message_ = message;
  failure_ = failure;
  stop_.store(true);
}

// The piece from `from` on, up to `to`, cut from the piece that holds `from` if its connection
// has not got there; what that piece held past `to` waits for its own helper or another.
std::size_t Segments::Claim(std::uint64_t from, std::uint64_t to) {
  const std::lock_guard lock(mutex_);
  // Up to two new pieces.
  for (std::size_t i = 0; i < pieceCount_ && pieceCount_ + 2 <= std::size(pieces_) && !stop_.load();
       ++i) {
    const Piece piece = pieces_[i];
    if (from < piece.begin || from >= piece.end) continue;
    if (piece.reserved > from || (piece.owned && piece.begin == from)) return kNone;
    const std::uint64_t end = std::min(to, piece.end);
    if (piece.end > end) pieces_[pieceCount_++] = {end, end, end, piece.end, false, {}};
    if (piece.begin == from) {
      pieces_[i].owned = true;
      pieces_[i].end = end;
      pieces_[i].since = Clock::now();
      return i;
    }
    pieces_[i].end = from;
    pieces_[pieceCount_] = {from, from, from, end, true, Clock::now()};
    return pieceCount_++;
  }
  return kNone;
}

// A piece for a connection that is done: one nobody fetches, else the back half of the one
// that will take longest to finish at its pace so far, if that is over kSplitAfterMs; its
// connection stops where the half begins. kWait while a piece large enough to split has no pace
// yet or may slow down.
std::size_t Segments::Take(std::uint64_t& from, std::uint64_t& to) {
  const std::lock_guard lock(mutex_);
  if (Stopped()) return kNone;
  const Clock::time_point now = Clock::now();
  std::size_t slowest = kNone;
  std::uint64_t longest = kSplitAfterMs;
  bool splittable = false;
  for (std::size_t i = 0; i < pieceCount_; ++i) {
    Piece& piece = pieces_[i];
    if (!piece.owned && piece.pos < piece.end) {
      piece.owned = true;
      piece.reserved = piece.pos;
      piece.since = now;
      from = piece.pos;
      to = piece.end;
      return i;
    }
    if (!piece.owned || piece.end - piece.reserved < 2 * kMinSplit) continue;
    splittable = true;
    if (piece.pos == piece.begin) continue;  // no byte yet: no pace to judge
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - piece.since);
    const std::uint64_t needs = static_cast<std::uint64_t>(elapsed.count()) *
                                (piece.end - piece.reserved) / (piece.pos - piece.begin);
    if (needs > longest) {
      slowest = i;
      longest = needs;
    }
  }
  if (pieceCount_ == std::size(pieces_)) return kNone;
  if (slowest == kNone) return splittable ? kWait : kNone;
  to = pieces_[slowest].end;
  from = pieces_[slowest].reserved + (to - pieces_[slowest].reserved) / 2;
  pieces_[slowest].end = from;
  pieces_[pieceCount_] = {from, from, from, to, true, now};
  return pieceCount_++;
}

std::uint64_t Segments::Reserve(std::size_t piece, std::uint64_t batch) {
  const std::lock_guard lock(mutex_);
  Piece& held = pieces_[piece];
  held.reserved = std::max(held.reserved, std::min(held.end, batch + kTransferBufferSize));
  return held.reserved;
}

void Segments::Wrote(std::size_t piece, std::uint64_t offset, const char* data, DWORD size) {
  bool split = false;
  {
    const std::lock_guard lock(mutex_);
    pieces_[piece].pos = offset + size;
    held_ += size;
    // Under the lock, so that the reports arrive in order.
    if (progress_) progress_(held_, fetch_.expectedSize);
    // Until the helpers start, the first connection is the only one.
    if (!split_ && !stop_.load()) split = split_ = Judge(Clock::now());
  }
  Deliver(offset, data, size, false);
  if (split) StartHelpers();
}

// The end of the contiguous bytes from the start of the file.
std::uint64_t Segments::Prefix() {
  const std::lock_guard lock(mutex_);
  std::uint64_t at = fetch_.offset;
  for (std::size_t i = 0; i < pieceCount_; ++i) {
    if (pieces_[i].begin != at) continue;
    if (pieces_[i].pos < pieces_[i].end) return pieces_[i].pos;
    at = pieces_[i].end;
    i = SIZE_MAX;  // from the first piece again: the one beginning there may stand before
  }
  return at;
}

// Hands written what the prefix gained, in order and once each: the batch just written when it
// continues the prefix, else what a piece further on wrote earlier, read back from the file. A
// thread that finds another one at it leaves the work to that one, which looks again before it
// stops; the last call (after every connection ended) waits its turn.
void Segments::Deliver(std::uint64_t offset, const char* data, DWORD size, bool last) {
  if (last) {
    delivering_.lock();
  } else if (!delivering_.try_lock()) {
    return;
  }
  const std::lock_guard turn(delivering_, std::adopt_lock);
  if (!written_) {
    delivered_ = Prefix();
    return;
  }
  if (size > 0 && offset == delivered_) {
    written_(offset, data, size);
    delivered_ += size;
  }
  for (std::uint64_t prefix; (prefix = Prefix()) > delivered_ && !cancel_.load();) {
    if (!readBack_) readBack_ = std::make_unique<char[]>(kTransferBufferSize);
    const DWORD want =
        static_cast<DWORD>(std::min<std::uint64_t>(kTransferBufferSize, prefix - delivered_));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(delivered_);
    at.OffsetHigh = static_cast<DWORD>(delivered_ >> 32);
    DWORD read = 0;
    if (!ReadFile(file_, readBack_.get(), want, &read, &at) || read != want) {
      Ended(FetchEnd::Local, kTextWriteFailed, TransferFailure{.winError = GetLastError()});
      return;
    }
    written_(delivered_, readBack_.get(), want);
    delivered_ += want;
  }
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
  if (Segmentable(fetch, request.Get())) {
    Segments segments(fetch, file, cancel, progress, written);
    return segments.Run(session, connection, request, message, failure);
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
  // The bar goes back only where the file starts again: a segmented fetch that failed drops
  // what its connections had fetched ahead of the contiguous bytes, and the next URL fetches
  // them again under the bar's last position.
  std::uint64_t shown = 0;
  const FileForBody held = [file, &shown](std::uint64_t from, KernelHandle&) {
    if (from == 0) shown = 0;
    return HeldFileFrom(file, from);
  };
  const DownloadProgress progress = [&](std::uint64_t done, std::uint64_t total) {
    shown = std::max(shown, done);
    if (callbacks.progress) callbacks.progress(shown, total);
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
                       .validator = validator,
                       .connections = kDownloadConnections};
    TransferFailure failure;
    const FetchEnd end = FetchRange(fetch, held, cancel, progress, written, message, failure);
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
