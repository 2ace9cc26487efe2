// Runs on an X server of its own (xvfb-run, no window manager): the test plays the window
// manager where it needs one by setting _NET_ACTIVE_WINDOW itself.
#include "platform/desktop/capture.h"
#include "platform/desktop/x11_capture_provider.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace torvo::desktop {
namespace {

class X {
 public:
  X() {
    int screen = 0;
    c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) throw std::runtime_error("no X server");
    s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  }
  ~X() { xcb_disconnect(c); }

  // A mapped top-level window filled with one colour (0xRRGGBB), shown once this returns.
  uint32_t Window(int16_t x, int16_t y, uint16_t w, uint16_t h, uint32_t rgb, bool overrideRedirect = false) {
    uint32_t id = xcb_generate_id(c);
    const uint32_t values[] = {rgb, overrideRedirect ? 1u : 0u};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, id, s->root, x, y, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      s->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, id);
    // The server paints the background while it maps the window: one round trip is enough.
    xcb_aux_sync();
    return id;
  }
  // Stripes of w x 1 pixels whose colour changes with every row and column band, so a row that
  // lands one off or a band that is missing shows.
  void Stripes(uint32_t window, uint16_t w, uint16_t h) {
    const uint32_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    for (uint16_t y = 0; y < h; ++y) {
      for (uint16_t x = 0; x < w; x += 64) {
        const uint32_t colour = (uint32_t{y} * 2654435761u) ^ (uint32_t{x} << 10);
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t row{static_cast<int16_t>(x), static_cast<int16_t>(y), 64, 1};
        xcb_poly_fill_rectangle(c, window, gc, 1, &row);
      }
    }
    xcb_free_gc(c, gc);
    xcb_aux_sync();
  }
  void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
  void Destroy(uint32_t w) {
    xcb_destroy_window(c, w);
    xcb_aux_sync();
  }
  void SetActive(const uint32_t* window) {
    static const char kName[] = "_NET_ACTIVE_WINDOW";
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof kName - 1, kName), nullptr);
    if (window)
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, s->root, atom->atom, XCB_ATOM_WINDOW, 32, 1, window);
    else
      xcb_delete_property(c, s->root, atom->atom);
    std::free(atom);
    xcb_aux_sync();
  }
  xcb_connection_t* c;
  xcb_screen_t* s;
};

// Blue, green, red of the pixel at (x, y) counted from the top.
uint32_t Rgb(const gdi::Bitmap& b, int x, int y) {
  const uint8_t* p = b.TopDownRow(y) + x * 3;
  return p[2] << 16 | p[1] << 8 | p[0];
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server";
    x.SetActive(nullptr);
  }
  X x;
};

TEST_F(CaptureTest, TopmostViewableWindowWithoutAWindowManager) {
  uint32_t below = x.Window(10, 10, 300, 200, 0x0000FF);
  uint32_t above = x.Window(50, 40, 120, 70, 0xFF8000);
  uint32_t tooltip = x.Window(0, 0, 20, 20, 0x00FF00, true);  // override-redirect: not a window in front
  ScreenGrabber grabber;
  ScreenArea area = grabber.ForegroundClientArea();
  EXPECT_EQ(area.source, CaptureSource::kTopmostWindow);
  EXPECT_EQ(area.window, above);
  EXPECT_EQ(area.left, 50);
  EXPECT_EQ(area.top, 40);
  EXPECT_EQ(area.width, 120);
  EXPECT_EQ(area.height, 70);
  auto bitmap = grabber.Grab(area, 0, 0, area.width, area.height);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->bitsPerPixel(), 24);
  for (auto [px, py] : {std::pair{0, 0}, {119, 0}, {0, 69}, {119, 69}, {60, 35}}) EXPECT_EQ(Rgb(*bitmap, px, py), 0xFF8000u);
  // A rectangle reaching past the window shows what the screen shows there.
  auto wider = grabber.Grab(area, -1, -1, 122, 72);
  EXPECT_EQ(Rgb(*wider, 0, 0), 0x0000FFu);
  EXPECT_EQ(Rgb(*wider, 1, 1), 0xFF8000u);
  x.Destroy(tooltip);
  x.Destroy(above);
  x.Destroy(below);
}

