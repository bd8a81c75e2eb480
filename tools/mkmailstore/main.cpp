// mkmailstore DIR [options]: writes a sample Maildir store (see --help).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/program_options.h"
#include "tools/mkmailstore/generator.h"

namespace {

const char* const usage =
    "usage: mkmailstore DIR [options]\n"
    "Writes a sample mail store into DIR (created when missing).\n"
    "\n"
    "  --layout LAYOUT            maildir++ (default: .Parent.Child folders, names in IMAP\n"
    "                             modified UTF-7), nested (Parent/Child), kmail\n"
    "                             (Parent, .Parent.directory/Child) or an mbox tree\n"
    "                             (Inbox, Parent.sbd/Child) quoted as mboxo or mboxrd\n"
    "  --mails N                  add N mails to the folder \"Massenpost\", each with one\n"
    "                             large and one small attachment (default 0)\n"
    "  --attachment-size BYTES    size of the large attachment (default 102400)\n"
    "  --bulk-only                write only \"Massenpost\" (benchmarks)\n"
    "  --seed N                   seed of the generated contents (default 1)\n"
    "  --manifest FILE            write what was generated: one line per attachment with\n"
    "                             mail file, folder, display name, size and FNV-1a hash\n"
    "  --help                     this text\n"
    "  --version                  the version\n"
    "Exit status: 0 written, 1 failed, 2 wrong command line.\n";

bool parse_number(const char* s, unsigned long long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(s, &end, 10);
    return errno == 0 && end && *end == '\0' && *s != '-' && *s != '\0';
}

}  // namespace

int main(int argc, char** argv) {
    mkmailstore::Options opt;
    std::string dir, manifest;
    if (const int status =
            platform::answer_standard_request({argv + 1, argv + argc}, "mkmailstore", usage);
        status >= 0)
        return status;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "mkmailstore: " << a << " needs a value\n" << usage;
                std::exit(2);
            }
            return argv[++i];
        };
        unsigned long long n = 0;
        if (a == "--layout") {
            opt.layout = value();
        } else if (a == "--mails") {
            if (!parse_number(value(), n)) return std::cerr << "mkmailstore: bad --mails\n", 2;
            opt.bulk_mails = static_cast<long>(n);
        } else if (a == "--attachment-size") {
            if (!parse_number(value(), n))
                return std::cerr << "mkmailstore: bad --attachment-size\n", 2;
            opt.attachment_size = static_cast<std::size_t>(n);
        } else if (a == "--seed") {
            if (!parse_number(value(), n)) return std::cerr << "mkmailstore: bad --seed\n", 2;
            opt.seed = static_cast<std::uint32_t>(n);
        } else if (a == "--bulk-only") {
            opt.bulk_only = true;
        } else if (a == "--manifest") {
            manifest = value();
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "mkmailstore: unknown option " << a << "\n" << usage;
            return 2;
        } else if (dir.empty()) {
            dir = a;
        } else {
            std::cerr << "mkmailstore: more than one folder given\n" << usage;
            return 2;
        }
    }
    if (dir.empty()) {
        std::cerr << usage;
        return 2;
    }
    try {
        mkmailstore::Manifest m = mkmailstore::generate(dir, opt);
        if (!manifest.empty()) {
            std::ofstream out(manifest, std::ios::binary | std::ios::trunc);
            for (const auto& mail : m.mails)
                for (const auto& a : mail.attachments) {
                    char hash[17];
                    std::snprintf(hash, sizeof hash, "%016llx",
                                  static_cast<unsigned long long>(mkmailstore::fnv1a64(a.bytes)));
                    out << mail.file << '\t' << mail.folder << '\t' << a.display_name << '\t'
                        << a.bytes.size() << '\t' << hash << '\n';
                }
            if (!out) throw std::runtime_error("cannot write " + manifest);
        }
        std::cout << "mkmailstore: " << m.mails.size() << " mails in " << m.folders.size() + 1
                  << " folders written to " << dir << "\n";
    } catch (const std::exception& e) {
        std::cerr << "mkmailstore: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
