#include "net/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "tests/net/server_test_fixture.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

using test::ReleaseServer;
using test::RouteOptions;
using test::SameBytes;

constexpr std::uint64_t kSize = 300000;
constexpr wchar_t kBadStatus[] = L"下载服务器返回异常状态";
constexpr wchar_t kCancelled[] = L"下载已取消";
constexpr wchar_t kIncomplete[] = L"安装包下载不完整";
constexpr wchar_t kReadFailed[] = L"读取安装包失败";
constexpr wchar_t kSizeMismatch[] = L"下载文件大小异常";
constexpr wchar_t kNoFolder[] = L"无法创建下载缓存目录";
constexpr wchar_t kCannotOpen[] = L"无法写入下载缓存";

using Report = std::pair<std::uint64_t, std::uint64_t>;

// Progress reports, safe to read from another thread.
class ProgressLog {
 public:
  DownloadProgress Callback() {
    return [this](std::uint64_t done, std::uint64_t total) {
      std::lock_guard lock(mutex);
      reports.emplace_back(done, total);
      if (onReport) onReport(done);
    };
  }
  std::vector<Report> Reports() {
    std::lock_guard lock(mutex);
    return reports;
  }

  std::function<void(std::uint64_t)> onReport;  // runs under the log's lock
  std::mutex mutex;

 private:
  std::vector<Report> reports;
};

class DownloadTest : public test::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    folder = test::FreshScratchDirectory(L"download");
    destination = folder + L"\\VIVOV3_Setup_x64.exe";
  }

  bool Download(std::uint64_t expected, ProgressLog& log, std::wstring& message) {
    return DownloadToFile(url, destination, expected, cancel, log.Callback(), &message);
  }

  static void ExpectReportsBounded(const std::vector<Report>& reports, std::uint64_t total) {
    std::uint64_t previous = 0;
    for (const auto& [done, reportedTotal] : reports) {
      EXPECT_EQ(reportedTotal, total);
      EXPECT_LE(done, total);
      EXPECT_GE(done, previous);
      previous = done;
    }
  }

  const std::string content = ReleaseServer::GeneratedBytes(0, kSize);
  const std::wstring url = server.LocalhostUrl(L"/packages/setup.exe");
  std::wstring folder;
  std::wstring destination;
  std::atomic<bool> cancel{false};
};

TEST_F(DownloadTest, FreshDownloadSendsNoRangeAndReportsEveryChunk) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize});
  ProgressLog log;
  std::wstring message = L"old";
  ASSERT_TRUE(Download(kSize, log, message));
  EXPECT_TRUE(message.empty());
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
  const auto reports = log.Reports();
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.front(), Report(0, kSize));
  EXPECT_EQ(reports.back(), Report(kSize, kSize));
  ExpectReportsBounded(reports, kSize);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].Header("Range").has_value());
  EXPECT_EQ(requests[0].Header("User-Agent"), "LUMWebBootstrapper/1.0");
}

TEST_F(DownloadTest, PartialFileIsResumedWithARange) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize});
  const std::uint64_t partial = 123457;
  test::WriteFileBytes(destination, content.substr(0, partial));
  ProgressLog log;
  std::wstring message;
  ASSERT_TRUE(Download(kSize, log, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
  const auto reports = log.Reports();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front(), Report(partial, kSize));
  EXPECT_EQ(reports.back(), Report(kSize, kSize));
  ExpectReportsBounded(reports, kSize);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Range"), "bytes=123457-");
}

