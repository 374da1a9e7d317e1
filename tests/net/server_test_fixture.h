// Fixture of the network suites: a clean release server before each test, and no request
// without a route after it.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/release_server.h"

namespace lum::test {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { server.Reset(); }
  void TearDown() override {
    for (const RecordedRequest& r : server.UnexpectedRequests()) {
      ADD_FAILURE() << "unexpected request " << r.method << " " << r.path;
    }
  }

  ReleaseServer server;
};

}  // namespace lum::test
