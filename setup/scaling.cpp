#include "setup/scaling.h"

#include <cmath>
#include <initializer_list>

#include "platform/error.h"
#include "platform/resume.h"

namespace setup {

namespace {

constexpr float design_width = 12000.0f;
constexpr float design_height = 9000.0f;

struct Scaled {
    ScaleProperty property;
    float factor;
    float offset = 0;
};

// Scales each property in turn; under "resume next" a failing one is skipped, otherwise the
// failure propagates.
void scale_all(ScaleObject& object, std::initializer_list<Scaled> properties, bool resume_next) {
    for (const Scaled& s : properties) {
        const auto statement = [&] {
            object.set(s.property,
                       static_cast<float>(object.get(s.property)) * s.factor + s.offset);
        };
        if (resume_next) {
            platform::resume_on_error<platform::Error>(statement);
        } else {
            statement();
        }
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
        scale_all(FRM,
                  {{ScaleProperty::Width, f.x},
                   {ScaleProperty::Height, f.y},
                   {ScaleProperty::Left, f.x},
                   {ScaleProperty::Top, f.y}},
                  resume_next);
    }

    const int count = FRM.control_count();
    for (int i = 0; i < count; ++i) {
        ScaleObject& c = FRM.control(i);
        if (copy == ScaleCopy::FrmHin && c.Name() == "imgLogo") continue;
        if (c.is_line()) {
            scale_all(c,
                      {{ScaleProperty::X1, f.x},
                       {ScaleProperty::X2, f.x},
                       {ScaleProperty::Y1, f.y},
                       {ScaleProperty::Y2, f.y}},
                      resume_next);
            continue;
        }
        // The progress window's copy turns on "resume next" here, at its first control that is not
        // a line, and keeps it for the rest of the loop.
        resume_next = true;
        scale_all(c,
                  {{ScaleProperty::Left, f.x},
                   {ScaleProperty::Top, f.y},
                   {ScaleProperty::Width, f.x},
                   {ScaleProperty::Height, f.y}},
                  resume_next);
        // Fonts come out one point smaller than the plain factor gives.
        if (ScaleFont) {
            scale_all(c,
                      {{ScaleProperty::FontSize, f.y, -1}, {ScaleProperty::HeadFontSize, f.y, -1}},
                      resume_next);
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
