// bench_mail STORE [FOLDER]: the archiver's work on every mail of one folder: parse, file away
// the first attachment (removed from the mail), put a link on top of the body, save.
// Prints "mails=N seconds=S maxrss_kb=K".

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "morvo/outlook/outlook.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_mail STORE [FOLDER]\n");
        return 2;
    }
    std::string folder = argc > 2 ? argv[2] : "Massenpost";
    using namespace morvo::outlook;
    try {
        auto start = std::chrono::steady_clock::now();
        StoreConfig store;
        store.name = "Bench";
        store.location = argv[1];
        NameSpace ns = Application::with_stores({store}).GetNamespace("MAPI");
        MAPIFolder f = ns.Folders("Bench").Folders(folder);
        long count = f.Items().Count();
        long done = 0;
        for (long i = 1; i <= count; ++i) {
            MailItem item = f.Items(i);
            if (item.Attachments().Count() < 1) continue;
            Attachment a = item.Attachments(1);
            std::string link = "file:C:\\Ablage\\" + a.DisplayName();
            a.Delete();
            item.set_Body(link + "\r\n\r\n" + item.Body());
            item.Save();
            ++done;
        }
        ns.flush_saves();  // the run is done when every old file is gone
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        struct rusage ru {};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("mails=%ld seconds=%.3f maxrss_kb=%ld\n", done, seconds, ru.ru_maxrss);
        return done == count ? 0 : 1;
    } catch (const platform::Error& e) {
        std::fprintf(stderr, "bench_mail: %ld %s\n", e.number, e.description.c_str());
        return 1;
    }
}
