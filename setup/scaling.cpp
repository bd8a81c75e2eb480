#include "setup/scaling.h"

#include <cmath>

#include "platform/error.h"

namespace setup {

namespace {

constexpr float design_width = 12000.0f;
constexpr float design_height = 9000.0f;

// Multiplies one property by a factor, the way a by-name property access does it.
void scale(ScaleObject& object, ScaleProperty p, float factor) {
    object.set(p, static_cast<float>(object.get(p)) * factor);
}

// Runs a property access; under "resume next" a failing one is skipped, otherwise it propagates.
template <typename F>
void attempt(bool resume_next, F&& statement) {
    if (!resume_next) {
        statement();
        return;
    }
    try {
        statement();
    } catch (const platform::Error&) {
    }
}

}  // namespace

ScaleFactors scale_factors(double screen_width_twips, double screen_height_twips) {
    return {static_cast<float>(screen_width_twips) / design_width,
            static_cast<float>(screen_height_twips) / design_height};
}

void scale_layout(ScaleForm& FRM, bool ScaleForm, bool ScaleFont, ScaleCopy copy,
                  double screen_width_twips, double screen_height_twips) {
    const ScaleFactors f = scale_factors(screen_width_twips, screen_height_twips);
    bool resume_next = copy != ScaleCopy::FrmHin;

    if (ScaleForm) {
        attempt(resume_next, [&] { scale(FRM, ScaleProperty::Width, f.x); });
        attempt(resume_next, [&] { scale(FRM, ScaleProperty::Height, f.y); });
        attempt(resume_next, [&] { scale(FRM, ScaleProperty::Left, f.x); });
        attempt(resume_next, [&] { scale(FRM, ScaleProperty::Top, f.y); });
    }

    const int count = FRM.control_count();
    for (int i = 0; i < count; ++i) {
        ScaleObject& c = FRM.control(i);
        if (copy == ScaleCopy::FrmHin && c.Name() == "imgLogo") continue;
        if (c.is_line()) {
            attempt(resume_next, [&] { scale(c, ScaleProperty::X1, f.x); });
            attempt(resume_next, [&] { scale(c, ScaleProperty::X2, f.x); });
            attempt(resume_next, [&] { scale(c, ScaleProperty::Y1, f.y); });
            attempt(resume_next, [&] { scale(c, ScaleProperty::Y2, f.y); });
            continue;
        }
        // The progress window's copy turns on "resume next" here, at its first control that is not
        // a line, and keeps it for the rest of the loop.
        resume_next = true;
        attempt(resume_next, [&] { scale(c, ScaleProperty::Left, f.x); });
        attempt(resume_next, [&] { scale(c, ScaleProperty::Top, f.y); });
        attempt(resume_next, [&] { scale(c, ScaleProperty::Width, f.x); });
        attempt(resume_next, [&] { scale(c, ScaleProperty::Height, f.y); });
        if (ScaleFont) {
            attempt(resume_next, [&] {
                c.set(ScaleProperty::FontSize,
                      static_cast<float>(c.get(ScaleProperty::FontSize)) * f.y - 1);
            });
            attempt(resume_next, [&] {
                c.set(ScaleProperty::HeadFontSize,
                      static_cast<float>(c.get(ScaleProperty::HeadFontSize)) * f.y - 1);
            });
        }
    }
}

namespace {
short round_half_even(double v) {
    return static_cast<short>(std::nearbyint(v));
}
}  // namespace

ScreenInfo GetScreenInfo(double screen_width_twips, double screen_height_twips,
                         double twips_per_pixel_x, double twips_per_pixel_y, int bits_per_pixel) {
    // nearbyint rounds in the default mode, to nearest with halves to even.
    return {round_half_even(screen_width_twips / twips_per_pixel_x),
            round_half_even(screen_height_twips / twips_per_pixel_y),
            static_cast<short>(bits_per_pixel)};
}

bool folder_chooser_scales(const ScreenInfo& info) {
    return info.width == 800 && info.height != 600;
}

}  // namespace setup