TEST_F(CaptureTest, ActiveWindowNamedByTheWindowManager) {
  uint32_t active = x.Window(30, 20, 100, 60, 0x123456);
  uint32_t front = x.Window(0, 0, 50, 50, 0xABCDEF);  // covers the active window's corner
  x.SetActive(&active);
  ScreenGrabber grabber;
  ScreenArea area = grabber.ForegroundClientArea();
  EXPECT_EQ(area.source, CaptureSource::kActiveWindow);
  EXPECT_EQ(area.window, active);
  auto bitmap = grabber.Grab(area, 0, 0, area.width, area.height);
  // What the screen shows: the covering window's corner, then the active window.
  EXPECT_EQ(Rgb(*bitmap, 0, 0), 0xABCDEFu);
  EXPECT_EQ(Rgb(*bitmap, 19, 29), 0xABCDEFu);
  EXPECT_EQ(Rgb(*bitmap, 20, 30), 0x123456u);
  EXPECT_EQ(Rgb(*bitmap, 99, 59), 0x123456u);
  x.Destroy(front);
  x.Destroy(active);
}

TEST_F(CaptureTest, TheProviderGivesTheClientAreaOfTheWindowInFront) {
  uint32_t below = x.Window(0, 0, 200, 100, 0x654321);
  uint32_t active = x.Window(40, 10, 70, 30, 0x0A0B0C);
  x.SetActive(&active);
  X11CaptureProvider provider;
  auto bitmap = provider.CaptureFront();
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(provider.lastSource(), CaptureSource::kActiveWindow);
  EXPECT_EQ(bitmap->width(), 70);
  EXPECT_EQ(bitmap->height(), 30);
  EXPECT_EQ(bitmap->bitsPerPixel(), 24);
  EXPECT_EQ(Rgb(*bitmap, 0, 0), 0x0A0B0Cu);
  EXPECT_EQ(Rgb(*bitmap, 69, 29), 0x0A0B0Cu);

  // Asked again it looks again: now nothing is in front.
  uint32_t none = 0;
  x.SetActive(&none);
  auto screen = provider.CaptureFront();
  EXPECT_EQ(provider.lastSource(), CaptureSource::kWholeScreen);
  EXPECT_EQ(Rgb(*screen, 0, 0), 0x654321u);
  EXPECT_EQ(Rgb(*screen, 45, 15), 0x0A0B0Cu);
  x.Destroy(active);
  x.Destroy(below);
}

TEST_F(CaptureTest, NoWindowInFrontOrOffScreenGivesTheWholeScreen) {
  ScreenGrabber grabber;
  uint32_t none = 0;
  x.SetActive(&none);
  ScreenArea area = grabber.ForegroundClientArea();
  EXPECT_EQ(area.source, CaptureSource::kWholeScreen);
  EXPECT_EQ(area.left, 0);
  EXPECT_EQ(area.top, 0);
  EXPECT_EQ(area.width, grabber.screenWidth());
  EXPECT_EQ(area.height, grabber.screenHeight());

  uint32_t away = x.Window(static_cast<int16_t>(grabber.screenWidth() + 10), 0, 50, 50, 0x777777);
  x.SetActive(&away);
  EXPECT_EQ(grabber.ForegroundClientArea().source, CaptureSource::kWholeScreen);
  uint32_t gone = 0x7FFFFFF0;  // a window that does not exist
  x.SetActive(&gone);
  EXPECT_EQ(grabber.ForegroundClientArea().source, CaptureSource::kWholeScreen);
  x.Destroy(away);

  x.SetActive(nullptr);  // a bare server with nothing mapped
  EXPECT_EQ(grabber.ForegroundClientArea().source, CaptureSource::kWholeScreen);
}