TEST_F(DownloadTest, ServerIgnoringTheRangeRewritesFromTheStart) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize, .ignoreRange = true});
  test::WriteFileBytes(destination, std::string(5000, 'x'));
  ProgressLog log;
  std::wstring message;
  ASSERT_TRUE(Download(kSize, log, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
  ASSERT_FALSE(log.Reports().empty());
  EXPECT_EQ(log.Reports().front(), Report(0, kSize));
  EXPECT_EQ(server.Requests().at(0).Header("Range"), "bytes=5000-");
}

TEST_F(DownloadTest, UnrequestedPartialAnswerRewritesALargerFile) {
  // A file larger than expected is not resumed; a 206 to a request without a range counts as
  // the whole file.
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize, .force206 = true});
  test::WriteFileBytes(destination, std::string(kSize + 10, 'x'));
  ProgressLog log;
  std::wstring message;
  ASSERT_TRUE(Download(kSize, log, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
  EXPECT_EQ(log.Reports().front(), Report(0, kSize));
  EXPECT_FALSE(server.Requests().at(0).Header("Range").has_value());
}

TEST_F(DownloadTest, RangePastTheServersFileKeepsThePartialFile) {
  // The server's copy is shorter than the partial file: it answers 416.
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = 1000});
  const std::string partial = content.substr(0, 2000);
  test::WriteFileBytes(destination, partial);
  ProgressLog log;
  std::wstring message;
  EXPECT_FALSE(Download(kSize, log, message));
  EXPECT_EQ(message, kBadStatus);
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), partial));
  EXPECT_TRUE(log.Reports().empty());
  EXPECT_EQ(server.Requests().at(0).Header("Range"), "bytes=2000-");
}

TEST_F(DownloadTest, OtherStatusesLeaveTheFileAlone) {
  const int plainPort = server.OpenListener("plain");
  ASSERT_NE(plainPort, 0);
  const RouteOptions cases[] = {
      {.body = "missing", .status = 404},
      {.body = "error", .status = 500},
      {.status = 204},
      // Not followed to plain HTTP. Windows hands the 302 back; Wine fails the receive instead.
      {.redirect = "http://127.0.0.1:" + std::to_string(plainPort) + "/packages/setup.exe"},
  };
  const std::string partial = content.substr(0, 777);
  for (const RouteOptions& response : cases) {
    test::WriteFileBytes(destination, partial);
    server.AddRoute("/packages/setup.exe", response);
    ProgressLog log;
    std::wstring message;
    EXPECT_FALSE(Download(kSize, log, message)) << response.status.value_or(302);
    if (response.redirect.empty()) {
      EXPECT_EQ(message, kBadStatus);
    } else {
      EXPECT_TRUE(message == kBadStatus || message == L"网络请求失败")
          << testing::PrintToString(message);
    }
    EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), partial));
  }
  for (const auto& r : server.Requests()) EXPECT_EQ(r.listener, "main");
}

TEST_F(DownloadTest, BodyLongerThanExpectedFailsAndTheNextCallStartsOver) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize, .extraBytes = 1});
  ProgressLog log;
  std::wstring message;
  EXPECT_FALSE(Download(kSize, log, message));
  EXPECT_EQ(message, kSizeMismatch);
  EXPECT_EQ(test::ReadFileBytes(destination).size(), kSize + 1);
  ExpectReportsBounded(log.Reports(), kSize);

  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize});
  ProgressLog second;
  ASSERT_TRUE(Download(kSize, second, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
  EXPECT_EQ(second.Reports().front(), Report(0, kSize));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[1].Header("Range").has_value());
}

TEST_F(DownloadTest, EarlyCloseKeepsTheBytesAndTheNextCallResumes) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize, .closeAfter = 100000});
  ProgressLog log;
  std::wstring message;
  EXPECT_FALSE(Download(kSize, log, message));
  EXPECT_TRUE(message == kIncomplete || message == kReadFailed) << testing::PrintToString(message);
  const std::string kept = test::ReadFileBytes(destination);
  ASSERT_GT(kept.size(), 0u);
  ASSERT_LE(kept.size(), 100000u);
  EXPECT_TRUE(SameBytes(kept, content.substr(0, kept.size())));
  EXPECT_EQ(log.Reports().back().first, kept.size());

  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize});
  ProgressLog second;
  ASSERT_TRUE(Download(kSize, second, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
  EXPECT_EQ(second.Reports().front(), Report(kept.size(), kSize));
  EXPECT_EQ(server.Requests().at(1).Header("Range"), "bytes=" + std::to_string(kept.size()) + "-");
}

TEST_F(DownloadTest, ShortBodyIsIncomplete) {
  // The server's copy is shorter than announced and says so honestly.
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize - 1});
  ProgressLog log;
  std::wstring message;
  EXPECT_FALSE(Download(kSize, log, message));
  EXPECT_EQ(message, kIncomplete);
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content.substr(0, kSize - 1)));
}

