#include "setup/shell_link.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/environment.h"
#include "platform/paths.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

class ShellLink : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("veltrin sl " + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        setup::set_special_folder_resolver({});
        fs::remove_all(dir_);
    }
    std::string win(const fs::path& p) const { return platform::windows_path(p.string()); }
    // A program that writes its arguments, one a line, into "ran.txt" beside itself.
    fs::path make_program(const std::string& name) {
        fs::path p = dir_ / name;
        std::ofstream(p) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \""
                         << (dir_ / "ran.txt").string() << ".tmp\"\nmv \""
                         << (dir_ / "ran.txt").string() << ".tmp\" \""
                         << (dir_ / "ran.txt").string() << "\"\n";
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }
    static bool tool_available(const char* tool) {
        return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
    }
    fs::path dir_;
};

// Sets a process environment variable for a scope.
class EnvVar {
  public:
    EnvVar(const char* name, const std::string& value) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvVar() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

struct Read {
    bool ok;
    std::string exe, work, args, icon;
    long idx = -1, show = -1;
};

Read read_back(const std::string& lnk) {
    Read r{};
    setup::cShellLink link;
    r.ok = link.GetShellLinkInfo(lnk, r.exe, r.work, r.args, r.icon, r.idx, r.show);
    return r;
}

TEST_F(ShellLink, WrittenValuesComeBackWithEveryOptionalFieldSetOrEmpty) {
    const fs::path prog = make_program("Morvo Prog");
    struct Case {
        std::string name, work, args, icon;
        long idx, show;
        std::string cap;
    } cases[] = {
        {"all.desktop", win(dir_), "/x \"a b\" 100%", win(prog), 3, 7, "Beschreibung mit Ümlaut"},
        {"none.desktop", "", "", "", 9, 5, ""},
    };
    for (const auto& c : cases) {
        setup::cShellLink link;
        const std::string lnk = win(dir_ / c.name);
        ASSERT_TRUE(
            link.CreateShellLink(lnk, win(prog), c.work, c.args, c.icon, c.idx, c.show, c.cap));
        Read r = read_back(lnk);
        ASSERT_TRUE(r.ok);
        // Outputs are 255-character buffers: the value, a NUL, then spaces.
        for (const std::string* b : {&r.exe, &r.work, &r.args, &r.icon}) {
            EXPECT_EQ(b->size(), 255u);
            EXPECT_EQ(b->find_first_not_of(' ', b->find('\0') + 1), std::string::npos);
        }
        EXPECT_EQ(setup::cut_at_nul(r.exe), win(prog));
        EXPECT_EQ(setup::cut_at_nul(r.work), c.work);
        EXPECT_EQ(setup::cut_at_nul(r.args), c.args);
        EXPECT_EQ(setup::cut_at_nul(r.icon), c.icon);
        EXPECT_EQ(r.idx, c.icon.empty() ? 0 : c.idx);  // no icon: the index is not stored
        EXPECT_EQ(r.show, c.show);

        const std::string text = slurp(dir_ / c.name);
        EXPECT_EQ(text.find("Path=") != std::string::npos, !c.work.empty());
        EXPECT_EQ(text.find("\nIcon=") != std::string::npos, !c.icon.empty());
        EXPECT_NE(text.find("Comment=" + c.cap + "\n"), std::string::npos);  // even when empty
        // Paths inside the entry are host paths.
        EXPECT_NE(text.find(prog.string()), std::string::npos);
    }
}

TEST_F(ShellLink, NameIsUsedAsGivenAndEmptyArgumentsWriteNothing) {
    const fs::path prog = make_program("p");
    setup::cShellLink link;
    ASSERT_TRUE(link.CreateShellLink(win(dir_ / "Morvolan"), win(prog), "", "", "", 0, 5, ""));
    EXPECT_TRUE(fs::is_regular_file(dir_ / "Morvolan"));
    EXPECT_NE(slurp(dir_ / "Morvolan").find("Name=Morvolan\n"), std::string::npos);

    const auto before = std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
    EXPECT_FALSE(link.CreateShellLink("", win(prog), "", "", "", 0, 5, ""));
    EXPECT_FALSE(link.CreateShellLink(win(dir_ / "x.desktop"), "", "", "", "", 0, 5, ""));
    // A folder that does not exist: no file, no temporary left behind.
    EXPECT_FALSE(
        link.CreateShellLink(win(dir_ / "nix" / "x.desktop"), win(prog), "", "", "", 0, 5, ""));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), before);

    Read r = read_back("");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(read_back(win(dir_ / "missing.desktop")).ok);
    std::ofstream(dir_ / "plain.txt") << "no entry\n";
    EXPECT_FALSE(read_back(win(dir_ / "plain.txt")).ok);
}

