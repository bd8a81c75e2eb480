#include "setup/scaling.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "platform/error.h"

namespace {

using setup::ScaleCopy;
using setup::ScaleProperty;

// A control whose properties are a table; a property not in the table fails as a by-name
// access on a control without it does.
class FakeControl : public setup::ScaleObject {
  public:
    FakeControl(std::string name, std::map<ScaleProperty, double> props, bool line = false)
        : name_(std::move(name)), props_(std::move(props)), line_(line) {}
    std::string Name() const override { return name_; }
    bool is_line() const override { return line_; }
    double get(ScaleProperty p) const override {
        auto it = props_.find(p);
        if (it == props_.end())
            throw platform::Error(438, "Objekt unterstützt diese Eigenschaft nicht");
        return it->second;
    }
    void set(ScaleProperty p, double v) override {
        if (!props_.count(p))
            throw platform::Error(438, "Objekt unterstützt diese Eigenschaft nicht");
        props_[p] = v;
        writes.push_back(p);
    }
    double operator[](ScaleProperty p) const { return props_.at(p); }
    std::vector<ScaleProperty> writes;

  private:
    std::string name_;
    std::map<ScaleProperty, double> props_;
    bool line_;
};

class FakeForm : public setup::ScaleForm {
  public:
    explicit FakeForm(std::map<ScaleProperty, double> props) : self("frm", std::move(props)) {}
    FakeControl& add(std::string name, std::map<ScaleProperty, double> props, bool line = false) {
        controls.push_back(std::make_unique<FakeControl>(std::move(name), std::move(props), line));
        return *controls.back();
    }
    std::string Name() const override { return self.Name(); }
    double get(ScaleProperty p) const override { return self.get(p); }
    void set(ScaleProperty p, double v) override { self.set(p, v); }
    int control_count() const override { return static_cast<int>(controls.size()); }
    setup::ScaleObject& control(int i) override { return *controls.at(i); }
    FakeControl self;
    std::vector<std::unique_ptr<FakeControl>> controls;
};

using P = ScaleProperty;
const std::map<P, double> form_props{
    {P::Left, 0}, {P::Top, 0}, {P::Width, 12000}, {P::Height, 9000}};

std::map<P, double> box(double l, double t, double w, double h, double font) {
    return {{P::Left, l}, {P::Top, t}, {P::Width, w}, {P::Height, h}, {P::FontSize, font}};
}

TEST(Scaling, DesignScreenKeepsGeometryButEveryFontLosesOnePoint) {
    FakeForm f(form_props);
    auto& c = f.add("lblTitel", box(1000, 500, 2000, 300, 8));
    setup::scale_layout(f, true, true, ScaleCopy::Module, 12000, 9000);
    EXPECT_FLOAT_EQ(f.self[P::Width], 12000);
    EXPECT_FLOAT_EQ(c[P::Left], 1000);
    EXPECT_FLOAT_EQ(c[P::Width], 2000);
    EXPECT_FLOAT_EQ(c[P::FontSize], 7);
    // Without font scaling nothing changes at all.
    FakeForm g(form_props);
    auto& d = g.add("lblTitel", box(1000, 500, 2000, 300, 8));
    setup::scale_layout(g, true, false, ScaleCopy::Module, 12000, 9000);
    EXPECT_FLOAT_EQ(d[P::FontSize], 8);
}

TEST(Scaling, Screen1024x768StretchesBy128) {
    FakeForm f(form_props);
    auto& c = f.add("lblStatus", box(1000, 1000, 2000, 500, 8));
    setup::scale_layout(f, true, true, ScaleCopy::FrmHin, 1024 * 15, 768 * 15);
    EXPECT_FLOAT_EQ(f.self[P::Width], 15360);
    EXPECT_FLOAT_EQ(f.self[P::Height], 11520);
    EXPECT_FLOAT_EQ(c[P::Left], 1280);
    EXPECT_FLOAT_EQ(c[P::Width], 2560);
    EXPECT_FLOAT_EQ(c[P::Top], 1280);
    EXPECT_FLOAT_EQ(c[P::Height], 640);
    EXPECT_NEAR(c[P::FontSize], 9.24, 1e-5);
    // The documented order of the writes.
    EXPECT_EQ(f.self.writes, (std::vector<P>{P::Width, P::Height, P::Left, P::Top}));
    EXPECT_EQ(c.writes, (std::vector<P>{P::Left, P::Top, P::Width, P::Height, P::FontSize}));
}

TEST(Scaling, UnevenRatiosStretchLinesAndBoxesApartAndFontsFollowHeight) {
    FakeForm f(form_props);
    auto& line = f.add("Line1", {{P::X1, 100}, {P::X2, 1100}, {P::Y1, 200}, {P::Y2, 1200}}, true);
    auto& shape =
        f.add("Shape1", {{P::Left, 1000}, {P::Top, 1000}, {P::Width, 1000}, {P::Height, 1000}});
    auto& lbl = f.add("lblA1", box(0, 0, 100, 100, 10));
    lbl.writes.clear();
    // 1600 x 600 pixels: horizontal 2, vertical 1.
    setup::scale_layout(f, false, true, ScaleCopy::Module, 1600 * 15, 600 * 15);
    EXPECT_FLOAT_EQ(line[P::X1], 200);
    EXPECT_FLOAT_EQ(line[P::X2], 2200);
    EXPECT_FLOAT_EQ(line[P::Y1], 200);
    EXPECT_FLOAT_EQ(line[P::Y2], 1200);
    EXPECT_FLOAT_EQ(shape[P::Width], 2000);
    EXPECT_FLOAT_EQ(shape[P::Height], 1000);
    EXPECT_FLOAT_EQ(lbl[P::FontSize], 9);
    // ScaleForm false leaves the form alone.
    EXPECT_FLOAT_EQ(f.self[P::Width], 12000);
    EXPECT_TRUE(f.self.writes.empty());
}

TEST(Scaling, HeadFontFollowsTheFontRule) {
    FakeForm f(form_props);
    auto props = box(0, 0, 100, 100, 8);
    props[P::HeadFontSize] = 10;
    auto& c = f.add("grid", props);
    setup::scale_layout(f, false, true, ScaleCopy::Module, 1024 * 15, 768 * 15);
    EXPECT_NEAR(c[P::HeadFontSize], 10 * 1.28 - 1, 1e-5);
}

TEST(Scaling, ImgLogoIsSkippedOnlyByTheProgressWindowCopy) {
    struct Case {
        ScaleCopy copy;
        double expected_left;
    } cases[] = {
        {ScaleCopy::FrmHin, 1000}, {ScaleCopy::FrmWizard, 2000}, {ScaleCopy::Module, 2000}};
    for (const auto& k : cases) {
        FakeForm f(form_props);
        auto& logo = f.add("imgLogo", box(1000, 0, 500, 500, 8));
        auto& other = f.add("imglogo", box(1000, 0, 500, 500, 8));  // the comparison is exact
        setup::scale_layout(f, true, true, k.copy, 24000, 18000);
        EXPECT_FLOAT_EQ(logo[P::Left], k.expected_left);
        EXPECT_FLOAT_EQ(logo[P::FontSize], k.expected_left == 1000 ? 8 : 15);
        EXPECT_FLOAT_EQ(other[P::Left], 2000);
    }
}

TEST(Scaling, ErrorRegimesOfTheThreeCopies) {
    // A control without a position (a timer) is skipped by every copy once errors are ignored.
    for (ScaleCopy copy : {ScaleCopy::FrmHin, ScaleCopy::FrmWizard, ScaleCopy::Module}) {
        FakeForm f(form_props);
        f.add("lblA1", box(100, 100, 100, 100, 8));
        f.add("Timer1", {});
        auto& after = f.add("lblA2", box(100, 100, 100, 100, 8));
        EXPECT_NO_THROW(setup::scale_layout(f, true, true, copy, 24000, 18000));
        EXPECT_FLOAT_EQ(after[P::Left], 200);
    }
    // A form whose size cannot be set: the progress window's copy hands the error back, the others
    // go on.
    for (ScaleCopy copy : {ScaleCopy::FrmHin, ScaleCopy::FrmWizard, ScaleCopy::Module}) {
        FakeForm f({{P::Left, 0}, {P::Top, 0}});
        auto& c = f.add("lblA1", box(100, 100, 100, 100, 8));
        if (copy == ScaleCopy::FrmHin) {
            EXPECT_THROW(setup::scale_layout(f, true, true, copy, 24000, 18000), platform::Error);
            EXPECT_FLOAT_EQ(c[P::Left], 100);
        } else {
            EXPECT_NO_THROW(setup::scale_layout(f, true, true, copy, 24000, 18000));
            EXPECT_FLOAT_EQ(c[P::Left], 200);
            EXPECT_FLOAT_EQ(f.self[P::Left], 0);
        }
    }
    // A broken line before the first other control fails the progress window's copy; after one it
    // is skipped.
    {
        FakeForm f(form_props);
        f.add("Line1", {{P::X1, 1}}, true);
        EXPECT_THROW(setup::scale_layout(f, true, true, ScaleCopy::FrmHin, 24000, 18000),
                     platform::Error);
        FakeForm g(form_props);
        g.add("lblA1", box(100, 100, 100, 100, 8));
        auto& line = g.add("Line1", {{P::X1, 1}, {P::Y2, 3}}, true);
        EXPECT_NO_THROW(setup::scale_layout(g, true, true, ScaleCopy::FrmHin, 24000, 18000));
        EXPECT_FLOAT_EQ(line[P::X1], 2);
        EXPECT_FLOAT_EQ(line[P::Y2], 6);
    }
}

TEST(Scaling, ScreenInfoAndFolderChooserCondition) {
    struct Case {
        int w, h;
        bool scales;
    } cases[] = {{800, 600, false}, {800, 480, true}, {1024, 768, false}, {640, 480, false}};
    for (const auto& k : cases) {
        auto info = setup::GetScreenInfo(k.w * 15.0, k.h * 15.0, 15, 15, 24);
        EXPECT_EQ(info.width, k.w);
        EXPECT_EQ(info.height, k.h);
        EXPECT_EQ(info.depth, 24);
        EXPECT_EQ(setup::folder_chooser_scales(info), k.scales) << k.w << "x" << k.h;
    }
    // Halves round to even.
    EXPECT_EQ(setup::GetScreenInfo(12007.5, 37.5, 15, 15, 16).width, 800);
    EXPECT_EQ(setup::GetScreenInfo(12007.5, 37.5, 15, 15, 16).height, 2);
    EXPECT_EQ(setup::GetScreenInfo(12022.5, 0, 15, 15, 16).width, 802);
}

}  // namespace
