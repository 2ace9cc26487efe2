#pragma once
// A data folder with a few users and the real service on it, for the end-to-end tests.
#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "service/wire/cp949.h"
#include "service/store/store.h"
#include "test_store.h"
#include "service_process.h"

namespace torvo::service::testing {

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = OpenTestStore(dir_.path());
    Store& store = *opened;
    store.AddUser("u1");
    store.AddFolder("u1", "업무", 12);
    store.AddFolder("u1", "여행", 7);
    store.AddUser("김 철수");
    store.AddUser("out");
    store.SetSignedIn("out", false);
  }

  // Every test ends with a clean stop of the service and nothing a sanitizer reported.
  void TearDown() override {
    if (!service_) return;
    EXPECT_EQ(service_->Stop(), 0);
    std::string log = service_->Log();
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;
  }

  void Start(const std::vector<std::string>& extra = {}) { service_.emplace(dir_.path(), extra); }
  int port() const { return service_->port(); }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port()); }

  Reply Get(const std::string& target) { return RawClient(port()).Get(target); }

  Reply Upload(const UploadFields& fields, const std::string& png) {
    RawClient client(port());
    client.Send(UploadRequest(fields, png));
    return client.Read();
  }

  // Changes the faults at run time, as a test between two steps would.
  Reply Admin(const std::string& query) {
    RawClient client(port());
    client.Send("POST /admin/faults?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
    return client.Read();
  }

  std::vector<Image> Images(const std::string& identity) {
    auto store = OpenTestStore(dir_.path());
    return store->Images(store->FindUser(identity)->id);
  }

  static std::string Cp949(const std::string& utf8) { return Utf8ToCp949(utf8).value(); }

  static bool IsStoredName(const std::string& body) {
    return std::regex_match(body, std::regex("[0-9]{14}\\.png"));
  }

  TempDir dir_;
  std::optional<ServiceProcess> service_;
};

}  // namespace torvo::service::testing
