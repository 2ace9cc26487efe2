// The GET through Qt Network answers as HttpClient does, and from a thread that started before
// the application object existed.
#include "platform/desktop/qt_http.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "platform/tests/http_getter_cases.h"

namespace torvo::desktop {
namespace {

std::unique_ptr<HttpGetter> MakeQtGetter(const HttpTimeouts& timeouts) { return std::make_unique<QtHttpGetter>(timeouts); }

TEST(QtHttpGetter, StatusBodyAndLimits) { testing::ExpectStatusBodyAndLimits(MakeQtGetter); }

TEST(QtHttpGetter, ACompressedReplyCutShortIsATransportFailure) {
  testing::ExpectACompressedReplyCutShortIsATransportFailure(MakeQtGetter);
}

TEST(QtHttpGetter, NoServerIsATransportFailure) { testing::ExpectNoServerIsATransportFailure(MakeQtGetter); }

TEST(QtHttpGetter, AGetOnAnotherThreadWaitsForTheApplicationAndFailsWhenItNeverComes) {
  for (const bool comes : {true, false}) {
    testing::OneShotServer server(testing::Reply("200 OK", "a|b^1"));
    std::optional<std::promise<void>> ready(std::in_place);
    QtHttpGetter getter(HttpTimeouts{}, ready->get_future().share());
    std::future<HttpResult> got = std::async(std::launch::async, [&] { return getter.Get(server.Url("/")); });
    EXPECT_EQ(got.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "the GET must wait for the application";
    if (comes) {
      ready->set_value();
    } else {
      ready.reset();  // abandoned: the program ends before the toolkit is up
    }
    const HttpResult r = got.get();
    EXPECT_EQ(r.Success(), comes) << r.error;
    EXPECT_EQ(r.body, comes ? "a|b^1" : "");
  }
}

TEST(QtHttpGetter, ABadAddressIsATransportFailure) {
  for (const char* url : {"", "ftp://127.0.0.1/", "http:///no-host", "not an address"}) {
    QtHttpGetter getter;
    const HttpResult r = getter.Get(url);
    EXPECT_FALSE(r.transportOk) << url;
    EXPECT_FALSE(r.error.empty()) << url;
  }
}

}  // namespace
}  // namespace torvo::desktop
