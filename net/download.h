// Resumable download of the package into the cache folder: one GET of the file's bytes from an
// offset on into a file, and above it one pass through the package's URLs.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/handles.h"
#include "net/transfer_failure.h"

namespace lum::installer {

using DownloadProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;
// Sees every chunk once it is in the file, with the file offset it was written at.
using ChunkWritten = std::function<void(std::uint64_t offset, const char* data, DWORD size)>;

// A response that sends no byte for this long, before its headers or within its body, has
// stalled: the transfer ends (what it wrote stays) and the next URL may do better. Well under the
// 30 s receive time-out of the transport.
inline constexpr int kStallTimeoutMs = 10000;

// A package of at least this size is fetched over up to kDownloadConnections connections at once
// when its server serves byte ranges and one connection alone would take long. On a long, lossy
// path one TCP connection stays far below the line's speed (about MSS / (RTT * sqrt(loss)) under
// CUBIC); a few share the line. Each extra connection costs its own TLS handshake and, where its
// piece is cut short, the bytes in flight past the cut; from this size on every connection still
// gets 2 MiB, many round trips' worth even on a slow path, while on a fast line a smaller file is
// done before they would help.
inline constexpr std::uint64_t kSegmentThreshold = 8 * 1024 * 1024;
inline constexpr int kDownloadConnections = 4;

// How one GET of the file ended.
enum class FetchEnd {
  Complete,   // the file holds the whole expected size
  Network,    // the server or the way to it failed or refused: another URL may do better
  Local,      // the file could not be written
  Cancelled,  // the cancel flag was seen
};

// One GET of the file's bytes from an offset on.
struct RangeFetch {
  std::wstring url;
  std::uint64_t offset = 0;        // bytes the file holds already; 0 asks for the whole file
  std::uint64_t expectedSize = 0;  // of the whole file
  // In: the validator the held bytes came with, sent as If-Range with the range, so that a file
  // that changed on the server comes whole (200) instead of continuing the old one. Out: the
  // validator of a response that started the file at 0 (a strong ETag, else Last-Modified).
  std::wstring validator;
  // Connections the fetch may use; more than one only for a file of at least kSegmentThreshold
  // whose first response shows that the server serves ranges (see FetchRange).
  int connections = 1;
};

// The file a fetch writes into, given once the response's status is right: from is where the
// response's bytes start (0: the file is written again from its start, so whatever it held must
// go). The bytes are written at their offsets, wherever the file pointer was. Null: it cannot be
// written (GetLastError tells why). A file it opens itself goes into owned.
using FileForBody = std::function<HANDLE(std::uint64_t from, KernelHandle& owned)>;

// Requests fetch.url from fetch.offset on (a Range and If-Range header when the offset is not
// 0), checks the response and writes its body into the file. A 200 carries the whole file; a 206
// must start at the offset and name the expected size (Content-Range). The wait for the headers
// and each read of the body give up after kStallTimeoutMs without a byte. Reads cancel before every
// read of the body. message and failure tell why a fetch did not complete.
//
// With more than one connection allowed, a large file whose first response is a 206 or a 200 with
// "Accept-Ranges: bytes", of the rest's length and with a validator, is fetched in segments: the
// first response goes on from the offset and, once its pace says that the rest would take it
// long, other connections ask for later parts (a closed Range with If-Range). A part counts only
// once its answer is a 206 of exactly that range; then the connection before it stops where the
// part begins. An answer that is not (200, another range, another status, no connection) only drops
// that connection. A connection that is done takes a part nobody fetches, or the back half of the
// one that at its pace would take longest, if that is over two seconds (it waits while one may come
// to that). written sees the bytes in file order, once each, as the contiguous prefix grows; bytes
// written ahead of it are read back from the file when it reaches them, so the file is opened for
// reading too. A segmented fetch that does not complete cuts the file to the bytes written saw,
// which is what a later fetch continues from; one connection failing within its body fails the
// fetch.
[[nodiscard]] FetchEnd FetchRange(RangeFetch& fetch, const FileForBody& fileForBody,
                                  const std::atomic<bool>& cancel, const DownloadProgress& progress,
                                  const ChunkWritten& written, std::wstring& message,
                                  TransferFailure& failure);

// Downloads url into destination, resuming a partial file with a byte range. True when the
// file holds exactly expectedSize bytes. Reads cancel before every read of the body. A failure,
// when given, receives what the call saw; it tells something only when the call failed.
[[nodiscard]] bool DownloadToFile(const std::wstring& url, const std::wstring& destination,
                                  std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                                  const DownloadProgress& progress, std::wstring* message,
                                  TransferFailure* failure = nullptr);

// The same into a file the caller holds open for reading and writing: what it holds is what a
// later call resumes from, and the caller keeps the file in hand throughout.
[[nodiscard]] bool DownloadToOpenFile(const std::wstring& url, HANDLE file,
                                      std::uint64_t expectedSize, const std::atomic<bool>& cancel,
                                      const DownloadProgress& progress, const ChunkWritten& written,
                                      std::wstring* message, TransferFailure* failure = nullptr);

// What one pass through the URLs reports as it goes.
struct UrlPassCallbacks {
  DownloadProgress progress;
  ChunkWritten written;
  // A URL that did not give the file, with why; the pass goes on with the next one.
  std::function<void(const std::wstring& url, const std::wstring& message,
                     const TransferFailure& failure)>
      urlFailed;
  // Judges a file that a URL completed while another URL is left to try: false (with why) and
  // the file is emptied and fetched whole from the next URL. Without it nothing is judged.
  std::function<bool(std::wstring& why)> finishedCheck;
};

// One pass through urls, in order, into a file held for reading and writing. Each URL continues
// from the bytes the file holds, whichever URL wrote them: every URL serves the same file, which
// is judged as a whole afterwards. A URL that fails on the network moves the pass to the next
// one; a file that cannot be written or a cancel ends it. True when the file holds expectedSize
// bytes (from the last URL it may still be wrong: that is the verification's to say).
// validator is the one of the bytes held, kept up to date; message is the last failure's.
[[nodiscard]] bool DownloadFromUrls(const std::vector<std::wstring>& urls, HANDLE file,
                                    std::uint64_t expectedSize, std::wstring& validator,
                                    const std::atomic<bool>& cancel,
                                    const UrlPassCallbacks& callbacks, std::wstring& message);

}  // namespace lum::installer
