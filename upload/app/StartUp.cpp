#include "upload/app/StartUp.h"

#include <QThread>

#include "platform/desktop/single_instance.h"
#include "platform/error.h"
#include "platform/http.h"

#ifndef TORVO_SERVICE_HOST
#error "TORVO_SERVICE_HOST must name the service's host[:port]"
#endif

namespace torvo::upload {

StartUpServices QtStartUpServices() {
  StartUpServices services;
  services.MakeSingleInstanceLock = [] { return std::make_unique<desktop::SingleInstance>(ProgramName()); };
  services.MakeHttpGetter = [](const HttpTimeouts& timeouts) { return std::make_unique<HttpClient>(timeouts); };
  services.serviceHost = TORVO_SERVICE_HOST;
  return services;
}

std::future<Preparation> StartPreparation(std::u16string commandLine, CaptureProvider& capture) {
  QThread::currentThread();  // Qt's main thread from now on
  return std::async(std::launch::async, [line = std::move(commandLine), &capture] {
    return PrepareStartUp(line, capture, QtStartUpServices());
  });
}

}  // namespace torvo::upload
