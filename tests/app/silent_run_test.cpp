// The shipped program's silent run as a deployment tool sees it: the real executable started
// with its switches against the release server, judged by its exit code, the package's record,
// the registry, the log and the windows it shows (none).
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/silent_run.h"
#include "base/text.h"
#include "system/install_location.h"
#include "system/manifest_sequence.h"
#include "system/process_identity.h"
#include "tests/core/workflow_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/demo_app_process.h"
#include "tests/support/package_record.h"

namespace lum::installer {
namespace {

using test::LoadPackage;
using test::RouteOptions;

constexpr DWORD kRunTimeoutMs = 90000;

std::wstring SetupPath() { return test::OwnDirectory() + L"\\..\\app\\LumoraWebSetup.exe"; }

bool HasVisibleWindow(DWORD processId) {
  struct Search {
    DWORD processId;
    bool found;
  } search{processId, false};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->processId && IsWindowVisible(window)) s->found = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class SilentRunTest : public WorkflowTest {
 protected:
  // Runs the program with this raw argument text to its end; no window may show meanwhile.
  DWORD RunSetup(const std::wstring& arguments, DWORD timeoutMs = kRunTimeoutMs) {
    test::ChildProcess setup;
    if (!setup.Start(SetupPath(), arguments)) {
      ADD_FAILURE() << "not started (" << GetLastError() << "): " << WideToUtf8(arguments);
      return 0xFFFFFFFF;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      EXPECT_FALSE(HasVisibleWindow(setup.Id())) << WideToUtf8(arguments);
      if (const auto code = setup.Wait(50)) return *code;
    }
    ADD_FAILURE() << "still running: " << WideToUtf8(arguments);
    return 0xFFFFFFFF;
  }

  std::vector<std::string> WorkflowEvents() {
    std::vector<std::string> events;
    const std::string key = "\"event\":\"";
    for (const std::string& body : MetricsBodies()) {
      const std::size_t at = body.find(key);
      if (at == std::string::npos) continue;
      const std::size_t from = at + key.size();
      const std::string event = body.substr(from, body.find('"', from) - from);
      if (event != "web_install_open") events.push_back(event);
    }
    return events;
  }
};

TEST_F(SilentRunTest, WholeInstallationShowsNoWindowAndFollowsTheSwitches) {
  RouteOptions slow;  // long enough for the window checks to see the download
  slow.trickleChunk = 65536;
  slow.trickleDelay = 0.05;
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"), slow);
  const std::wstring copy = installRoot + L"\\admin logs.txt";
  // Mixed case, a quoted switch with blanks, and the folder unquoted with blanks, last.
  const std::wstring switches =
      L"/s /NoDesktopShortcut /NOSTARTMENUSHORTCUT \"/LOG=" + copy + L"\" /D=" + installDirectory;
  EXPECT_EQ(RunSetup(switches), 0u);

  const test::PackageRecord record = test::ReadPackageRecord(installDirectory);
  EXPECT_EQ(record.parameters,
            L"/S /CHANNEL=" LUM_TEST_CHANNEL L" /DESKTOP_SHORTCUT=0 /START_MENU_SHORTCUT=0");
  EXPECT_EQ(record.installDirectory, installDirectory);
  const InstalledApplication installed = FindInstalledApplication();
  EXPECT_TRUE(installed.found);
  EXPECT_EQ(installed.displayVersion, L"2.0.0");
  EXPECT_EQ(installed.installLocation, installDirectory);

  const std::string log = Log();
  const std::string mode =
      " [install] mode=silent switches=/S /NODESKTOPSHORTCUT "
      "/NOSTARTMENUSHORTCUT /LOG=" +
      WideToUtf8(copy) + " /D=" + WideToUtf8(installDirectory) + "\r\n";
  const std::size_t firstEnd = log.find("\r\n") + 2;
  EXPECT_EQ(log.substr(19, firstEnd - 19), mode) << log;
  EXPECT_TRUE(std::regex_match(log.substr(firstEnd),
                               std::regex(R"([0-9: -]{19} \[complete\] elapsed_seconds=\d+\r\n)")))
      << log;
  EXPECT_EQ(test::ReadFileBytes(copy), log) << "the administrator's copy has every line";
  EXPECT_EQ(WorkflowEvents(),
            (std::vector<std::string>{"web_install_download_start", "web_install_download_success",
                                      "web_install_verify_success", "web_install_start",
                                      "web_install_success"}));
  EXPECT_FALSE(test::PathExists(CachedPackage()));
}

TEST_F(SilentRunTest, FailuresEndWithTheirOwnCodes) {
  const struct {
    const char* name;
    std::function<void()> serve;
    const wchar_t* switches;  // the install folder follows
    DWORD exitCode;
  } cases[] = {
      {"manifest server unavailable",
       [this] {
         RouteOptions unavailable;
         unavailable.status = 503;
         server.AddRoute(kManifestPath, unavailable);
       },
       L"/S", 20001},
      {"package server refusing connections",
       [this] {
         std::string manifest = test::ManifestFor(server, LoadPackage(L"VIVOV3_Setup_x64.exe"));
         const std::string from = ":" + std::to_string(server.Port()) + "/packages/";
         manifest.replace(manifest.find(from), from.size(),
                          ":" + std::to_string(test::ClosedLoopbackPort()) + "/packages/");
         RouteOptions route;
         route.body = manifest;
         server.AddRoute(kManifestPath, route);
       },
       L"/S", 20005},
      {"package of another signer", [this] { Serve(LoadPackage(L"verify\\other.exe")); }, L"/S",
       20004},
      {"package exit code 2", [this] { Serve(LoadPackage(L"VIVOV3_Setup_x64_exit2.exe")); }, L"/S",
       112},
      {"package exit code 3", [this] { Serve(LoadPackage(L"VIVOV3_Setup_x64_exit3.exe")); }, L"/S",
       1603},
      {"unknown switch", [] {}, L"/S /QUIET", 1639},
      {"folder switch without a folder", [] {}, L"/S /D= ", 1639},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Reset();
    RemoveCacheFolders();
    c.serve();
    const std::wstring folder = c.exitCode == 1639 ? L"" : L" /D=" + installDirectory;
    EXPECT_EQ(RunSetup(c.switches + folder), c.exitCode);
    EXPECT_FALSE(FindInstalledApplication().found);
    if (c.exitCode == 1639) {
      EXPECT_TRUE(server.Requests().empty()) << "a refused command line does nothing";
      EXPECT_FALSE(test::PathExists(JoinPath(CacheDirectory(), kLogFileName)));
    }
  }
}

// Only the application's own copies count, those running from its folders (here the folder being
// installed to): a lumora.exe elsewhere neither stops a silent run nor is ended by it. The first
// run also has its /LOG= copy in a folder that is a link: nothing is written through it, and the
// installation goes on.
TEST_F(SilentRunTest, OnlyTheApplicationsOwnCopyIsClosedAndOnlyWhenForced) {
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
  test::DemoAppProcess namesake;
  ASSERT_TRUE(namesake.Start(test::CopyDemoApp(installRoot + L"\\elsewhere", L"lumora.exe"),
                             L"--ignore-close"));
  const std::wstring target = installRoot + L"\\log target";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  test::SymbolicLink(target, installRoot + L"\\logs");
  // The next test's fresh scratch folder would stumble over the link: it goes, whatever happens.
  const struct Unlink {
    std::wstring link;
    ~Unlink() { test::RemoveWithoutFollowing(link); }
  } unlink{installRoot + L"\\logs"};
  const std::wstring copy = installRoot + L"\\logs\\copy.log";
  EXPECT_EQ(RunSetup(L"/S \"/LOG=" + copy + L"\" /D=" + installDirectory), 0u);
  EXPECT_TRUE(namesake.IsRunning());
  EXPECT_FALSE(test::PathExists(target + L"\\copy.log")) << "made through the link, or left";
  EXPECT_NE(Log().find("[install] log copy not written: " + WideToUtf8(copy) + " leads to "),
            std::string::npos)
      << Log();

  // The installed application's own copy, ignoring the request to close.
  test::DemoAppProcess app;
  ASSERT_TRUE(app.Start(JoinPath(installDirectory, kApplicationExeName), L"--ignore-close"));
  // No one to ask: it fails at once instead of waiting for an answer.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunSetup(L"/S /D=" + installDirectory, 30000), 20006u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(app.IsRunning());

  // Asked to close, ignoring it, terminated after the wait; the namesake is left alone.
  EXPECT_EQ(RunSetup(L"/S /FORCECLOSEAPPLICATIONS /D=" + installDirectory), 0u);
  DWORD exitCode = 0;
  EXPECT_TRUE(app.WaitForExit(1000, exitCode));
  EXPECT_EQ(exitCode, 1u);
  EXPECT_TRUE(namesake.IsRunning());
  EXPECT_TRUE(FindInstalledApplication().found);
}

TEST_F(SilentRunTest, SecondStartWhileASilentRunIsBusy) {
  RouteOptions slow;  // a download of several seconds
  slow.trickleChunk = 16384;
  slow.trickleDelay = 0.05;
  Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"), slow);
  test::ChildProcess first;
  ASSERT_TRUE(first.Start(SetupPath(), L"/S /D=" + installDirectory));
  for (int i = 0; i < 300 && PackageRequests() == 0; ++i) Sleep(50);
  ASSERT_GT(PackageRequests(), 0);

  EXPECT_EQ(RunSetup(L"/S /D=" + installDirectory, 30000), 1618u);
  // A windowed second start finds no window to raise and ends as it always did.
  test::ChildProcess windowed;
  ASSERT_TRUE(windowed.Start(SetupPath()));
  EXPECT_EQ(windowed.Wait(30000), 0u);
  EXPECT_FALSE(HasVisibleWindow(first.Id()));
  EXPECT_EQ(first.Wait(kRunTimeoutMs), 0u);
  EXPECT_EQ(PackageRequests(), 1);
}

// A proxy an administrator names takes every request: the test bed's squid, named by the policy
// value or /PROXY= (which comes first), shows the tunnels in its access log; a proxy that is not
// there ends the run as a network failure that the log puts down to the proxy.
TEST_F(SilentRunTest, NamedProxyFromThePolicyOrTheSwitch) {
  const std::wstring squid = test::TestEnv(L"LUM_TEST_PROXY");
  const std::wstring nowhere = L"127.0.0.1:" + std::to_wstring(test::ClosedLoopbackPort());
  // The package's tunnel: hundreds of kilobytes.
  const std::regex tunnel("TCP_TUNNEL/200 [0-9]{6,} CONNECT localhost:" +
                          std::to_string(server.Port()));
  const auto tunnels = [&tunnel] {
    const std::string log = test::ReadFileBytes(test::TestEnv(L"LUM_TEST_PROXY_LOG"));
    return std::distance(std::sregex_iterator(log.begin(), log.end(), tunnel), {});
  };
  const wchar_t* key = L"SOFTWARE\\Policies\\Lumora\\WebSetup";
  const struct {
    std::wstring policy;
    std::wstring proxySwitch;
    DWORD exitCode;
    std::string logLine;
  } cases[] = {
      {squid, L"", 0,
       "[install] proxy=" + WideToUtf8(squid) + " (HKLM\\" + WideToUtf8(key) + "\\ProxyServer)"},
      {squid, nowhere, 20001,
       "[manifest] 获取安装配置失败：网络请求失败，经代理服务器 " + WideToUtf8(nowhere) +
           " 失败，WinHTTP 12029，已收到 0 字节"},
      {L"", squid, 0, "[install] proxy=" + WideToUtf8(squid) + " (/PROXY=)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logLine);
    server.Reset();
    RemoveCacheFolders();
    Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    ASSERT_TRUE(c.policy.empty() ||
                RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"ProxyServer", REG_SZ, c.policy.c_str(),
                                (c.policy.size() + 1) * sizeof(wchar_t)) == ERROR_SUCCESS);
    const auto before = tunnels();
    const std::wstring proxy = c.proxySwitch.empty() ? L"" : L" /PROXY=" + c.proxySwitch;
    EXPECT_EQ(RunSetup(L"/S" + proxy + L" /D=" + installDirectory), c.exitCode);
    EXPECT_NE(Log().find(c.logLine + "\r\n"), std::string::npos) << Log();
    if (c.exitCode != 0) continue;
    // squid writes a tunnel's line when it closes.
    for (int i = 0; i < 100 && tunnels() == before; ++i) Sleep(100);
    EXPECT_GT(tunnels(), before) << "no CONNECT in squid's access log";
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
}

// One installation at a time on the machine, whichever session: the test's own controller stands
// for the window of another session (Wine's one session would turn a second program away first).
TEST_F(SilentRunTest, OneInstallationAtATimeOnTheMachine) {
  const std::wstring release = L"C:\\lumora-package-release";  // the slow package waits for it
  const auto logShows = [this](const char* line) {
    for (int i = 0; i < 600 && Log().find(line) == std::string::npos; ++i) Sleep(50);
    return Log().find(line) != std::string::npos;
  };
  // The window's package runs: a silent run ends at once with 1618.
  DeleteFileW(release.c_str());
  Serve(LoadPackage(L"VIVOV3_Setup_x64_slow.exe"));
  Start();
  recorder.WaitFor([](const InstallerStatus& s) { return s.stage == InstallStage::Installing; });
  EXPECT_EQ(RunSetup(L"/S /D=" + installDirectory, 30000), 1618u);
  EXPECT_TRUE(logShows("[install] another installation is running on this computer: not started"));
  test::WriteFileBytes(release, "");
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  EXPECT_EQ(PackageRequests(), 1);

  // A silent run's package runs: the window's run waits on its progress page, then goes on.
  controller.reset();
  recorder.Clear();
  DeleteFileW(release.c_str());
  test::ChildProcess silent;
  ASSERT_TRUE(silent.Start(SetupPath(), L"/S /D=" + installDirectory));
  for (int i = 0; i < 600 && !IsApplicationRunning(kPackageFileName); ++i) Sleep(50);
  Start();
  EXPECT_TRUE(logShows("[install] another installation is running on this computer: waiting"));
  EXPECT_EQ(recorder.Statuses().back().status.stage, InstallStage::Preparing);
  EXPECT_EQ(PackageRequests(), 2) << "the silent run's download only";
  test::WriteFileBytes(release, "");
  EXPECT_EQ(silent.Wait(kRunTimeoutMs), 0u);
  EXPECT_EQ(recorder.WaitForEnd().stage, InstallStage::Completed);
  DeleteFileW(release.c_str());
}

// Each row ends at the manifest: 20002 when it is refused, 1638 when it is taken (the installed
// 9.0.0 stops it before any download). Every fetch of the manifest is followed by one of its
// signature; a failed signature check fetches both once more.
TEST_F(SilentRunTest, ManifestIsTakenOnlySignedAndNeverOlder) {
  registry.SetString(KEY_WOW64_64KEY, L"DisplayVersion", L"9.0.0");
  registry.SetString(KEY_WOW64_64KEY, L"InstallLocation", installDirectory);
  // The prefix is shared: the recorded sequence goes before and after.
  struct ForgetSequence {
    ForgetSequence() { Forget(); }
    ~ForgetSequence() { Forget(); }
    static void Forget() {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kManifestSequenceKey, kManifestSequenceValue);
    }
  } forgetSequence;
  const test::Package package = LoadPackage(L"VIVOV3_Setup_x64.exe");
  const auto manifest = [&](int sequence, const char* version = "2.0.0") {
    std::string body = test::ManifestFor(server, package, version);
    return body.replace(body.find("\"sequence\":1"), 12,
                        "\"sequence\":" + std::to_string(sequence));
  };
  const std::string signaturePath = std::string(kManifestPath) + ".sig";
  const auto serve = [&](const std::string& body, const std::vector<std::string>& signatures) {
    server.AddRoute(kManifestPath, RouteOptions{.body = body}, "GET");
    std::vector<RouteOptions> routes;
    for (const std::string& signature : signatures) routes.push_back({.body = signature});
    server.AddRouteSequence(signaturePath, routes, "GET");
  };
  const struct {
    const char* name;
    std::function<void()> serve;
    DWORD exitCode;
    int fetches;
    const char* detail;  // the [manifest] line after the refusal
  } cases[] = {
      {"changed after signing", [&] { serve(manifest(1, "2.0.1"), {server.Sign(manifest(1))}); },
       20002, 2,
       "安装配置签名校验失败：签名与内置的 2 个公钥（manifest.pub.pem、manifest-next.pub.pem）"
       "均不符（已重新获取一次）"},
      {"no signature",
       [&] {
         server.AddRoute(kManifestPath, RouteOptions{.body = manifest(1)}, "GET");
         server.AddRoute(signaturePath, RouteOptions{.status = 404}, "GET");
       },
       20002, 2, "安装配置签名校验失败：没有签名，HTTP 404（已重新获取一次）"},
      {"key not listed",
       [&] { serve(manifest(1), {server.Sign(manifest(1), "manifest-unlisted")}); }, 20002, 2,
       "安装配置签名校验失败：签名与内置的 2 个公钥（manifest.pub.pem、manifest-next.pub.pem）"
       "均不符（已重新获取一次）"},
      {"publish race: the new manifest (sequence 7) with the old signature, then both new",
       [&] {
         serve(manifest(7), {server.Sign(manifest(6)), server.Sign(manifest(7))});
       },
       1638, 2, ""},
      {"sequence 6 after 7", [&] { serve(manifest(6), {server.Sign(manifest(6))}); }, 20002, 1,
       "安装配置序号校验失败：序号 6 低于本机已接受的 7"},
      {"sequence 7 again, signed with the next key of a rotation",
       [&] { serve(manifest(7), {server.Sign(manifest(7), "manifest-next")}); }, 1638, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Reset();
    RemoveCacheFolders();
    c.serve();
    EXPECT_EQ(RunSetup(L"/S /D=" + installDirectory), c.exitCode);
    int manifests = 0, signatures = 0;
    for (const auto& request : server.Requests()) {
      manifests += request.path == kManifestPath;
      signatures += request.path == signaturePath;
    }
    EXPECT_EQ(manifests, c.fetches);
    EXPECT_EQ(signatures, c.fetches);
    EXPECT_EQ(PackageRequests(), 0);
    if (c.exitCode == 20002) {
      EXPECT_NE(Log().find(std::string("[manifest] ") + c.detail), std::string::npos) << Log();
    }
  }
}

// A chain that WinVerifyTrust accepts is still refused unless it holds the pinned signer CA (a
// second root the machine trusts, as a TLS-intercepting proxy's, issued a certificate in the
// publisher's exact name) or when a certificate is revoked; a revocation status that cannot be
// fetched is accepted. Wine's crypt32 fetches the revocation lists from the test bed's server.
TEST_F(SilentRunTest, PackageSignerIsPinnedAndNotRevoked) {
  const std::string root = test::ReadFileBytes(test::ArtifactPath(L"rogue-root.der"));
  const HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT trusted = nullptr;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(root.data()),
      static_cast<DWORD>(root.size()), CERT_STORE_ADD_REPLACE_EXISTING, &trusted));
  // Wine writes a registry store's changes when they are committed or the store is closed.
  ASSERT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr));
  const struct {
    const wchar_t* package;
    DWORD exitCode;
    const char* detail;
  } cases[] = {
      {L"VIVOV3_Setup_x64_rogue.exe", 20004,
       "[verify] 签名校验失败：证书链中没有固定的签名 CA（LUM_PACKAGE_SIGNER_CAS：「O=Lumora "
       "Test,CN=Lumora Test Code Signing CA」"},
      {L"VIVOV3_Setup_x64_revoked.exe", 20004,
       "[verify] 签名校验失败：证书已吊销：Velmont Harbor Network Technology Co., Ltd."},
      {L"VIVOV3_Setup_x64_revocation-offline.exe", 0,
       "[verify] 证书吊销状态无法检查（证书链状态 0x01000000），证书链含固定的签名 CA「O=Lumora "
       "Test,CN=Lumora Test Code Signing CA」"},
  };
  // Wine 8's cryptnet caches a revoked certificate's status as good after its first check
  // (later Wine caches the right one), so its cache goes before each run.
  CoTaskMemString lowAppData;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, lowAppData.Put()), S_OK);
  const std::string revocationCache =
      test::ShellPath(JoinPath(lowAppData.Get(), L"Microsoft\\CryptnetUrlCache"));
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.package));
    server.Reset();
    RemoveCacheFolders();
    test::RunShell("rm -rf '" + revocationCache + "'");
    Serve(LoadPackage(c.package));
    EXPECT_EQ(RunSetup(L"/S /D=" + installDirectory), c.exitCode);
    EXPECT_EQ(test::PathExists(JoinPath(installDirectory, test::kPackageRecordFile)),
              c.exitCode == 0)
        << "the package ran";
    EXPECT_NE(Log().find(c.detail), std::string::npos) << Log();
  }
  CertDeleteCertificateFromStore(trusted);
  CertCloseStore(store, 0);
}

