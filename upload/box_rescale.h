#pragma once
// The thumbnail's rescale with the box filter: FreeImage_Rescale(dib, width, height, FILTER_BOX)
// to the byte, in a fraction of its time for the 24-bit pictures TorvoTool shrinks.
#include <FreeImage.h>

namespace torvo::upload {

// A new bitmap for the caller to unload, or nullptr when memory is short, as FreeImage_Rescale.
// Pictures other than 24-bit ones shrunk in width, and processors without AVX2, go through
// FreeImage_Rescale itself.
FIBITMAP* BoxRescale(FIBITMAP* picture, unsigned width, unsigned height);

}  // namespace torvo::upload
