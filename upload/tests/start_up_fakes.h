#pragma once
// The start-up's desktop services as a test sets them: a lock that is free or taken, and a GET
// that answers what the test says and remembers what it was asked.
#include <memory>
#include <string>
#include <vector>

#include "upload/start_up.h"

namespace torvo::upload {

struct StartUpFakes {
  bool lockFree = true;
  HttpResult reply;
  // What the start-up did with them.
  int locksMade = 0;
  std::vector<std::string> urls;
  std::vector<HttpTimeouts> timeouts;

  StartUpServices Services(std::string serviceHost = "127.0.0.1:9") {
    class Lock final : public SingleInstanceLock {
     public:
      explicit Lock(bool free) : free_(free) {}
      bool Acquire() override { return free_; }
      bool free_;
    };
    class Getter final : public HttpGetter {
     public:
      explicit Getter(StartUpFakes& fakes) : fakes_(fakes) {}
      HttpResult Get(const std::string& url) override {
        fakes_.urls.push_back(url);
        return fakes_.reply;
      }
      StartUpFakes& fakes_;
    };
    StartUpServices services;
    services.MakeSingleInstanceLock = [this] {
      ++locksMade;
      return std::make_unique<Lock>(lockFree);
    };
    services.MakeHttpGetter = [this](const HttpTimeouts& t) {
      timeouts.push_back(t);
      return std::make_unique<Getter>(*this);
    };
    services.serviceHost = std::move(serviceHost);
    return services;
  }
};

inline HttpResult Answer(long status, std::string body) {
  HttpResult r;
  r.transportOk = true;
  r.status = status;
  r.body = std::move(body);
  return r;
}

}  // namespace torvo::upload