// Under Wine every process runs as the logged-on user: the local system account's branch is
// reached through the run's own parameter, which the program fills from its token. The token
// check itself is IdentityTest below.
TEST_F(SilentRunTest, LaunchAfterASilentInstallationButNotAsSystem) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  GetDesktopWindow();  // Wine starts its desktop shell for the first user of the desktop
  CommandLine line;
  line.silent = true;
  line.launch = true;
  line.installDirectory = installDirectory;
  const std::wstring marker = JoinPath(installDirectory, test::kDefaultMarkerName);
  for (const bool asSystem : {true, false}) {
    SCOPED_TRACE(asSystem ? "as SYSTEM" : "as a user");
    RemoveCacheFolders();
    server.Reset();
    Serve(LoadPackage(L"VIVOV3_Setup_x64.exe"));
    SilentRunContext context;
    context.channel = L"baidu2";
    context.runningAsSystem = asSystem;
    EXPECT_EQ(RunSilentInstallation(line, context), 0u);
    EXPECT_EQ(WorkflowEvents().back(), "web_install_success") << "metrics are sent either way";
    const bool noted =
        Log().find("[install] running as SYSTEM: /LAUNCH ignored") != std::string::npos;
    EXPECT_EQ(noted, asSystem) << Log();
    EXPECT_EQ(test::WaitForFile(marker, asSystem ? 3000 : 30000), !asSystem);
  }
  TerminateApplication(kApplicationExeName);
  CoUninitialize();
}

