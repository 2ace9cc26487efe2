#include "platform/http.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/tests/http_getter_cases.h"

namespace torvo {
namespace {

std::unique_ptr<HttpGetter> MakeClient(const HttpTimeouts& timeouts) { return std::make_unique<HttpClient>(timeouts); }

TEST(HttpClient, StatusBodyAndLimits) { testing::ExpectStatusBodyAndLimits(MakeClient); }

TEST(HttpClient, ACompressedReplyCutShortIsATransportFailure) {
  testing::ExpectACompressedReplyCutShortIsATransportFailure(MakeClient);
}

TEST(HttpClient, NoServerIsATransportFailure) { testing::ExpectNoServerIsATransportFailure(MakeClient); }

}  // namespace
}  // namespace torvo
