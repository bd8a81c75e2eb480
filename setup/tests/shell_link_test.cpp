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
#include "platform/program_container.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::slurp;

class ShellLink : public ::testing::Test {
  protected:
    testsupport::TempDir scratch_{"sl dir"};
    fs::path dir_ = scratch_.path();
    testsupport::ScopedSeam resolver_{[] { setup::set_special_folder_resolver({}); }};
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
};

using EnvVar = testsupport::ScopedEnv;

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
        // Escapes in the entry: a leading blank, a backslash before a letter, a tab.
        {"escaped.desktop", "", " lead \\s\\n\tend", "", 1, 1, "x"},
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
        // A program holds no icon a desktop can show: a themed one stands in.
        EXPECT_NE(text.find("\nIcon=application-x-executable\n"), std::string::npos);
        // The description is the comment; none is left out rather than written empty.
        EXPECT_EQ(text.find("\nComment=" + c.cap + "\n") != std::string::npos, !c.cap.empty());
        EXPECT_EQ(text.find("Comment=") != std::string::npos, !c.cap.empty());
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
    const std::string menu = (dir_ / "srv" / "menu").string();
    setup::set_special_folder_resolver([&](long id) -> std::optional<std::string> {
        if (id == 0) return std::string();  // resolves to an empty path
        if (id == 2) return menu + "/";
        return std::nullopt;
    });
    EXPECT_TRUE(link.GetSystemFolderPath(0, 0, path));
    EXPECT_EQ(path, "before");
    EXPECT_FALSE(link.GetSystemFolderPath(0, 5, path));
    EXPECT_EQ(path, "before");
    EXPECT_TRUE(link.GetSystemFolderPath(0, 2, path));
    EXPECT_EQ(path, win(menu));
    EXPECT_TRUE(fs::is_directory(menu));  // created with its parents when used

    // The real lookup: the XDG desktop folder and the applications folder of the data home; for
    // root the menu every user sees.
    setup::set_special_folder_resolver({});
    fs::create_directories(dir_ / "cfg");
    std::ofstream(dir_ / "cfg" / "user-dirs.dirs")
        << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    const testsupport::ScopedSeam host{[] { platform::set_host_environment(std::nullopt); }};
    platform::HostEnvironment env;
    env.variables = {{"HOME", (dir_ / "home").string()},
                     {"XDG_CONFIG_HOME", (dir_ / "cfg").string()},
                     {"XDG_DATA_HOME", (dir_ / "data").string()},
                     {"XDG_DATA_DIRS", "relative:" + (dir_ / "system").string() + "/:/usr/share"}};
    for (const bool root : {false, true}) {
        env.is_root = root;
        platform::set_host_environment(env);
        const fs::path menu =
            root ? dir_ / "system" / "applications" : dir_ / "data" / "applications";
        EXPECT_TRUE(link.GetSystemFolderPath(0, 0, path));
        EXPECT_EQ(path, win(dir_ / "home" / "Schreibtisch")) << root;
        EXPECT_TRUE(link.GetSystemFolderPath(0, 2, path));
        EXPECT_EQ(path, win(menu)) << root;
        EXPECT_TRUE(fs::is_directory(menu));
    }
    EXPECT_TRUE(fs::is_directory(dir_ / "home" / "Schreibtisch"));
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