TEST_F(DownloadTest, CompleteFileMakesNoRequest) {
  const std::string existing(kSize, 'z');  // content is not this layer's business
  test::WriteFileBytes(destination, existing);
  ProgressLog log;
  std::wstring message = L"old";
  ASSERT_TRUE(Download(kSize, log, message));
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(log.Reports(), std::vector<Report>{Report(kSize, kSize)});
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), existing));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DownloadTest, CancelFromTheProgressCallbackStopsBeforeTheNextRead) {
  const std::uint64_t size = 4 * 1024 * 1024;
  server.AddRoute("/packages/setup.exe",
                  RouteOptions{.generate = size, .trickleChunk = 16384, .trickleDelay = 0.05});
  ProgressLog log;
  std::size_t reportsAtCancel = 0;
  log.onReport = [&, count = std::make_shared<std::size_t>(0)](std::uint64_t done) {
    ++*count;
    if (done > 0 && !cancel.load()) {
      cancel.store(true);
      reportsAtCancel = *count;
    }
  };
  std::wstring message;
  EXPECT_FALSE(Download(size, log, message));
  EXPECT_EQ(message, kCancelled);
  const auto reports = log.Reports();
  EXPECT_EQ(reports.size(), reportsAtCancel);
  ASSERT_FALSE(reports.empty());
  const std::string kept = test::ReadFileBytes(destination);
  EXPECT_EQ(kept.size(), reports.back().first);
  EXPECT_TRUE(SameBytes(kept, ReleaseServer::GeneratedBytes(0, kept.size())));
}

TEST_F(DownloadTest, CancelFromAnotherThreadStopsWithinOneRead) {
  const std::uint64_t size = 4 * 1024 * 1024;
  server.AddRoute("/packages/setup.exe",
                  RouteOptions{.generate = size, .trickleChunk = 8192, .trickleDelay = 0.05});
  ProgressLog log;
  std::size_t reportsAtCancel = 0;
  std::size_t count = 0;
  std::atomic<bool> started{false};
  log.onReport = [&](std::uint64_t done) {
    ++count;
    if (done > 0) started.store(true);
  };
  std::thread canceller([&] {
    while (!started.load()) std::this_thread::yield();
    std::lock_guard lock(log.mutex);
    reportsAtCancel = count;
    cancel.store(true);
  });
  std::wstring message;
  const bool result = Download(size, log, message);
  canceller.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(message, kCancelled);
  const auto reports = log.Reports();
  EXPECT_LE(reports.size(), reportsAtCancel + 1);
  const std::string kept = test::ReadFileBytes(destination);
  EXPECT_EQ(kept.size(), reports.back().first);
  EXPECT_LT(kept.size(), size);
  EXPECT_TRUE(SameBytes(kept, ReleaseServer::GeneratedBytes(0, kept.size())));
}

TEST_F(DownloadTest, ASlowServerIsReadAsItsBytesArrive) {
  // A kilobyte every fifth of a second: filling one whole buffer would take over 10 s.
  server.AddRoute("/packages/setup.exe",
                  RouteOptions{.generate = kSize, .trickleChunk = 1000, .trickleDelay = 0.2});
  ProgressLog log;
  std::atomic<bool> started{false};
  log.onReport = [&](std::uint64_t done) {
    if (done > 0) started.store(true);
  };
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&] {
    while (!started.load()) std::this_thread::yield();
    cancelledAt = std::chrono::steady_clock::now();
    cancel.store(true);
  });
  std::wstring message;
  EXPECT_FALSE(Download(kSize, log, message));
  const auto end = std::chrono::steady_clock::now();
  canceller.join();
  EXPECT_EQ(message, kCancelled);
  EXPECT_LT(cancelledAt - start, std::chrono::seconds(3)) << "the first bytes were not reported";
  EXPECT_LT(end - cancelledAt, std::chrono::seconds(2)) << "the cancel was not seen";
}