TEST(IdentityTest, OnlyTheLocalSystemSidCountsAsSystem) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  const struct {
    WELL_KNOWN_SID_TYPE type;
    bool system;
  } cases[] = {{WinLocalSystemSid, true},
               {WinLocalServiceSid, false},
               {WinNetworkServiceSid, false},
               {WinBuiltinAdministratorsSid, false}};
  for (const auto& c : cases) {
    DWORD size = sizeof(sid);
    ASSERT_TRUE(CreateWellKnownSid(c.type, nullptr, sid, &size));
    EXPECT_EQ(IsLocalSystemSid(sid), c.system) << c.type;
  }
  EXPECT_FALSE(IsLocalSystemSid(nullptr));
  EXPECT_FALSE(IsRunningAsLocalSystem()) << "the test bed runs as the logged-on user";
}

// Starts the program without ChildProcess's pipes: in this process's console, or detached from
// any console with no standard handles at all.
KernelHandle StartSetup(const wchar_t* arguments, bool detached, DWORD& id) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (detached) startup.dwFlags = STARTF_USESTDHANDLES;  // all three null
  PROCESS_INFORMATION info{};
  std::wstring line = L"\"" + SetupPath() + L"\" " + arguments;
  if (!CreateProcessW(SetupPath().c_str(), line.data(), nullptr, nullptr, FALSE,
                      detached ? DETACHED_PROCESS : 0, nullptr, nullptr, &startup, &info)) {
    return {};
  }
  CloseHandle(info.hThread);
  id = info.dwProcessId;
  return KernelHandle(info.hProcess);
}

