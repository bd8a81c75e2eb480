// Windows paths on the host: drive letters from a fixture mount table, UNC names through
// mounted shares, case-insensitive lookup, drive kinds and the network connection of a letter.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "core_fixture.h"

namespace {

using core_test::TempDir;

// A scratch folder holding the mount points of a fixture mount table, installed for the test.
class FixtureMounts : public ::testing::Test {
  protected:
    TempDir dir;
    std::string text;

    void SetUp() override {
        for (const char* d : {"ram", "cd", "net", "usb", "data", "nfs", "my stick", "gvfs",
                              "gvfs/smb-share:server=nas,share=public", "cd/Sub"}) {
            ::mkdir(dir.file(d).c_str(), 0755);
        }
        const std::string t = dir.host;
        text =
            "/dev/sda1 / ext4 rw,relatime 0 0\n"
            "proc /proc proc rw 0 0\n"
            "tmpfs " +
            t +
            "/ram tmpfs rw 0 0\n"
            "/dev/sr0 " +
            t +
            "/cd iso9660 ro 0 0\n"
            "//fileserver/daten " +
            t +
            "/net cifs rw 0 0\n"
            "/dev/sdb1 " +
            t +
            "/usb vfat rw 0 0\n"
            "/dev/sda2 " +
            t +
            "/data ext4 rw 0 0\n"
            "srv2:/export/home " +
            t +
            "/nfs nfs4 rw 0 0\n"
            "/dev/sdc1 " +
            t +
            "/my\\040stick vfat rw 0 0\n"
            "gvfsd-fuse " +
            t + "/gvfs fuse.gvfsd-fuse rw 0 0\n";
        const std::string copy = text;
        mounts_.emplace(platform::set_mount_table_source, [copy] { return copy; });
        removable_.emplace(platform::set_removable_probe, [](const std::string& dev) {
            return dev == "/dev/sdb1" || dev == "/dev/sdc1";
        });
    }
    std::optional<testsupport::ScopedSeam> mounts_, removable_;
};

TEST(MountTable, ParsesFieldsAndEscapes) {
    const auto m = platform::parse_mount_table(
        "/dev/sr0 /media/anna/CD\\040ROM iso9660 ro,nosuid 0 0\n"
        "\n"
        "garbage\n"
        "//srv/a\\134b /mnt/x/ cifs rw 0 0\r\n"
        "dev relative ext4 rw 0 0\n");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].device, "/dev/sr0");
    EXPECT_EQ(m[0].mount_point, "/media/anna/CD ROM");
    EXPECT_EQ(m[0].fs_type, "iso9660");
    EXPECT_EQ(m[0].options, "ro,nosuid");
    EXPECT_EQ(m[1].device, "//srv/a\\b");
    EXPECT_EQ(m[1].mount_point, "/mnt/x");
}

TEST_F(FixtureMounts, LettersInMountOrderForRemovableOpticalAndNetwork) {
    const auto drives = platform::drive_letters();
    struct Want {
        char letter;
        std::string root;
        unsigned int type;
    } want[] = {
        {'C', "/", platform::DRIVE_FIXED},
        {'D', dir.file("cd"), platform::DRIVE_CDROM},
        {'E', dir.file("net"), platform::DRIVE_REMOTE},
        {'F', dir.file("usb"), platform::DRIVE_REMOVABLE},
        {'G', dir.file("nfs"), platform::DRIVE_REMOTE},
        {'H', dir.file("my stick"), platform::DRIVE_REMOVABLE},
    };
    ASSERT_EQ(drives.size(), std::size(want));
    for (std::size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].letter, want[i].letter);
        EXPECT_EQ(drives[i].root, want[i].root);
        EXPECT_EQ(drives[i].type, want[i].type) << drives[i].letter;
    }
}