// A resumed request carries the validator of the bytes held: the same file continues (206), a
// changed one comes whole (200) and the file starts again; a 206 that does not continue at the
// offset or names another size is refused and leaves the file alone.
TEST_F(DownloadTest, ResumeIsCheckedAgainstTheServersFile) {
  const std::string partial = content.substr(0, 1000);
  const auto refused = [](const char* range) {
    return RouteOptions{.generate = kSize, .status = 206, .headers = {{"Content-Range", range}}};
  };
  // The response, and the validator afterwards (the file is complete when it changed).
  const std::pair<RouteOptions, std::wstring> cases[] = {
      {{.generate = kSize, .etag = "\"v1\""}, L"\"v1\""},
      {{.generate = kSize, .etag = "\"v2\""}, L"\"v2\""},
      {refused("bytes 0-299999/300000"), L""},
      {refused("bytes 1000-299999/300001"), L""},
  };
  for (const auto& [route, validatorAfter] : cases) {
    SCOPED_TRACE(testing::PrintToString(validatorAfter));
    server.Reset();
    server.AddRoute("/packages/setup.exe", route);
    test::WriteFileBytes(destination, partial);
    KernelHandle file(CreateFileW(destination.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::wstring validator = L"\"v1\"";
    std::wstring message;
    const bool done = !validatorAfter.empty();
    EXPECT_EQ(DownloadFromUrls({url}, file.Get(), kSize, validator, cancel, {}, message), done);
    file.Reset();
    EXPECT_EQ(validator, done ? validatorAfter : L"\"v1\"");
    EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), done ? content : partial));
    EXPECT_EQ(message.rfind(done ? L"" : L"下载服务器返回的内容范围不符：", 0), 0u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=1000-");
    EXPECT_EQ(requests[0].Header("If-Range"), "\"v1\"");
  }
}

TEST_F(DownloadTest, MissingCacheFoldersAreCreated) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize});
  // Below a user folder whose name is not ASCII, as the local application data folder can be.
  destination = folder + L"\\用户 张三\\VIVOV3\\InstallerCache/VIVOV3_Setup_x64.exe";
  ProgressLog log;
  std::wstring message;
  ASSERT_TRUE(Download(kSize, log, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), content));
}

