// Loads the folder tree of a store the way morvo does at start-up (the binding, the parent-index
// walk, the status line text per folder) and prints the seconds it took.
//   bench_tree make DIR FOLDERS   writes a nested Maildir store with that many folders
//   bench_tree load DIR           loads it; prints "<seconds> <nodes>"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "morvo/folder_tree.h"
#include "morvo/outlook/outlook.h"
#include "morvo/outlook_tree.h"

namespace fs = std::filesystem;

static void make_maildir(const fs::path& p) {
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(p / sub);
}

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "make") {
        const fs::path root = argv[2];
        const long want = std::atol(argv[3]);
        make_maildir(root);
        // Ten stores' worth of top folders, each with ten subfolders holding the rest in turn.
        long made = 0;
        for (int a = 1; made < want; ++a) {
            fs::path top = root / ("Bereich " + std::to_string(a));
            make_maildir(top);
            ++made;
            for (int b = 1; b <= 10 && made < want; ++b) {
                fs::path mid = top / ("Kunde " + std::to_string(b));
                make_maildir(mid);
                ++made;
                for (int c = 1; c <= 48 && made < want; ++c) {
                    make_maildir(mid / ("Vorgang " + std::to_string(c)));
                    ++made;
                }
            }
        }
        return 0;
    }
    if (argc >= 3 && std::string(argv[1]) == "load") {
        auto t0 = std::chrono::steady_clock::now();
        morvo::outlook::StoreConfig config;
        config.name = "Persönliche Ordner";
        config.location = argv[2];
        config.layout = "nested";
        auto app = morvo::outlook::Application::with_stores({config});
        morvo::OutlookFolderSource source(app.GetNamespace("MAPI"));
        morvo::FolderTree tree;
        std::size_t status_bytes = 0;
        morvo::load_folder_tree(source, tree,
                                [&](const std::string& s) { status_bytes += s.size(); });
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%.6f %d\n", secs, tree.count());
        return status_bytes > 0 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: bench_tree make DIR FOLDERS | load DIR\n");
    return 2;
}
