// Filters and combining: ProcessImage with a preset or a custom kernel, and the three ways of
// combining two pictures.
#include "tools/torvo-image/operations.h"

namespace torvo::image_tool {

namespace {

// The filter's work surface: a new surface of the picture's size.
void Filter(Invocation& run) {
  cDIBSection buffer;
  if (!buffer.Create(run.image().Width(), run.image().Height())) {
    throw PictureError("not enough memory for the work surface");
  }
  run.processor().ProcessImage(run.image(), buffer);
}

void CheckFilter(const Invocation& run) {
  ExpectArgumentCount(run, 1);
  if (run.Integer(0) == cImageProcessDIB::FilterCustom) {
    throw UsageError("filter 13 is the custom filter: use kernel SIZE WEIGHT C1 C2 ...");
  }
}

void CheckKernel(const Invocation& run) {
  if (run.arguments().size() < 2) throw UsageError("kernel needs SIZE, WEIGHT and the coefficients");
  const int64_t size = run.Integer(0);
  run.Integer(1);
  const size_t coefficients = run.arguments().size() - 2;
  if (size * size != static_cast<int64_t>(coefficients)) {
    throw UsageError("kernel of size " + std::to_string(size) + " needs " +
                     std::to_string(size * size) + " coefficients, got " + std::to_string(coefficients));
  }
  for (size_t i = 0; i < coefficients; ++i) run.Integer(2 + i);
}

// Coefficients as the kernel looks on paper: the top row (scan-line offset +h) first, each row
// from left (-h) to right (+h).
void Kernel(Invocation& run) {
  cImageProcessDIB& processor = run.processor();
  const int32_t size = run.Integer(0);
  processor.FilterArraySize(size);
  const int32_t h = size / 2;
  size_t next = 2;
  for (int32_t j = h; j >= -h; --j) {
    for (int32_t i = -h; i <= h; ++i) processor.FilterValue(i, j, run.Integer(next++));
  }
  processor.FilterWeight(run.Integer(1));
  processor.FilterType(cImageProcessDIB::FilterCustom);
  Filter(run);
}

void CheckAdd(const Invocation& run) {
  ExpectArgumentCount(run, 9);
  for (size_t i = 1; i < 9; ++i) run.Integer(i);
}

}  // namespace

TORVO_IMAGE_OPERATION({"filter", "N", "preset filter N (1 to 12) over the picture", CheckFilter,
                       [](Invocation& run) {
                         run.processor().FilterType(run.Integer(0));
                         Filter(run);
                       }});

TORVO_IMAGE_OPERATION({"kernel", "SIZE WEIGHT C1 C2 ...",
                       "custom SIZE x SIZE kernel divided by WEIGHT, top row first", CheckKernel,
                       Kernel});

TORVO_IMAGE_OPERATION({"lightest", "FROM", "keep the lighter of each pair of pixels",
                       [](const Invocation& run) { ExpectArgumentCount(run, 1); },
                       [](Invocation& run) {
                         auto from = run.Picture(0);
                         run.processor().AddLightest(*from, run.image());
                       }});

TORVO_IMAGE_OPERATION({"darkest", "FROM", "keep the darker of each pair of pixels",
                       [](const Invocation& run) { ExpectArgumentCount(run, 1); },
                       [](Invocation& run) {
                         auto from = run.Picture(0);
                         run.processor().AddDarkest(*from, run.image());
                       }});

TORVO_IMAGE_OPERATION({"add", "FROM FM FR FG FB TM TR TG TB",
                       "(FROM + F offsets) x FM + (INPUT + T offsets) x TM per channel", CheckAdd,
                       [](Invocation& run) {
                         auto from = run.Picture(0);
                         run.processor().AddImages(*from, run.image(), run.Integer(1), run.Integer(2),
                                                   run.Integer(3), run.Integer(4), run.Integer(5),
                                                   run.Integer(6), run.Integer(7), run.Integer(8));
                       }});

}  // namespace torvo::image_tool