DWORD ExitCodeOf(const KernelHandle& process) {
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.Get(), 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), code);  // waiting for something: a message box?
  } else {
    GetExitCodeProcess(process.Get(), &code);
  }
  return code;
}

TEST(UsageTest, ToTheParentsConsoleItsOutputOrAMessageBox) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole()) << GetLastError();
  const KernelHandle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  DWORD id = 0;
  EXPECT_EQ(ExitCodeOf(StartSetup(L"/?", false, id)), 0u);
  CONSOLE_SCREEN_BUFFER_INFO buffer{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen.Get(), &buffer));
  std::wstring shown(static_cast<std::size_t>(buffer.dwSize.X) * buffer.dwSize.Y, L' ');
  DWORD read = 0;
  ASSERT_TRUE(ReadConsoleOutputCharacterW(screen.Get(), shown.data(),
                                          static_cast<DWORD>(shown.size()), {0, 0}, &read));
  FreeConsole();
  for (const wchar_t* part : {L"/S ", L"/D=<目录>", L"/NODESKTOPSHORTCUT", L"/NOSTARTMENUSHORTCUT",
                              L"/FORCECLOSEAPPLICATIONS", L"/LAUNCH", L"/LOG=<文件>",
                              L"代表用户接受用户协议、隐私政策和会员服务协议"}) {
    EXPECT_NE(shown.find(part), std::wstring::npos) << WideToUtf8(part);
  }

  // A silent start with a wrong switch, its output redirected: the reason, then the usage.
  test::ChildProcess wrong;
  ASSERT_TRUE(wrong.Start(SetupPath(), L"/S /x", true));
  const std::string refused = wrong.ReadOutput();
  EXPECT_EQ(wrong.Wait(30000), 1639u);
  EXPECT_EQ(refused.rfind("无法识别的参数：/x\r\n\r\n", 0), 0u) << refused;

  // Neither a console nor an output, in a windowed start: a message box.
  const KernelHandle boxed = StartSetup(L"/bogus", true, id);
  ASSERT_TRUE(boxed);
  HWND box = nullptr;
  for (int i = 0; i < 300 && box == nullptr; ++i, Sleep(100)) {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == id && IsWindowVisible(w)) box = w;
    }
  }
  ASSERT_NE(box, nullptr);
  wchar_t text[2048] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  EXPECT_EQ(std::wstring(text).rfind(L"无法识别的参数：/bogus", 0), 0u);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(ExitCodeOf(boxed), 1639u);
}

}  // namespace
}  // namespace lum::installer
