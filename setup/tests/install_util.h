#pragma once
// Fixture for driving StartInstallation: a package medium (data02.cab, unins.ex_), a package
// folder with the setup script and the extractor copy, an install folder, start-menu and
// desktop folders and a font folder, all under one temporary folder; a fake progress window and
// a fake message box.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "setup/install_run.h"
#include "setup/install_view.h"
#include "testsupport/testsupport.h"

namespace setup::testing {

namespace fs = std::filesystem;

// Records what the install run does to the progress window.
class FakeView : public InstallView {
  public:
    std::string install_path_value;
    double screen_width = 12000;  // twips; scale 1 unless a test changes it

    std::vector<std::string> statuses;
    struct Billboard {
        std::string title, text;
        int advances_before;  // progress steps made before it was shown = file index
    };
    std::vector<Billboard> billboards;
    bool billboard_hidden = false;
    bool bar_visible = false;
    double width = -1;
    int advances = 0;  // set_progress_width calls after the bar was reset
    bool installing = false;
    std::vector<std::string> meldungen;  // messages shown in frmMeldung
    bool meldung_open = false;
    int finish_pages = 0;

    std::string install_path() const override { return install_path_value; }
    std::string programmgruppe() const override { return "typed group"; }
    long window_handle() const override { return 42; }
    double screen_width_twips() const override { return screen_width; }
    void set_step_installing() override { installing = true; }
    void set_status(std::string_view text) override { statuses.emplace_back(text); }
    void show_progress_bar() override { bar_visible = true; }
    double progress_width() const override { return width; }
    void set_progress_width(double twips) override {
        if (twips != 0) ++advances;
        width = twips;
    }
    void show_billboard(std::string_view title, std::string_view text) override {
        billboards.push_back({std::string(title), std::string(text), advances});
    }
    void hide_billboard() override { billboard_hidden = true; }
    void do_events() override {}
    void show_meldung(std::string_view message) override {
        meldungen.emplace_back(message);
        meldung_open = true;
    }
    void close_meldung() override { meldung_open = false; }
    void show_finish_page() override { ++finish_pages; }
};

class InstallFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Windows form of a host path.
    static std::string win(const fs::path& host);

    // A product file in data02.cab.
    void add_file(const std::string& name, const std::string& data, bool executable = false);
    void add_host_file(const std::string& name, const fs::path& host_file);
    // Script lines, "[Section]" or "key=value"; written CR LF.
    void script(const std::vector<std::string>& lines);
    // Writes medium, package folder and script; runs the install into `inst`.
    InstallResult install();

    std::string read(const fs::path& p) const;
    std::string log_text() const { return read(inst / "Uninstall.ini"); }
    std::vector<std::string> box_texts() const;

    fs::path root, temp, pkg, medium, inst, programs, desktop, data_home;
    FakeView view;
    std::vector<platform::MsgBoxRequest> boxes;

  private:
    testsupport::TempDir dir_{"install"};
    struct File {
        std::string name, data;
        bool exec;
    };
    std::vector<File> files_;
    std::string script_;
    std::unique_ptr<platform::ScopedMsgBoxHandler> box_handler_;
    std::string old_data_home_;
    bool had_data_home_ = false;
};

// The extractor program as built (bin/extractor).
fs::path extractor_binary();
// The test component library as built.
fs::path test_component_library();

}  // namespace setup::testing
