// Client of the test bed's release server (tools/release_server/release_server.py): defines
// routes and faults through its control API and reads back what the code under test sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lum::test {

// One response of a route. Members left at their defaults are not sent to the server.
struct RouteOptions {
  // The body: at most one of these. Without any the body is empty.
  std::optional<std::string> file;        // relative to the served folder (see WriteServedFile)
  std::optional<std::string> body;        // inline bytes, any content
  std::optional<std::uint64_t> generate;  // byte i is i % 251 (see GeneratedBytes)

  std::optional<int> status;  // fixed status instead of the automatic 200 / 206 / 416
  std::vector<std::pair<std::string, std::string>> headers;
  std::string redirect;          // answer 302 with this Location
  bool ignoreRange = false;      // 200 with the whole body even when a range was asked for
  bool force206 = false;         // 206 with a Content-Range even without a Range header
  bool wrongRange = false;       // a range's bytes with a Content-Range one byte further on
  std::uint64_t extraBytes = 0;  // body longer than its content by this many bytes
  std::optional<std::uint64_t> closeAfter;    // close after this many body bytes
  double stallBeforeHeaders = 0;              // seconds before any answer
  std::optional<std::uint64_t> stallAfter;    // pause after this many body bytes ...
  double stallSeconds = 60;                   // ... for this long
  std::uint64_t trickleChunk = 0;             // bytes per write ...
  double trickleDelay = 0;                    // ... and seconds between writes ...
  std::optional<std::uint64_t> trickleUntil;  // ... for this many body bytes, if given
  bool noContentLength = false;
  std::string etag;  // sent as ETag; a range whose If-Range differs gets the whole body
};

struct RecordedRequest {
  std::string listener;  // "main", or the port of an extra listener
  std::string method;
  std::string path;  // request target with its query
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool matched = false;

  // First header of that name (case-insensitive), if any.
  std::optional<std::string> Header(std::string_view name) const;
};

struct ConnectionCounts {
  int count = 0;  // connections that carried no control call
  int tlsFailures = 0;
};

class ReleaseServer {
 public:
  // The server of the test bed, on LUM_TEST_SERVER_PORT.
  ReleaseServer();

  int Port() const { return port_; }
  // https://localhost:PORT + path and https://127.0.0.1:PORT + path.
  std::wstring LocalhostUrl(std::wstring_view path) const;
  std::wstring LoopbackUrl(std::wstring_view path) const;

  // Forgets routes, records and extra listeners; the default metrics route stays.
  void Reset();
  // Adds or replaces the route for (method, path); method "*" matches any. A path ending in
  // "manifest.json" also gets the route path + ".sig" with the signature of each response's
  // inline body by the key "manifest"; a route added for that path afterwards replaces it.
  void AddRoute(std::string_view path, const RouteOptions& response, std::string_view method = "*");
  // Responses used in turn, the last one repeating.
  void AddRouteSequence(std::string_view path, const std::vector<RouteOptions>& responses,
                        std::string_view method = "*");
  // The DER ECDSA signature of bytes by a manifest key of the test PKI: "manifest",
  // "manifest-next" (both listed by the test build) or "manifest-unlisted".
  std::string Sign(std::string_view bytes, std::string_view key = "manifest");

  std::vector<RecordedRequest> Requests();
  std::vector<RecordedRequest> UnexpectedRequests();
  ConnectionCounts Connections();

  // Opens an extra listener serving the same routes: kind "trusted", "untrusted" (certificate
  // from a root the prefix does not trust) or "plain" (HTTP). Returns its port, 0 on failure.
  int OpenListener(std::string_view kind);

  // Writes a file into the served folder; RouteOptions::file takes the same relative name.
  static void WriteServedFile(std::string_view relative, std::string_view bytes);
  // The bytes of a generated body from offset on.
  static std::string GeneratedBytes(std::uint64_t offset, std::uint64_t size);

 private:
  // One control call; fails the test and returns an empty string when it does not succeed.
  std::string Call(const wchar_t* verb, std::wstring_view path, const std::string& body);
  std::vector<RecordedRequest> FetchRecords(std::wstring_view path);

  int port_ = 0;
};

// A loopback port with nothing listening on it (bound and released again).
int ClosedLoopbackPort();

}  // namespace lum::test