TEST_F(FixtureMounts, DriveKinds) {
    const std::string ram = platform::windows_path(dir.file("ram"));
    const std::string data = platform::windows_path(dir.file("data"));
    struct Case {
        std::string path;
        unsigned int type;
    } cases[] = {
        {"C:\\", platform::DRIVE_FIXED},
        {ram + "\\", platform::DRIVE_RAMDISK},  // tmpfs is a RAM disk
        {"D:\\", platform::DRIVE_CDROM},        // iso9660
        {"d:\\sub\\", platform::DRIVE_CDROM},   // a folder on it, any case
        {"E:\\", platform::DRIVE_REMOTE},       // cifs
        {"\\\\fileserver\\daten\\", platform::DRIVE_REMOTE},
        {"F:\\", platform::DRIVE_REMOVABLE},
        {data + "\\", platform::DRIVE_FIXED},           // a fixed block device
        {"G:\\", platform::DRIVE_REMOTE},               // nfs4
        {"\\\\nas\\public\\", platform::DRIVE_REMOTE},  // gvfs
        {"Q:\\", platform::DRIVE_NO_ROOT_DIR},          // no such letter
        {"C:\\no\\such\\folder\\", platform::DRIVE_NO_ROOT_DIR},
        {"\\\\nobody\\nothing\\", platform::DRIVE_NO_ROOT_DIR},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::GetDriveTypeA(c.path), c.type) << c.path;
}

