#pragma once
// A blocking GET through Qt Network, for a program that loads Qt anyway: it spares that program
// the loading of another HTTP library before its first line runs. Same time-outs, body bound and
// answers as HttpClient.
#include <future>
#include <string>

#include "platform/http.h"

class QUrl;

namespace torvo::desktop {

class QtHttpGetter final : public HttpGetter {
 public:
  // Qt's event loops need the application object. A getter made before it exists (a start-up
  // running beside the toolkit's) is given applicationReady, which becomes ready once it does:
  // Get waits for it, and fails as a transport failure if it is abandoned.
  explicit QtHttpGetter(HttpTimeouts timeouts = {}, std::shared_future<void> applicationReady = {});

  // Runs its own event loop on the calling thread until the transfer ends.
  HttpResult Get(const std::string& url) override;
  void SetExtraTrustedCertificates(std::string pem) override { extraPem_ = std::move(pem); }

 private:
  // One transfer; withExtra: the extra certificates alone are trusted, else the system's.
  HttpResult Transfer(const std::string& url, const QUrl& address, bool withExtra);

  HttpTimeouts timeouts_;
  std::shared_future<void> applicationReady_;
  std::string extraPem_;
};

}  // namespace torvo::desktop
