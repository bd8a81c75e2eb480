#pragma once
// The screen the windows are laid out on, in twips (15 twips per pixel).
#include <optional>

namespace platform::ui {

constexpr int twips_per_pixel = 15;

struct ScreenMetrics {
    double width_twips;
    double height_twips;
    double twips_per_pixel_x;
    double twips_per_pixel_y;
    int bits_per_pixel;
};

// The primary screen as Qt reports it, or the override when one is set.
ScreenMetrics screen_metrics();
// Tests (and screenshots at a fixed size) set a screen; nullopt returns to the real one.
void set_screen_override(std::optional<ScreenMetrics> metrics);
ScreenMetrics screen_of_pixels(int width, int height, int bits_per_pixel = 24);

}  // namespace platform::ui
