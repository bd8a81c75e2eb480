// One archiving run over a store, as "Start" does it, without a window.
//   bench_archive plain FOLDER N      adds N mails without attachments to a Maildir folder
//   bench_archive many STORE N        makes a store whose "Massenpost" holds one mail with N
//                                     small attachments
//   bench_archive run STORE STORAGE [KIND]
//                                     runs over the store's "Massenpost" (KIND "mbox" for an
//                                     mbox tree); prints "<seconds> <attachments filed> <mails>"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "morvo/outlook/outlook.h"
#include "morvo/run.h"
#include "morvo/settings.h"
#include "platform/paths.h"
#include "testsupport/headless_run_view.h"

namespace {

using HeadlessView = testsupport::HeadlessRunView;

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc >= 4 && std::string(argv[1]) == "plain") {
        const fs::path cur = fs::path(argv[2]) / "cur";
        fs::create_directories(cur);
        const long n = std::atol(argv[3]);
        for (long k = 1; k <= n; ++k) {
            std::ofstream(cur / ("1700000000.P" + std::to_string(k) + ".bench:2,S"))
                << "From: anna@example.org\nTo: bea@example.org\nSubject: Notiz " << k
                << "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\nNur Text " << k
                << ".\n";
        }
        return 0;
    }
    if (argc >= 4 && std::string(argv[1]) == "many") {
        const fs::path store = argv[2];
        for (const char* sub : {"cur", "new", "tmp"}) {
            fs::create_directories(store / sub);
            fs::create_directories(store / ".Massenpost" / sub);
        }
        const long n = std::atol(argv[3]);
        std::ofstream mail(store / ".Massenpost" / "cur" / "1700000000.P1.bench:2,S",
                           std::ios::binary);
        mail << "From: anna@example.org\nTo: bea@example.org\nSubject: Viele Anlagen\n"
                "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
                "--b\nContent-Type: text/plain; charset=utf-8\n\nAnbei.\n";
        // 1 KB of text per attachment, base64 in lines of 76 characters.
        std::string line;
        for (int k = 0; k < 57; ++k) line += static_cast<char>('A' + k % 26);
        static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string encoded;
        for (size_t k = 0; k + 2 < line.size(); k += 3) {
            unsigned v = (static_cast<unsigned char>(line[k]) << 16) |
                         (static_cast<unsigned char>(line[k + 1]) << 8) |
                         static_cast<unsigned char>(line[k + 2]);
            for (int s = 18; s >= 0; s -= 6) encoded += abc[(v >> s) & 63];
        }
        for (long k = 1; k <= n; ++k) {
            mail << "--b\nContent-Type: text/plain; name=\"anlage_" << k
                 << ".txt\"\nContent-Disposition: attachment; filename=\"anlage_" << k
                 << ".txt\"\nContent-Transfer-Encoding: base64\n\n";
            for (int l = 0; l < 18; ++l) mail << encoded << "\n";
        }
        mail << "--b--\n";
        return mail ? 0 : 1;
    }
    if (argc >= 4 && std::string(argv[1]) == "run") {
        const std::string store = argv[2];
        const std::string storage = platform::windows_path(argv[3]);
        const std::string ini = std::string(argv[3]) + "/../bench-morvo.ini";
        morvo::write_text_file(
            platform::windows_path(ini),
            morvo::settings_file_text(storage + "\\", {"Persönliche Ordner|Massenpost"}));
        morvo::RunEnvironment env = morvo::default_run_environment(platform::windows_path(ini));
        morvo::outlook::StoreConfig config;
        config.name = "Persönliche Ordner";
        config.location = store;
        if (argc >= 5) config.kind = argv[4];
        env.create_application = [&] { return morvo::outlook::Application::with_stores({config}); };
        HeadlessView view;
        auto t0 = std::chrono::steady_clock::now();
        auto out = morvo::run_archive(view, env);  // its namespace's end completed its saves
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%.6f %lld %lld\n", secs, out.counters.attachments, out.counters.mails);
        return out.confirmed ? 0 : 1;
    }
    std::fprintf(stderr,
                 "usage: bench_archive plain FOLDER N | many STORE N | run STORE STORAGE [KIND]\n");
    return 2;
}