TEST_F(DownloadTest, FolderThatCannotExistFailsBeforeAnyRequest) {
  test::WriteFileBytes(folder + L"\\blocker", "a file, not a folder");
  for (const std::wstring& path : {folder + L"\\blocker\\cache\\VIVOV3_Setup_x64.exe",
                                   std::wstring(L"VIVOV3_Setup_x64.exe")}) {
    destination = path;
    ProgressLog log;
    std::wstring message;
    EXPECT_FALSE(Download(kSize, log, message)) << testing::PrintToString(path);
    EXPECT_EQ(message, kNoFolder);
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DownloadTest, DestinationThatCannotBeWrittenFails) {
  server.AddRoute("/packages/setup.exe", RouteOptions{.generate = kSize});
  destination = folder + L"\\taken";
  std::filesystem::create_directories(std::filesystem::path(destination));
  ProgressLog log;
  std::wstring message;
  EXPECT_FALSE(Download(kSize, log, message));
  EXPECT_EQ(message, kCannotOpen);
  EXPECT_TRUE(log.Reports().empty());
}

TEST_F(DownloadTest, TransportFailuresPassTheirMessageOn) {
  test::WriteFileBytes(destination, "partial");
  ProgressLog log;
  std::wstring message;
  const std::wstring plain = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/x.exe";
  EXPECT_FALSE(DownloadToFile(plain, destination, kSize, cancel, log.Callback(), &message));
  EXPECT_EQ(message, L"下载地址必须使用 HTTPS");
  const std::wstring closed =
      L"https://127.0.0.1:" + std::to_wstring(test::ClosedLoopbackPort()) + L"/x.exe";
  EXPECT_FALSE(DownloadToFile(closed, destination, kSize, cancel, log.Callback(), &message));
  EXPECT_EQ(message, L"网络请求失败");
  EXPECT_FALSE(DownloadToFile(url, destination, kSize, cancel, log.Callback(), nullptr));
  EXPECT_EQ(test::ReadFileBytes(destination), "partial");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(server.Connections().count, 0);
}

// Large files over several connections, into a file held as the installer holds it. written must
// see the file's bytes in order, each once, and right.
class SegmentedTest : public DownloadTest {
 protected:
  bool Pass(const std::vector<std::wstring>& urls, ProgressLog& log, std::wstring& message) {
    KernelHandle file(CreateFileW(destination.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                                  nullptr));
    UrlPassCallbacks callbacks{.progress = log.Callback()};
    callbacks.written = [&](std::uint64_t offset, const char* data, DWORD size) {
      EXPECT_EQ(offset, next);
      EXPECT_TRUE(offset + size <= kLarge && std::memcmp(data, large.data() + offset, size) == 0);
      next = offset + size;
      if (onWritten) onWritten(file.Get());
    };
    callbacks.urlFailed = [&](const std::wstring&, const std::wstring& why,
                              const TransferFailure&) {
      failures.push_back(why);
      failedAt = next;
      LARGE_INTEGER held{};
      EXPECT_TRUE(GetFileSizeEx(file.Get(), &held) && held.QuadPart == LONGLONG(next));
    };
    return DownloadFromUrls(urls, file.Get(), kLarge, validator, cancel, callbacks, message);
  }

  static constexpr std::uint64_t kLarge = kSegmentThreshold + 100003;  // parts off the buffers
  const std::string large = ReleaseServer::GeneratedBytes(0, kLarge);
  const std::string path = "/packages/setup.exe";
  const RouteOptions whole{.generate = kLarge, .etag = "\"v1\""};
  const RouteOptions slow{
      .generate = kLarge, .trickleChunk = 16384, .trickleDelay = 0.04, .etag = "\"v1\""};
  std::uint64_t next = 0;
  std::uint64_t failedAt = 0;
  std::wstring validator;
  std::vector<std::wstring> failures;
  std::function<void(HANDLE)> onWritten;
};

// A first connection that is quick for its line goes alone. One that is slow gets helpers, which
// ask for closed ranges with the first response's validator: a server that serves them gets
// several connections; one that ignores Range or answers another range drops the helpers, and
// the first connection fetches the whole file.
TEST_F(SegmentedTest, HelpersOnlyForASlowConnectionAndOnlyWithTheRangeTheyAskedFor) {
  // Slow for its first 1.25 MiB (over three seconds), long enough for its pace to be judged.
  RouteOptions opening = slow;
  opening.trickleUntil = 1280 * 1024;
  RouteOptions routes[] = {whole, whole, whole, whole};
  routes[2].ignoreRange = routes[3].wrongRange = true;
  for (const RouteOptions& route : routes) {
    const bool alone = &route == &routes[0];
    server.Reset();
    server.AddRouteSequence(path, {alone ? whole : opening, route});
    std::filesystem::remove(std::filesystem::path(destination));
    next = 0;
    validator.clear();
    ProgressLog log;
    std::wstring message;
    ASSERT_TRUE(Pass({url}, log, message)) << testing::PrintToString(message);
    EXPECT_EQ(next, kLarge);
    EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), large));
    ExpectReportsBounded(log.Reports(), kLarge);
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), alone ? 1u : 4u);
    EXPECT_FALSE(requests[0].Header("Range").has_value());
    EXPECT_TRUE(!alone || requests.size() == 1u) << "helpers for a quick connection";
    EXPECT_TRUE(&route == &routes[1] || requests.size() <= 4u);  // the helpers dropped
    for (std::size_t i = 1; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].Header("If-Range"), "\"v1\"");
      EXPECT_NE(requests[i].Header("Range").value_or("-").back(), '-');
    }
  }
}

