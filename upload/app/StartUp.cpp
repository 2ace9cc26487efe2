#include "upload/app/StartUp.h"

#include <QThread>

#include "platform/desktop/qt_http.h"
#include "platform/desktop/single_instance.h"
#include "platform/error.h"

#ifndef TORVO_SERVICE_HOST
#error "TORVO_SERVICE_HOST must name the service's host[:port]"
#endif

namespace torvo::upload {

StartUpServices QtStartUpServices(std::shared_future<void> applicationReady) {
  StartUpServices services;
  services.MakeSingleInstanceLock = [] { return std::make_unique<desktop::SingleInstance>(ProgramName()); };
  services.MakeHttpGetter = [applicationReady](const HttpTimeouts& timeouts) {
    return std::make_unique<desktop::QtHttpGetter>(timeouts, applicationReady);
  };
  services.serviceHost = TORVO_SERVICE_HOST;
  services.connection = ReadConnection(ConnectionFilePath());
  return services;
}

std::future<Preparation> StartPreparation(std::u16string commandLine, CaptureProvider& capture,
                                          std::shared_future<void> applicationReady) {
  QThread::currentThread();  // Qt's main thread from now on
  return std::async(std::launch::async, [line = std::move(commandLine), &capture, applicationReady] {
    return PrepareStartUp(line, capture, QtStartUpServices(applicationReady));
  });
}

}  // namespace torvo::upload
