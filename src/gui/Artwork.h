#pragma once
#include <QIcon>
#include <QImage>

namespace spindle::gui {

// The program's pictures, drawn by code on a 16 x 16 grid so they stay
// crisp at 16 px and at every multiple (high-DPI screens): one consistent
// flat style with a dark outline. Each icon carries pixmaps at 16, 20, 24,
// 32, 40, 48 and 64 px; Qt picks the one the screen needs.
inline constexpr int kTreeImageCount = 17;
inline constexpr int kListImageCount = 10;

// The device tree's images by index: 0 computer, 1 category folder, then
// one instrument per family (2 Kestrel and Harrier, 3 Heron, 4 Osprey,
// 5 Osprey+, 6 Condor, 7 Lantern, 8 spare, 9 and 13 unprogrammed chip,
// 10 Merlin, 11 Gannet and Skua, 12 Falcon, 14 Wren, 15 Kestrel+, 16 Finch).
QIcon TreeImage(int index);
// The stored-value list's images by index: 0 versions and FPGA registers,
// 1 serial numbers, 2 wavelength, 3 stray light, 4 nonlinearity, 5 texts and
// settings, 6 and 7 Lantern coefficients, 8 channel mask, 9 reserved.
QIcon ListImage(int index);
// The application icon (window icon and About box).
QIcon ApplicationIcon();

// One picture rendered at `pixels` x `pixels` (transparent background).
QImage RenderTreeImage(int index, int pixels);
QImage RenderListImage(int index, int pixels);
QImage RenderApplicationIcon(int pixels);

}  // namespace spindle::gui
