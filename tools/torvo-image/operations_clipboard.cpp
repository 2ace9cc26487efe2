// Putting a picture on the desktop's clipboard. Builds without the desktop part (no Qt) keep the
// operation, which then says why it cannot work.
#include "tools/torvo-image/operations.h"

#if TORVO_IMAGE_DESKTOP
#include "platform/desktop_services.h"
#include "platform/desktop/clipboard.h"
#endif

namespace torvo::image_tool {

TORVO_IMAGE_OPERATION({"clipboard", "", "INPUT onto the clipboard as a bitmap (needs a display)",
                       [](const Invocation& run) { ExpectArgumentCount(run, 0); },
                       [](Invocation& run) {
#if TORVO_IMAGE_DESKTOP
                         cDIBSection& picture = run.image();
                         // The picture stays on offer from a background copy of the tool until
                         // another program takes the clipboard.
                         const bool accepted = desktop::PutOnClipboardAndServe(
                             [&picture](desktop::QtDesktopServices& services) {
                               SetDesktopServices(&services);
                               const bool copied = picture.CopyToClipboard(false);
                               SetDesktopServices(nullptr);
                               return copied;
                             });
                         if (!accepted) throw PictureError("the clipboard did not take the picture (no display?)");
#else
                         (void)run;
                         throw PictureError("this torvo-image was built without the desktop part: no clipboard");
#endif
                       },
                       true});

}  // namespace torvo::image_tool
