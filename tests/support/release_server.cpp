#include "tests/support/release_server.h"

// winsock2.h goes before anything that includes windows.h.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "base/handles.h"
#include "tests/support/test_env.h"

namespace lum::test {
namespace {

using installer::WinHttpHandle;
using nlohmann::json;

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out.push_back(k <= n ? kBase64Alphabet[(v >> (18 - 6 * k)) & 63] : '=');
    }
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  std::uint32_t v = 0;
  int bits = 0;
  for (const char c : text) {
    const char* p = std::strchr(kBase64Alphabet, c);
    if (c == '=' || c == '\0' || p == nullptr) continue;
    v = (v << 6) | static_cast<std::uint32_t>(p - kBase64Alphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((v >> bits) & 0xFF));
    }
  }
  return out;
}

json ResponseJson(const RouteOptions& options) {
  json r = json::object();
  if (options.file) r["file"] = *options.file;
  if (options.body) r["body_base64"] = Base64Encode(*options.body);
  if (options.generate) r["generate"] = *options.generate;
  if (options.status) r["status"] = *options.status;
  if (!options.headers.empty()) {
    json headers = json::object();
    for (const auto& [name, value] : options.headers) headers[name] = value;
    r["headers"] = headers;
  }
  if (!options.redirect.empty()) r["redirect"] = options.redirect;
  if (options.ignoreRange) r["ignore_range"] = true;
  if (options.force206) r["force_206"] = true;
  if (options.wrongRange) r["wrong_range"] = true;
  if (options.extraBytes) r["extra_bytes"] = options.extraBytes;
  if (options.closeAfter) r["close_after"] = *options.closeAfter;
  if (options.stallBeforeHeaders > 0) r["stall_before_headers"] = options.stallBeforeHeaders;
  if (options.stallAfter) {
    r["stall_after"] = *options.stallAfter;
    r["stall_seconds"] = options.stallSeconds;
  }
  if (options.trickleChunk) r["trickle_chunk"] = options.trickleChunk;
  if (options.trickleDelay > 0) r["trickle_delay"] = options.trickleDelay;
  if (options.trickleUntil) r["trickle_until"] = *options.trickleUntil;
  if (options.noContentLength) r["no_content_length"] = true;
  if (!options.etag.empty()) r["etag"] = options.etag;
  return r;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

ReleaseServer::ReleaseServer() {
  const std::wstring port = TestEnv(L"LUM_TEST_SERVER_PORT");
  port_ = port.empty() ? 0 : std::stoi(port);
}

std::wstring ReleaseServer::LocalhostUrl(std::wstring_view path) const {
  return L"https://localhost:" + std::to_wstring(port_) + std::wstring(path);
}

std::wstring ReleaseServer::LoopbackUrl(std::wstring_view path) const {
  return L"https://127.0.0.1:" + std::to_wstring(port_) + std::wstring(path);
}

void ReleaseServer::Reset() { Call(L"POST", L"reset", "{}"); }

void ReleaseServer::AddRoute(std::string_view path, const RouteOptions& response,
                             std::string_view method) {
  AddRouteSequence(path, {response}, method);
}

void ReleaseServer::AddRouteSequence(std::string_view path,
                                     const std::vector<RouteOptions>& responses,
                                     std::string_view method) {
  json route = {{"path", std::string(path)}, {"method", std::string(method)}};
  json list = json::array();
  for (const RouteOptions& r : responses) list.push_back(ResponseJson(r));
  route["responses"] = list;
  Call(L"POST", L"routes", route.dump());
  // A manifest comes with its signature, as it is published.
  if (path.ends_with("manifest.json")) {
    std::vector<RouteOptions> signatures;
    for (const RouteOptions& r : responses) {
      signatures.push_back(RouteOptions{.body = Sign(r.body.value_or(""))});
    }
    AddRouteSequence(std::string(path) + ".sig", signatures, method);
  }
}

std::string ReleaseServer::Sign(std::string_view bytes, std::string_view key) {
  const std::string text =
      Call(L"POST", L"sign",
           json{{"key", std::string(key)}, {"body_base64", Base64Encode(bytes)}}.dump());
  return text.empty() ? std::string()
                      : Base64Decode(json::parse(text).at("signature_base64").get<std::string>());
}

std::vector<RecordedRequest> ReleaseServer::Requests() { return FetchRecords(L"requests"); }

std::vector<RecordedRequest> ReleaseServer::UnexpectedRequests() {
  return FetchRecords(L"unexpected");
}

ConnectionCounts ReleaseServer::Connections() {
  ConnectionCounts counts;
  const std::string text = Call(L"GET", L"connections", "");
  if (text.empty()) return counts;
  const json value = json::parse(text);
  counts.count = value.at("count").get<int>();
  counts.tlsFailures = value.at("tls_failures").get<int>();
  return counts;
}

int ReleaseServer::OpenListener(std::string_view kind) {
  const std::string text = Call(L"POST", L"listeners", json{{"tls", std::string(kind)}}.dump());
  return text.empty() ? 0 : json::parse(text).at("port").get<int>();
}

void ReleaseServer::WriteServedFile(std::string_view relative, std::string_view bytes) {
  std::wstring name(relative.begin(), relative.end());
  std::replace(name.begin(), name.end(), L'/', L'\\');
  WriteFileBytes(TestEnv(L"LUM_TEST_SERVED") + L"\\" + name, bytes);
}

std::string ReleaseServer::GeneratedBytes(std::uint64_t offset, std::uint64_t size) {
  std::string out(static_cast<std::size_t>(size), '\0');
  for (std::uint64_t i = 0; i < size; ++i) out[i] = static_cast<char>((offset + i) % 251);
  return out;
}

std::vector<RecordedRequest> ReleaseServer::FetchRecords(std::wstring_view path) {
  std::vector<RecordedRequest> records;
  const std::string text = Call(L"GET", path, "");
  if (text.empty()) return records;
  const json document = json::parse(text);
  for (const json& item : document.at("requests")) {
    RecordedRequest r;
    r.listener = item.at("listener").get<std::string>();
    r.method = item.at("method").get<std::string>();
    r.path = item.at("path").get<std::string>();
    for (const json& header : item.at("headers")) {
      r.headers.emplace_back(header.at(0).get<std::string>(), header.at(1).get<std::string>());
    }
    r.body = Base64Decode(item.at("body_base64").get<std::string>());
    r.matched = item.at("matched").get<bool>();
    records.push_back(std::move(r));
  }
  return records;
}

std::string ReleaseServer::Call(const wchar_t* verb, std::wstring_view path,
                                const std::string& body) {
  const std::wstring target = L"/_control/" + std::wstring(path);
  WinHttpHandle session(WinHttpOpen(L"LumTestControl/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  WinHttpHandle connection;
  WinHttpHandle request;
  if (session) {
    connection.Reset(
        WinHttpConnect(session.Get(), L"127.0.0.1", static_cast<INTERNET_PORT>(port_), 0));
  }
  if (connection) {
    request.Reset(WinHttpOpenRequest(connection.Get(), verb, target.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     WINHTTP_FLAG_SECURE));
  }
  const DWORD length = static_cast<DWORD>(body.size());
  if (!request ||
      !WinHttpSendRequest(request.Get(), L"Content-Type: application/json\r\n",
                          static_cast<DWORD>(-1), const_cast<char*>(body.data()), length, length,
                          0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    ADD_FAILURE() << "release server control call failed, error " << GetLastError();
    return {};
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  std::string response;
  std::array<char, 16384> buffer;
  DWORD read = 0;
  while (WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) &&
         read > 0) {
    response.append(buffer.data(), read);
  }
  if (status != 200) {
    ADD_FAILURE() << "release server control call answered " << status << ": " << response;
    return {};
  }
  return response;
}

int ClosedLoopbackPort() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  int port = 0;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
    closesocket(s);
  }
  WSACleanup();
  return port;
}

}  // namespace lum::test