// Every shortcut names an icon a desktop can show: the icon file when it is a picture, else a
// themed icon that fits the target; and menu categories: the script's, else those of the target.
TEST_F(ShellLink, IconAndCategoriesFitTheTarget) {
    const fs::path prog = make_program("prog"), uninstaller = make_program("Uninstall.exe");
    std::ofstream(dir_ / "Produkt.svg") << "<svg xmlns=\"http://www.w3.org/2000/svg\"/>";
    std::ofstream(dir_ / "Handbuch.pdf") << "%PDF-1.4";
    std::ofstream(dir_ / "Liesmich.txt") << "Text";
    struct Case {
        fs::path target, icon;
        std::string expected, categories, expected_categories;
    } cases[] = {
        {prog, dir_ / "Produkt.svg", (dir_ / "Produkt.svg").string(), "", "Utility;"},
        {prog, prog, "application-x-executable", "Office;Email", "Office;Email;"},
        {prog, dir_ / "fehlt.svg", "application-x-executable", "Network;", "Network;"},
        {uninstaller, "", "application-x-executable", "", "Settings;PackageManager;"},
        {dir_ / "Handbuch.pdf", dir_ / "Handbuch.pdf", "application-pdf", "",
         "Utility;Documentation;"},
        {dir_ / "Liesmich.txt", "", "text-x-generic", "", "Utility;Documentation;"},
        {dir_, "", "folder", "", "Utility;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.string() + " / " + c.icon.string());
        setup::cShellLink link;
        const fs::path lnk = dir_ / "l.desktop";
        ASSERT_TRUE(link.CreateShellLink(win(lnk), win(c.target), "", "",
                                         c.icon.empty() ? "" : win(c.icon), 0, 5, "",
                                         c.categories));
        EXPECT_NE(slurp(lnk).find("\nIcon=" + c.expected + "\n"), std::string::npos) << slurp(lnk);
        EXPECT_NE(slurp(lnk).find("\nCategories=" + c.expected_categories + "\n"),
                  std::string::npos)
            << slurp(lnk);
        EXPECT_EQ(setup::cut_at_nul(read_back(win(lnk)).icon), c.icon.empty() ? "" : win(c.icon));
    }
}

// A container in a folder the user cannot write to still starts natively: its payload is
// copied to a private folder, never beside the container. (Run as an unprivileged user when the
// tests run as root, who could write anyway.)
TEST_F(ShellLink, ContainerInAReadOnlyFolderStarts) {
    const bool root = ::geteuid() == 0;
    if (root && !tool_available("setpriv")) GTEST_SKIP() << "setpriv missing";
    const fs::path folder = dir_ / "nur lesen";
    fs::create_directories(folder);
    std::ofstream(folder / "Prog.exe")
        << platform::container_head() << "#!/bin/sh\necho \"gestartet $1\"\nexit 3\n";
    fs::permissions(folder / "Prog.exe",
                    fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    fs::permissions(dir_, fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
    const std::string as_user = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const std::string cmd = "cd / && env -u XDG_RUNTIME_DIR " + as_user + "sh -c '\"$0\" eins' '" +
                            (folder / "Prog.exe").string() + "' > '" + (dir_ / "out.txt").string() +
                            "'";
    const int status = std::system(cmd.c_str());
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(slurp(dir_ / "out.txt"), "gestartet eins\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// A program in the layer's container: Exec names the container itself, the desktop starts it
// with its arguments from its folder, and the private copy of the payload goes again.
TEST_F(ShellLink, ContainerProgramStartsFromTheDesktop) {
    if (!tool_available("desktop-file-validate") || !tool_available("gio")) {
        GTEST_SKIP() << "desktop-file-utils or libglib2.0-bin missing";
    }
    const fs::path folder = dir_ / "Install Ordner";
    fs::create_directories(folder);
    fs::create_directories(dir_ / "run");
    const EnvVar runtime("XDG_RUNTIME_DIR", (dir_ / "run").string());
    const fs::path prog = folder / "Uninstall.exe";
    std::ofstream(prog) << platform::container_head()
                        << "#!/bin/sh\n{ pwd; dirname \"$VELTRIN_CONTAINER\"; for a in \"$@\"; do "
                           "printf '%s\\n' \"$a\"; done; } > \""
                        << (dir_ / "ran.tmp").string() << "\"\nmv \"" << (dir_ / "ran.tmp").string()
                        << "\" \"" << (dir_ / "ran.txt").string() << "\"\n";
    fs::permissions(prog, fs::perms::owner_all);
    setup::cShellLink link;
    const fs::path lnk = dir_ / "Entfernen.desktop";
    ASSERT_TRUE(
        link.CreateShellLink(win(lnk), win(prog), win(folder), "/s \"a b\"", win(prog), 0, 5, ""));
    EXPECT_NE(slurp(lnk).find("\nExec=\"" + prog.string() + "\" /s \"a b\"\n"), std::string::npos)
        << slurp(lnk);
    const std::string validate =
        "desktop-file-validate '" + lnk.string() + "' > '" + (dir_ / "v.txt").string() + "' 2>&1";
    EXPECT_EQ(std::system(validate.c_str()), 0) << slurp(dir_ / "v.txt");
    EXPECT_EQ(slurp(dir_ / "v.txt"), "");
    ASSERT_EQ(std::system(("gio launch '" + lnk.string() + "'").c_str()), 0);
    const fs::path ran = dir_ / "ran.txt";
    for (int i = 0; i < 100 && !fs::exists(ran); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(ran)) << "the shortcut did not start the container's program";
    EXPECT_EQ(slurp(ran), folder.string() + "\n" + folder.string() + "\n/s\na b\n");
    Read r = read_back(win(lnk));
    EXPECT_EQ(setup::cut_at_nul(r.exe), win(prog));
    // The private copy goes when the program has ended; nothing is written beside it.
    bool empty = false;
    for (int i = 0; i < 100 && !(empty = fs::is_empty(dir_ / "run")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(empty);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

}  // namespace
