#include <cstdlib>

#include "install_util.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "setup/placeholders.h"
#include "setup/shell_link.h"
#include "testsupport/testsupport.h"
#include "tools/cab/cab_writer.h"

namespace setup::testing {

namespace {
using testsupport::slurp;
using testsupport::spit;
std::string bin_dir() {
    if (const char* b = std::getenv("VELTRIN_BIN")) return b;
    return std::string(VELTRIN_BINARY_DIR) + "/bin";
}
}  // namespace

fs::path extractor_binary() {
    return fs::path(bin_dir()) / "extractor";
}

fs::path test_component_library() {
    return fs::path(bin_dir()).parent_path() / "lib" / "libinstall_testcomponent.so";
}

void InstallFixture::SetUp() {
    root = dir_.host;
    temp = root / "temp";
    pkg = temp / "~Veltrin";
    medium = root / "medium";
    inst = root / "Programme" / "Beispiel 1.0";
    programs = root / "startmenu" / "Programme";
    desktop = root / "Desktop";
    data_home = root / "share";
    for (auto& d : {pkg, medium, programs, desktop, data_home}) fs::create_directories(d);

    platform::set_environ_override("TEMP", temp.string());
    view.install_path_value = win(inst);
    set_install_path_source([this] { return view.install_path_value; });
    set_special_folder_resolver([this](long id) -> std::optional<std::string> {
        if (id == 2) return programs.string();
        if (id == 0) return desktop.string();
        return std::nullopt;
    });
    if (const char* d = std::getenv("XDG_DATA_HOME")) {
        had_data_home_ = true;
        old_data_home_ = d;
    }
    ::setenv("XDG_DATA_HOME", data_home.c_str(), 1);
    box_handler_ =
        std::make_unique<platform::ScopedMsgBoxHandler>([this](const platform::MsgBoxRequest& r) {
            boxes.push_back(r);
            return platform::Result::OK;
        });
}

void InstallFixture::TearDown() {
    box_handler_.reset();
    platform::set_environ_override("TEMP", std::nullopt);
    set_install_path_source({});
    set_special_folder_resolver({});
    if (had_data_home_)
        ::setenv("XDG_DATA_HOME", old_data_home_.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    dir_.keep = ::testing::Test::HasFailure();
}

std::string InstallFixture::win(const fs::path& host) {
    return platform::windows_path(host.string());
}

void InstallFixture::add_file(const std::string& name, const std::string& data, bool executable) {
    files_.push_back({name, data, executable});
}

void InstallFixture::add_host_file(const std::string& name, const fs::path& host_file) {
    add_file(name, slurp(host_file), false);
}

void InstallFixture::script(const std::vector<std::string>& lines) {
    script_.clear();
    for (auto& l : lines) script_ += l + "\r\n";
}

InstallResult InstallFixture::install() {
    std::vector<cab::Entry> entries;
    for (auto& f : files_) {
        cab::Entry e;
        e.name = f.name;
        e.data = f.data;
        if (f.exec) e.attribs |= cab::attrib_exec;
        entries.push_back(std::move(e));
    }
    cab::Options options;
    options.folder_per_file = true;
    cab::write_cabinet((medium / "data02.cab").string(), entries, options);
    spit(medium / "unins.ex_", "MZ uninstaller");
    // The bootstrap leaves the extractor copy blocked ("X" in place of the "M").
    std::string extractor = slurp(extractor_binary());
    EXPECT_FALSE(extractor.empty()) << "extractor not built: " << extractor_binary();
    spit(pkg / "_setup.exe", "XZ" + extractor);
    fs::permissions(pkg / "_setup.exe", fs::perms::owner_all, fs::perm_options::add);
    spit(pkg / "Setup.INX", script_);

    InstallRunOptions options_run;
    options_run.program_folder = win(medium);
    return StartInstallation(view, view.install_path_value, "typed group", options_run);
}

std::string InstallFixture::read(const fs::path& p) const {
    return slurp(p);
}

std::vector<std::string> InstallFixture::box_texts() const {
    std::vector<std::string> t;
    for (auto& b : boxes) t.push_back(b.text);
    return t;
}

}  // namespace setup::testing
