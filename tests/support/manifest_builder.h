// Packages, manifests and metrics bodies of whole-run tests.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/release_server.h"

namespace lum::test {

struct Package {
  std::string bytes;
  std::string sha256;
};

// A built package of the artifacts folder with its digest.
Package LoadPackage(const wchar_t* artifact);

// A manifest that offers package at the release server's package route for baidu2 and bing,
// with the package's own size unless size is given.
std::string ManifestFor(const ReleaseServer& server, const Package& package,
                        const std::string& version = "2.0.0", std::uint64_t size = 0);

// The body of a metrics event as the bootstrapper sends it, members ordered by name.
std::string MetricsBody(const std::string& event, const std::string& errorCode,
                        const std::string& channel = "baidu2");

}  // namespace lum::test