TEST_F(CaptureTest, PartlyOffScreenWindowKeepsItsSizeWithBlackOutside) {
  ScreenGrabber grabber;
  const int16_t left = static_cast<int16_t>(grabber.screenWidth() - 30);
  uint32_t edge = x.Window(left, 5, 80, 40, 0xFFFFFF);
  x.SetActive(&edge);
  ScreenArea area = grabber.ForegroundClientArea();
  ASSERT_EQ(area.source, CaptureSource::kActiveWindow);
  auto bitmap = grabber.Grab(area, 0, 0, area.width, area.height);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->width(), 80);
  EXPECT_EQ(Rgb(*bitmap, 29, 10), 0xFFFFFFu);
  EXPECT_EQ(Rgb(*bitmap, 30, 10), 0x000000u);
  EXPECT_EQ(Rgb(*bitmap, 79, 39), 0x000000u);
  EXPECT_EQ(grabber.Grab(area, 0, 0, 0, 10), nullptr);
  x.Destroy(edge);
}

TEST_F(CaptureTest, WholeScreenComesInBandsWithoutSeams) {
  // 640 x 480 at 4 bytes a pixel is more than one band: rows 0..479 must all be in place.
  uint32_t top = x.Window(0, 0, 640, 240, 0x102030);
  uint32_t bottom = x.Window(0, 240, 640, 240, 0xF0E0D0);
  ScreenGrabber grabber;
  ScreenArea area = grabber.ForegroundClientArea();
  auto screen = grabber.Grab(area, -area.left, -area.top, 640, 480);
  ASSERT_TRUE(screen);
  for (int y = 0; y < 480; ++y) {
    ASSERT_EQ(Rgb(*screen, 0, y), y < 240 ? 0x102030u : 0xF0E0D0u) << y;
    ASSERT_EQ(Rgb(*screen, 639, y), y < 240 ? 0x102030u : 0xF0E0D0u) << y;
  }
  x.Destroy(bottom);
  x.Destroy(top);
}

TEST_F(CaptureTest, SharedMemoryAndTheSocketGiveTheSamePixels) {
  // Runs twice: on a server with shared memory, and on one without (the socket alone then).
  uint32_t window = x.Window(0, 0, 640, 480, 0);
  x.Stripes(window, 640, 480);
  x.SetActive(&window);
  ScreenGrabber shared, socket;
  socket.UseSharedMemory(false);
  const ScreenArea area = shared.ForegroundClientArea();
  ASSERT_EQ(area.window, window);
  // The whole window, an odd part of it, and a rectangle reaching off the screen.
  struct Case {
    int32_t left, top, width, height;
  };
  for (const Case& c : {Case{0, 0, 640, 480}, Case{3, 1, 601, 477}, Case{600, 470, 100, 30}}) {
    auto a = shared.Grab(area, c.left, c.top, c.width, c.height);
    auto b = socket.Grab(area, c.left, c.top, c.width, c.height);
    ASSERT_TRUE(a && b);
    for (int y = 0; y < c.height; ++y)
      ASSERT_EQ(std::memcmp(a->TopDownRow(y), b->TopDownRow(y), size_t(c.width) * 3), 0)
          << c.left << "," << c.top << " row " << y;
    // And both are the window's: the stripe's colour, read back from the server's own pixel format.
    const int y = std::min(c.height, 480 - c.top) - 1;
    const uint32_t drawn = (uint32_t(c.top + y) * 2654435761u ^ (uint32_t(c.left / 64 * 64) << 10)) & 0xFFFFFF;
    EXPECT_EQ(Rgb(*a, 0, y), drawn) << c.left << "," << c.top;
  }
  x.Destroy(window);
}

}  // namespace
}  // namespace torvo::desktop
