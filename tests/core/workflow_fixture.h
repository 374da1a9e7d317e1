// Whole installation runs: the real controller, WinHTTP against the release server, the real
// signed NSIS package, the stand-in application and the prefix's registry.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/installer_controller.h"
#include "system/process_control.h"
#include "tests/support/manifest_builder.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/release_server.h"
#include "tests/support/run_recorder.h"
#include "tests/support/test_env.h"
#include "tests/support/unix_side.h"

namespace lum::installer {

inline constexpr char kManifestPath[] = "/storage/manifest.json";
inline constexpr char kPackagePath[] = "/packages/VIVOV3_Setup_x64.exe";
inline constexpr char kMetricsPath[] = "/metrics/report/";

class WorkflowTest : public testing::Test {
 protected:
  void SetUp() override {
    server.Reset();
    RemoveCacheFolders();
    installRoot = test::FreshScratchDirectory(L"workflow");
    installDirectory = installRoot + L"\\Lumora Target Folder";
    options.installDirectory = installDirectory;
    options.desktopShortcut = true;
    options.startMenuShortcut = false;
  }

  void TearDown() override {
    controller.reset();
    TerminateApplication(kApplicationExeName);
    TerminateApplication(kPackageFileName);
    RemoveCacheFolders();
  }

  // The working folder, a link there removed as a link.
  static void RemoveCacheFolders() { test::RemoveWithoutFollowing(CacheDirectory()); }

  void Serve(const test::Package& package, const test::RouteOptions& packageRoute = {}) {
    test::ReleaseServer::WriteServedFile("VIVOV3_Setup_x64.exe", package.bytes);
    test::RouteOptions manifest;
    manifest.body = test::ManifestFor(server, package);
    server.AddRoute(kManifestPath, manifest, "GET");
    test::RouteOptions route = packageRoute;
    if (!route.file && !route.body && !route.generate) route.file = "VIVOV3_Setup_x64.exe";
    server.AddRoute(kPackagePath, route, "GET");
  }

  // An empty manifestUrl is the release server's manifest.
  void Start(const std::wstring& channel = L"baidu2", const std::wstring& manifestUrl = L"") {
    controller = std::make_unique<InstallerController>(
        channel, manifestUrl.empty() ? server.LocalhostUrl(L"/storage/manifest.json") : manifestUrl,
        [this](const InstallerStatus& s) { recorder.OnStatus(s); },
        [this](ConfirmationKind kind) { return recorder.OnConfirm(kind); });
    controller->StartInstall(options);
  }

  std::vector<std::string> MetricsBodies() {
    std::vector<std::string> bodies;
    for (const auto& request : server.Requests()) {
      if (request.path == kMetricsPath) bodies.push_back(request.body);
    }
    return bodies;
  }

  int PackageRequests() {
    int count = 0;
    for (const auto& request : server.Requests()) count += request.path == kPackagePath;
    return count;
  }

  std::string Log() { return test::ReadFileBytes(JoinPath(CacheDirectory(), kLogFileName)); }
  std::wstring CachedPackage() { return JoinPath(CacheDirectory(), kPackageFileName); }

  void PutInCache(const std::string& bytes) { test::WriteFileBytes(CachedPackage(), bytes); }

  test::ReleaseServer server;
  test::UninstallEntry registry;
  test::RunRecorder recorder;
  std::unique_ptr<InstallerController> controller;
  InstallOptions options;
  std::wstring installRoot;
  std::wstring installDirectory;
};

}  // namespace lum::installer
