#include "platform/desktop_services.h"

namespace torvo {

namespace {
DesktopServices* installedServices = nullptr;
}

DesktopServices* TheDesktopServices() { return installedServices; }
void SetDesktopServices(DesktopServices* services) { installedServices = services; }

}  // namespace torvo
