// The private-profile functions under load: N new keys written one by one into the last
// section of a fresh file (must grow linearly: each write appends, never rewrites the file),
// and reads of an unchanged file (must come from the cache, not a new parse). Write times are
// the process's CPU time, so that other load on a shared host does not distort the ratio.
//
//   bench_profile DIR   prints the BENCH lines
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/profile.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time of this process (user + system): other load on a shared host does not inflate it.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Writes n new keys into [Dateien] of a fresh file, the way the uninstall log grows.
double append_keys(const std::string& dir, int n) {
    const std::string host = dir + "/append-" + std::to_string(n) + ".ini";
    ::unlink(host.c_str());
    const std::string file = platform::windows_path(host);
    platform::WritePrivateProfileStringA("Uninstall", "Titel", "Benchmark", file);
    const double t0 = cpu_seconds();
    for (int i = 0; i < n; ++i) {
        const std::string k = "Datei" + std::to_string(i);
        if (!platform::WritePrivateProfileStringA(
                "Dateien", k, "C:\\Programme\\Beispiel\\datei" + std::to_string(i) + ".dll",
                file)) {
            std::fprintf(stderr, "bench_profile: write %d failed\n", i);
            std::exit(1);
        }
    }
    return cpu_seconds() - t0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_profile DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    ::mkdir(dir.c_str(), 0755);

    append_keys(dir, 200);  // warms up the allocator and the page cache
    std::vector<double> r1000, r10000;
    for (int round = 0; round < 5; ++round) {  // the median of five against noise
        r1000.push_back(append_keys(dir, 1000));
        r10000.push_back(append_keys(dir, 10000));
    }
    const double t1000 = median(r1000), t10000 = median(r10000);
    std::printf("BENCH name=profile_append_1000 value=%.4f unit=cpu_s\n", t1000);
    std::printf(
        "BENCH name=profile_append_10000 value=%.4f unit=cpu_s baseline=%.4f ratio=%.2f limit=15\n",
        t10000, t1000, t10000 / t1000);

    // Reads of a script written by another program a while ago (10,000 keys).
    const std::string host = dir + "/script.ini";
    {
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out << "[Main]\r\nProduktName=Beispiel\r\n[Dateien]\r\n";
        for (int i = 0; i < 10000; ++i) out << "Datei" << i << "=C:\\Programme\\x" << i << "\r\n";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string file = platform::windows_path(host);
    const int reads = 2000;
    platform::GetPrivateProfileStringA("Main", "ProduktName", "", 9999, file);
    const auto parses_before = platform::profile_parse_count();
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reads; ++i) {
        platform::GetPrivateProfileStringA("Dateien", "Datei" + std::to_string(i * 5), "", 9999,
                                           file);
    }
    const double cached = seconds_since(t0) / reads * 1e6;
    const auto reparses = platform::profile_parse_count() - parses_before;
    // The same reads when every read parses the file (cache dropped before each).
    const int slow_reads = 200;
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < slow_reads; ++i) {
        platform::profile_cache_clear();
        platform::GetPrivateProfileStringA("Dateien", "Datei" + std::to_string(i * 5), "", 9999,
                                           file);
    }
    const double parsed = seconds_since(t0) / slow_reads * 1e6;
    std::printf("BENCH name=profile_read_unchanged value=%.2f unit=us baseline=%.2f ratio=%.4f\n",
                cached, parsed, cached / parsed);
    std::printf(
        "BENCH name=profile_read_reparses value=%zu unit=parses baseline=%d ratio=%.4f limit=0\n",
        reparses, reads, static_cast<double>(reparses) / reads);
    return 0;
}