TEST_F(FixtureMounts, WindowsToHost) {
    const std::string t = dir.host;
    struct Case {
        std::string win;
        std::string host;
    } cases[] = {
        {"C:\\home\\anna", "/home/anna"},
        {"c:/home/anna/", "/home/anna"},
        {"C:\\", "/"},
        {"C:\\a\\..\\b\\.\\c", "/b/c"},
        {"C:\\..\\..\\x", "/x"},
        {"C:\\a\\\\b", "/a/b"},
        {"D:\\Sub\\file.txt", t + "/cd/Sub/file.txt"},
        {"D:\\sub\\file.txt", t + "/cd/Sub/file.txt"},  // the existing folder, by case
        {"E:\\Ablage", t + "/net/Ablage"},
        {"\\\\fileserver\\daten\\Ablage", t + "/net/Ablage"},
        {"\\\\FILESERVER\\Daten\\Ablage", t + "/net/Ablage"},
        {"//fileserver/daten/Ablage", t + "/net/Ablage"},
        {"\\\\srv2\\export\\home\\y", t + "/nfs/y"},
        {"\\\\NAS\\Public\\doc", t + "/gvfs/smb-share:server=nas,share=public/doc"},
        {"\\\\unknown\\share\\x", ""},
        {"\\\\fileserver", ""},
        {"Q:\\x", ""},
        {std::string("C:\\a\0\\b", 7), "/a"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::host_path(c.win), c.host) << c.win;
    // "C:" alone is the current folder of drive C, as on Windows.
    char cwd[PATH_MAX];
    ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
    EXPECT_EQ(platform::host_path("C:"), cwd);
}

TEST_F(FixtureMounts, HostToWindows) {
    const std::string t = dir.host;
    const std::string tw = "C:" + [&] {
        std::string s = t;
        for (char& ch : s) ch = ch == '/' ? '\\' : ch;
        return s;
    }();
    struct Case {
        std::string host;
        std::string win;
    } cases[] = {
        {"/home/anna", "C:\\home\\anna"},
        {"/", "C:\\"},
        {"/a//b/../c/", "C:\\a\\c"},
        {t + "/cd", "D:\\"},
        {t + "/cd/Sub/x.txt", "D:\\Sub\\x.txt"},
        {t + "/net/Ablage", "E:\\Ablage"},
        {t + "/my stick/a", "H:\\a"},
        {t + "/ram/x", tw + "\\ram\\x"},  // a RAM disk gets no letter of its own
        {t + "/cdrom", tw + "\\cdrom"},   // a name that only begins like a mount point
        {t + "/gvfs/smb-share:server=nas,share=public/doc", "\\\\nas\\public\\doc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::windows_path(c.host), c.win) << c.host;
        // And back again (the gvfs case by its UNC name).
        std::string back = c.host;
        while (back.size() > 1 && back.back() == '/') back.pop_back();
        if (c.host == "/a//b/../c/") back = "/a/c";
        EXPECT_EQ(platform::host_path(c.win), back) << c.win;
    }
}

// Where a person reads or types: each place in both forms gives one Windows path, and shows as
// the host form, a trailing separator kept.
TEST_F(FixtureMounts, TypedInEitherFormShownAsHostPath) {
    const std::string t = dir.host;
    struct Case {
        std::string host, win;
    } cases[] = {
        {"/", "C:\\"},
        {"/home/anna/Ablage/", "C:\\home\\anna\\Ablage\\"},
        {"/opt/Hallo", "C:\\opt\\Hallo"},
        {t + "/cd/Sub", "D:\\Sub"},
        {t + "/net/Ablage/", "E:\\Ablage\\"},
        {t + "/my stick/", "H:\\"},
        {"//srv/daten/x/", "\\\\srv\\daten\\x\\"},  // a network name stays one
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::typed_path(c.host), c.win) << c.host;
        EXPECT_EQ(platform::typed_path(c.win), c.win) << c.win;
        EXPECT_EQ(platform::shown_path(c.win), c.host) << c.win;
        EXPECT_EQ(platform::shown_path(c.host), c.host) << c.host;
    }
    testsupport::ScopedEnv home("HOME", "/home/anna");
    EXPECT_EQ(platform::typed_path("~/Ablage/"), "C:\\home\\anna\\Ablage\\");
    EXPECT_EQ(platform::typed_path("Ablage"), "Ablage");
    // The chooser's places: the file system, home, then the lettered volumes.
    const auto places = platform::places();
    ASSERT_EQ(places.size(), 7u);
    EXPECT_EQ(places[1].text, "/home/anna");
    EXPECT_EQ(places[2].text, t + "/cd");
    EXPECT_EQ(places[2].type, platform::DRIVE_CDROM);
    EXPECT_EQ(platform::place_of(places, "d:\\Sub"), 2u);
    EXPECT_EQ(platform::place_of(places, "C:\\home\\anna\\x"), 1u);
    EXPECT_EQ(platform::place_of(places, "C:\\home\\annabel"), 0u);
}

TEST_F(FixtureMounts, NetworkConnectionOfALetter) {
    struct Case {
        const char* local;
        long result;
        std::string remote;
    } cases[] = {
        {"E:", platform::NO_ERROR, "\\\\fileserver\\daten"},
        {"e:", platform::NO_ERROR, "\\\\fileserver\\daten"},
        {"G:", platform::NO_ERROR, "\\\\srv2\\export\\home"},
        {"C:", platform::ERROR_NOT_CONNECTED, ""},
        {"D:", platform::ERROR_NOT_CONNECTED, ""},
        {"Z:", platform::ERROR_NOT_CONNECTED, ""},
        {"E:\\", platform::ERROR_BAD_DEVICE, ""},
    };
    for (const auto& c : cases) {
        // The two-call protocol: ask for the size, then fetch into a buffer of that size.
        unsigned long length = 0;
        long r = platform::WNetGetConnectionA(c.local, nullptr, &length);
        if (c.result != platform::NO_ERROR) {
            EXPECT_EQ(r, c.result) << c.local;
            EXPECT_FALSE(platform::network_connection(c.local).has_value()) << c.local;
            continue;
        }
        ASSERT_EQ(r, platform::ERROR_MORE_DATA) << c.local;
        ASSERT_EQ(length, c.remote.size() + 1);
        std::string buffer(length, ' ');
        unsigned long short_length = length - 1;
        EXPECT_EQ(platform::WNetGetConnectionA(c.local, buffer.data(), &short_length),
                  platform::ERROR_MORE_DATA);
        EXPECT_EQ(platform::WNetGetConnectionA(c.local, buffer.data(), &length),
                  platform::NO_ERROR);
        EXPECT_EQ(std::string(buffer.c_str()), c.remote);
        EXPECT_EQ(platform::network_connection(c.local).value_or(""), c.remote);
    }
}

TEST(Paths, CaseInsensitiveLookup) {
    TempDir dir;
    ::mkdir(dir.file("Dir1").c_str(), 0755);
    ::mkdir(dir.file("Gr\u00F6\u00DFe").c_str(), 0755);
    ::mkdir(dir.file("a").c_str(), 0755);
    ::mkdir(dir.file("A").c_str(), 0755);
    core_test::spit(dir.file("Dir1/Uninstall.ini"), "x");
    const std::string w = dir.win();
    struct Case {
        std::string win;
        std::string host;
    } cases[] = {
        {w + "\\Dir1\\Uninstall.ini", dir.file("Dir1/Uninstall.ini")},
        {w + "\\dir1\\uninstall.INI", dir.file("Dir1/Uninstall.ini")},
        {w + "\\DIR1\\neu\\Datei.txt", dir.file("Dir1/neu/Datei.txt")},  // tail kept as given
        {w + "\\GR\u00D6\u00DFE", dir.file("Gr\u00F6\u00DFe")},          // umlaut folded
        {w + "\\a", dir.file("a")},  // an exact match wins over a folded one
        {w + "\\A", dir.file("A")},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::host_path(c.win), c.host) << c.win;
}

TEST(Paths, RelativePathsStartInTheCurrentFolder) {
    TempDir dir;
    char old[PATH_MAX];
    ASSERT_TRUE(::getcwd(old, sizeof old));
    ASSERT_EQ(::chdir(dir.host.c_str()), 0);
    char real[PATH_MAX];
    ASSERT_TRUE(::realpath(dir.host.c_str(), real));
    const std::string here = real;
    EXPECT_EQ(platform::host_path("sub\\x.txt"), here + "/sub/x.txt");
    EXPECT_EQ(platform::host_path("..\\y"), here.substr(0, here.rfind('/')) + "/y");
    EXPECT_EQ(platform::host_path("\\etc"), "/etc");
    EXPECT_EQ(platform::windows_path("z"), platform::windows_path(here) + "\\z");
    ASSERT_EQ(::chdir(old), 0);
}

TEST(Paths, DirectoryAndShortNames) {
    TempDir dir;
    ::mkdir(dir.file("Folder").c_str(), 0755);
    core_test::spit(dir.file("file.txt"), "x");
    struct Case {
        std::string win;
        bool is_dir;
        std::string short_name;
    } cases[] = {
        {dir.win("Folder"), true, dir.win("Folder")},
        {dir.win("folder\\"), true, dir.win("folder\\")},
        {dir.win("file.txt"), false, dir.win("file.txt")},
        {dir.win("missing"), false, ""},
        {"Q:\\", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::PathIsDirectoryA(c.win), c.is_dir) << c.win;
        EXPECT_EQ(platform::GetShortPathNameA(c.win), c.short_name) << c.win;
    }
}

TEST(Paths, AppPathIsTheProgramFolder) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    ASSERT_GT(n, 0);
    std::string exe(buf, static_cast<std::size_t>(n));
    const std::string folder = exe.substr(0, exe.rfind('/'));
    EXPECT_EQ(platform::app_path(), platform::windows_path(folder));
    EXPECT_EQ(platform::host_path(platform::app_path()), folder);
    platform::set_app_path("C:\\medium");
    EXPECT_EQ(platform::app_path(), "C:\\medium");
    platform::set_app_path("");
    EXPECT_EQ(platform::app_path(), platform::windows_path(folder));
}

TEST(Paths, RealMountTableGivesCAsRoot) {
    const auto drives = platform::drive_letters();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives[0].letter, 'C');
    EXPECT_EQ(drives[0].root, "/");
    EXPECT_EQ(platform::GetDriveTypeA("C:\\no-such-folder-at-all\\"), platform::DRIVE_NO_ROOT_DIR);
}

}  // namespace
