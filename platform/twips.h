#pragma once
// The forms' layouts are drawn in twips; the screen has 96 pixels an inch, 15 twips a pixel.
namespace torvo {

inline constexpr int kTwipsPerPixel = 15;

// Half a pixel and more rounds up, so a layout lands on the same pixels on every desktop.
constexpr int TwipsToPixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

}  // namespace torvo
