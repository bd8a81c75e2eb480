// The install run on a large generated package.
//   bench_install make DIR          writes DIR/medium (data02.cab, unins.ex_) and DIR/Setup.INX
//   bench_install run DIR EXTRACTOR [OUT]
//                                   installs it into OUT/inst (OUT defaults to DIR); prints
//                                   "seconds entries max_rss_kb cpu_seconds" (cpu: with children)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/paths.h"
#include "setup/install_run.h"
#include "setup/placeholders.h"
#include "setup/shell_link.h"
#include "tools/cab/cab_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;
constexpr size_t kTotalBytes = 200u * 1000u * 1000u;

// Text-like content (words from a small vocabulary), so the cabinet compresses as real files do.
std::string content(int index, size_t size) {
    static const char* words[] = {"Morvolan ", "Anhang ",  "Ordner ", "Postfach ",    "Datei ",
                                  "Speicher ", "Eintrag ", "Archiv ", "Nachricht ",   "0x1F ",
                                  "\r\n",      "Setup ",   "Gruppe ", "Verknüpfung ", "Text "};
    std::string s;
    s.reserve(size + 16);
    unsigned long x = 2463534242UL + static_cast<unsigned long>(index) * 7919UL;
    while (s.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        x &= 0xFFFFFFFFUL;
        if (x % 7 == 0) s += std::to_string(x % 100000);
        s += words[x % (sizeof words / sizeof *words)];
    }
    s.resize(size);
    return s;
}

int make(const fs::path& dir) {
    fs::create_directories(dir / "medium");
    std::vector<cab::Entry> entries;
    std::ostringstream inx;
    inx << "[Main]\r\nProduktName=Bench\r\nProgrammGruppe=Bench\r\nUninstall=1\r\n"
        << "[Dateien]\r\nAnzahlDateien=" << kFiles << "\r\n";
    const size_t per_file = kTotalBytes / kFiles;
    for (int i = 0; i < kFiles; ++i) {
        // Sizes vary around the mean; the total stays 200 MB.
        size_t size = (i % 2) ? per_file * 3 / 2 : per_file / 2;
        std::string name = "datei" + std::to_string(i) + ".bin";
        cab::Entry e;
        e.name = name;
        e.data = content(i, size);
        entries.push_back(std::move(e));
        inx << "Datei" << i << "=#InstallPath#\\teil" << (i / 200) << "\r\n"
            << "DateiN" << i << "=" << name << "\r\n";
    }
    inx << "[Billboards]\r\nAnzBillboards=3\r\nTitle1=Eins\r\nText1=a|b\r\nTitle2=Zwei\r\n"
        << "Title3=Drei\r\n";
    cab::Options options;
    options.folder_per_file = true;
    options.level = 6;
    cab::write_cabinet((dir / "medium" / "data02.cab").string(), entries, options);
    std::ofstream(dir / "medium" / "unins.ex_", std::ios::binary) << "MZ";
    std::ofstream(dir / "Setup.INX", std::ios::binary) << inx.str();
    return 0;
}

class BenchView : public setup::InstallView {
  public:
    std::string F;
    double width = 0;
    std::string install_path() const override { return F; }
    std::string programmgruppe() const override { return "Bench"; }
    long window_handle() const override { return 0; }
    double screen_width_twips() const override { return 19200; }
    void set_step_installing() override {}
    void set_status(std::string_view) override {}
    void show_progress_bar() override {}
    double progress_width() const override { return width; }
    void set_progress_width(double twips) override { width = twips; }
    void show_billboard(std::string_view, std::string_view) override {}
    void hide_billboard() override {}
    void do_events() override {}
    void show_meldung(std::string_view) override {}
    void close_meldung() override {}
    void show_finish_page() override {}
};

int run(const fs::path& dir, const fs::path& extractor, const fs::path& out) {
    fs::path temp = out / "temp", pkg = temp / "~Veltrin", inst = out / "inst";
    fs::remove_all(inst);
    fs::remove_all(temp);
    fs::remove_all(out / "programs");
    fs::create_directories(pkg);
    fs::create_directories(out / "programs");
    {
        std::ifstream in(extractor, std::ios::binary);
        std::ofstream out(pkg / "_setup.exe", std::ios::binary);
        out << "XZ" << in.rdbuf();
    }
    fs::permissions(pkg / "_setup.exe", fs::perms::owner_all, fs::perm_options::add);
    fs::copy_file(dir / "Setup.INX", pkg / "Setup.INX");

    platform::set_environ_override("TEMP", temp.string());
    BenchView view;
    view.F = platform::windows_path(inst.string());
    setup::set_install_path_source([&] { return view.F; });
    const std::string programs = (out / "programs").string();
    setup::set_special_folder_resolver(
        [&](long) -> std::optional<std::string> { return programs; });
    setup::InstallRunOptions options;
    options.program_folder = platform::windows_path((dir / "medium").string());

    auto t0 = std::chrono::steady_clock::now();
    setup::InstallResult r = setup::StartInstallation(view, view.F, "Bench", options);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    auto cpu = [](const rusage& u) {
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    std::cerr << "bench_install: cpu self " << cpu(usage) << " s, extractors " << cpu(children)
              << " s\n";
    std::cout << seconds << " " << kFiles << " " << usage.ru_maxrss << " "
              << cpu(usage) + cpu(children) << "\n";
    if (!r.finished || r.errors != 0 || r.logged != kFiles) {
        std::cerr << "bench_install: run did not complete (finished " << r.finished << ", errors "
                  << r.errors << ", logged " << r.logged << ")\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "make") return make(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "run") return run(argv[2], argv[3], argv[2]);
    if (argc == 5 && std::string(argv[1]) == "run") return run(argv[2], argv[3], argv[4]);
    std::cerr << "usage: bench_install make DIR | run DIR EXTRACTOR [OUT]\n";
    return 2;
}