TEST_F(ShellLink, SpecialFolders) {
    setup::cShellLink link;
    std::string path = "before";
    setup::set_special_folder_resolver([](long id) -> std::optional<std::string> {
        if (id == 0) return std::string();  // resolves to an empty path
        if (id == 2) return std::string("/srv/menu/");
        return std::nullopt;
    });
    EXPECT_TRUE(link.GetSystemFolderPath(0, 0, path));
    EXPECT_EQ(path, "before");
    EXPECT_FALSE(link.GetSystemFolderPath(0, 5, path));
    EXPECT_EQ(path, "before");
    EXPECT_TRUE(link.GetSystemFolderPath(0, 2, path));
    EXPECT_EQ(path, "C:\\srv\\menu");

    // The real lookup: the XDG desktop folder and the applications folder of the data home.
    setup::set_special_folder_resolver({});
    fs::create_directories(dir_ / "cfg");
    std::ofstream(dir_ / "cfg" / "user-dirs.dirs")
        << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    // The lookup reads the process environment.
    const EnvVar home("HOME", (dir_ / "home").string());
    const EnvVar config("XDG_CONFIG_HOME", (dir_ / "cfg").string());
    const EnvVar data("XDG_DATA_HOME", (dir_ / "data").string());
    EXPECT_TRUE(link.GetSystemFolderPath(0, 0, path));
    EXPECT_EQ(path, win(dir_ / "home" / "Schreibtisch"));
    EXPECT_TRUE(link.GetSystemFolderPath(0, 2, path));
    EXPECT_EQ(path, win(dir_ / "data" / "applications"));
    fs::remove(dir_ / "cfg" / "user-dirs.dirs");
    EXPECT_TRUE(link.GetSystemFolderPath(0, 0, path));
    EXPECT_EQ(path, win(dir_ / "home" / "Desktop"));
}

TEST_F(ShellLink, DesktopAcceptsAndStartsTheShortcut) {
    if (!tool_available("desktop-file-validate") || !tool_available("gio")) {
        GTEST_SKIP() << "desktop-file-utils or libglib2.0-bin missing";
    }
    const fs::path prog = make_program("Mein Programm");
    setup::cShellLink link;
    const std::string args = "/a \"zwei Worte\" 50% $HOME `x` back\\slash";
    ASSERT_TRUE(link.CreateShellLink(win(dir_ / "Morvolan.desktop"), win(prog), win(dir_), args,
                                     win(prog), 0, 5, "Startet das Programm"));
    ASSERT_TRUE(link.CreateShellLink(win(dir_ / "Leer.desktop"), win(prog), "", "", "", 0, 5, ""));
    for (const char* name : {"Morvolan.desktop", "Leer.desktop"}) {
        const std::string cmd = "desktop-file-validate '" + (dir_ / name).string() + "' > '" +
                                (dir_ / "v.txt").string() + "' 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << slurp(dir_ / "v.txt");
        EXPECT_EQ(slurp(dir_ / "v.txt").find("error"), std::string::npos) << slurp(dir_ / "v.txt");
    }
    const std::string launch = "gio launch '" + (dir_ / "Morvolan.desktop").string() + "'";
    ASSERT_EQ(std::system(launch.c_str()), 0);
    const fs::path ran = dir_ / "ran.txt";
    for (int i = 0; i < 100 && !fs::exists(ran); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(ran)) << "the shortcut did not start the program";
    EXPECT_EQ(slurp(ran), "/a\nzwei Worte\n50%\n$HOME\n`x`\nback\\slash\n");
}

// A program in the layer's container starts from its own folder with its arguments, and the
// unpacked copy goes again.
TEST_F(ShellLink, ContainerProgramStartsFromTheDesktop) {
    if (!tool_available("desktop-file-validate") || !tool_available("gio")) {
        GTEST_SKIP() << "desktop-file-utils or libglib2.0-bin missing";
    }
    const fs::path folder = dir_ / "Install Ordner";
    fs::create_directories(folder);
    const fs::path prog = folder / "Uninstall.exe";
    std::ofstream(prog)
        << "MZ#!/bin/sh\n{ dirname \"$0\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
           "done; } > \""
        << (dir_ / "ran.tmp").string() << "\"\nmv \"" << (dir_ / "ran.tmp").string() << "\" \""
        << (dir_ / "ran.txt").string() << "\"\n";
    fs::permissions(prog, fs::perms::owner_all);
    setup::cShellLink link;
    const fs::path lnk = dir_ / "Entfernen.desktop";
    ASSERT_TRUE(
        link.CreateShellLink(win(lnk), win(prog), win(folder), "/s \"a b\"", win(prog), 0, 5, ""));
    const std::string validate =
        "desktop-file-validate '" + lnk.string() + "' > '" + (dir_ / "v.txt").string() + "' 2>&1";
    EXPECT_EQ(std::system(validate.c_str()), 0) << slurp(dir_ / "v.txt");
    ASSERT_EQ(std::system(("gio launch '" + lnk.string() + "'").c_str()), 0);
    const fs::path ran = dir_ / "ran.txt";
    for (int i = 0; i < 100 && !fs::exists(ran); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(ran)) << "the shortcut did not start the container's program";
    EXPECT_EQ(slurp(ran), folder.string() + "\n/s\na b\n");
    Read r = read_back(win(lnk));
    EXPECT_EQ(setup::cut_at_nul(r.exe), win(prog));
    // The unpacked copy is removed a moment later.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    int files = 0;
    for (const auto& e : fs::directory_iterator(folder)) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

}  // namespace
