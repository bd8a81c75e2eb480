#pragma once
// Layout scaling from the 12000 x 9000 twip design size to the screen. The algorithm works on
// an abstract form so that it can be tested without widgets; setup/forms/form_scaling.h applies it
// to Qt windows.
#include <string>

namespace setup {

enum class ScaleProperty { Left, Top, Width, Height, X1, Y1, X2, Y2, FontSize, HeadFontSize };

// One control (or the form itself) whose properties are read and written by name. A property the
// object does not have throws platform::Error (438).
class ScaleObject {
  public:
    virtual ~ScaleObject() = default;
    virtual std::string Name() const = 0;
    virtual bool is_line() const { return false; }
    virtual double get(ScaleProperty p) const = 0;
    virtual void set(ScaleProperty p, double value) = 0;
};

class ScaleForm : public ScaleObject {
  public:
    virtual int control_count() const = 0;
    virtual ScaleObject& control(int index) = 0;  // position in the control collection, 0-based
};

// The three copies of the procedure differ in the "imgLogo" skip and in where errors start to be
// ignored.
enum class ScaleCopy {
    FrmHin,     // skips "imgLogo"; errors ignored from the first control that is not a line
    FrmWizard,  // errors ignored from the start
    Module      // ScaleLayout: errors ignored from the start
};

struct ScaleFactors {
    float x;
    float y;
};
ScaleFactors scale_factors(double screen_width_twips, double screen_height_twips);

// The one algorithm. Errors not ignored by the copy propagate as platform::Error.
void scale_layout(ScaleForm& FRM, bool ScaleForm, bool ScaleFont, ScaleCopy copy,
                  double screen_width_twips, double screen_height_twips);

// GetScreenInfo: pixels = twips / twips per pixel, rounded half to even; depth as reported.
struct ScreenInfo {
    short width;
    short height;
    short depth;
};
ScreenInfo GetScreenInfo(double screen_width_twips, double screen_height_twips,
                         double twips_per_pixel_x, double twips_per_pixel_y, int bits_per_pixel);

// The folder chooser scales only on a screen exactly 800 pixels wide and not 600 high.
bool folder_chooser_scales(const ScreenInfo& info);

}  // namespace setup
