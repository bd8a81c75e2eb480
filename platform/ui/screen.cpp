#include "platform/ui/screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform::ui {

namespace {
std::optional<ScreenMetrics>& override_metrics() {
    static std::optional<ScreenMetrics> m;
    return m;
}
}  // namespace

ScreenMetrics screen_of_pixels(int width, int height, int bits_per_pixel) {
    return {width * double(twips_per_pixel), height * double(twips_per_pixel),
            double(twips_per_pixel), double(twips_per_pixel), bits_per_pixel};
}

ScreenMetrics screen_metrics() {
    if (override_metrics()) return *override_metrics();
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return screen_of_pixels(800, 600);
    const QSize size = s->geometry().size();
    return screen_of_pixels(size.width(), size.height(), s->depth());
}

void set_screen_override(std::optional<ScreenMetrics> metrics) {
    override_metrics() = metrics;
}

}  // namespace platform::ui