TEST_F(SegmentedTest, DroppedHelperFailsItsUrlAndTheNextContinuesTheContiguousBytes) {
  // The first connection slow, so that the first helper's part is its own when its connection
  // drops midway.
  RouteOptions dropped = whole;
  dropped.closeAfter = 300000;
  server.AddRouteSequence(path, {slow, dropped, whole});
  ProgressLog log;
  std::wstring message;
  ASSERT_TRUE(Pass({url, server.LoopbackUrl(L"/packages/setup.exe")}, log, message));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_TRUE(failures[0] == kIncomplete || failures[0] == kReadFailed);
  EXPECT_LT(failedAt, kLarge / 4) << "the first connection did not stop with the helper";
  EXPECT_EQ(next, kLarge);
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), large));
  ExpectReportsBounded(log.Reports(), kLarge);
}

// The connections that are done take over halves of a slow one's part. The first connection slow
// too, so that the first helper's part is surely its own.
TEST_F(SegmentedTest, SlowPartIsSharedByTheConnectionsThatAreDone) {
  server.AddRouteSequence(path, {slow, slow, whole});
  ProgressLog log;
  std::wstring message;
  ASSERT_TRUE(Pass({url}, log, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), large));
  const auto requests = server.Requests();
  ASSERT_GT(requests.size(), 4u);
  const std::string slowRange = requests[1].Header("Range").value_or("");
  const std::string last = slowRange.substr(slowRange.find('-'));
  EXPECT_TRUE(std::any_of(requests.begin() + 4, requests.end(), [&](const auto& r) {
    const std::string range = r.Header("Range").value_or("");
    return range.ends_with(last) && range > slowRange;
  }));
}

// Cancelled at a moment when parts ran ahead of the contiguous bytes: the file keeps what
// written saw. A run ended at that moment instead leaves the parts ahead and a record of what
// written saw; the next run cuts the file there and continues.
TEST_F(SegmentedTest, CancelKeepsTheContiguousBytesAndARestartContinuesThem) {
  server.AddRoute(path, slow);
  std::string snapshot;
  std::uint64_t vouched = 0;
  std::chrono::steady_clock::time_point cancelledAt;
  onWritten = [&](HANDLE file) {
    LARGE_INTEGER size{};  // past what written saw: parts ran ahead
    if (cancel.load() || !GetFileSizeEx(file, &size) || std::uint64_t(size.QuadPart) <= next)
      return;
    snapshot = test::ReadFileBytes(destination);
    vouched = next;
    cancelledAt = std::chrono::steady_clock::now();
    cancel.store(true);
  };
  ProgressLog log;
  std::wstring message;
  EXPECT_FALSE(Pass({url}, log, message));
  EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, std::chrono::seconds(1));
  EXPECT_EQ(message, kCancelled);
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), large.substr(0, next)));
  ASSERT_GT(snapshot.size(), vouched);
  EXPECT_TRUE(SameBytes(snapshot.substr(0, vouched), large.substr(0, vouched)));

  test::WriteFileBytes(destination, snapshot.substr(0, vouched));
  next = vouched;
  cancel.store(false);
  onWritten = nullptr;
  server.AddRoute(path, whole);
  ASSERT_TRUE(Pass({url}, log, message));
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(destination), large));
  const auto requests = server.Requests();
  const std::string range = "bytes=" + std::to_string(vouched) + "-";
  EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [&](const auto& r) {
    return r.Header("Range") == range && r.Header("If-Range") == "\"v1\"";
  }));
}

}  // namespace
}  // namespace lum::installer
