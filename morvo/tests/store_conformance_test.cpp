// The conformance suite: what every store backend must do, run over each of them with the
// generator's sample store (the same seed everywhere): listing, reading, saving and flushing,
// and the folder-line walker. A new backend adds its name to the instantiation at the end.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "morvo/folder_walk.h"
#include "morvo/outlook/mime.h"
#include "morvo/tests/imap_test_util.h"
#include "testsupport/testsupport.h"

namespace morvo::outlook {
namespace {

using namespace test;
using testsupport::error_of;

std::vector<std::string> names_of(const Folders& fs) {
    std::vector<std::string> out;
    for (long i = 1; i <= fs.Count(); ++i) out.push_back(fs.Item(i).Name());
    return out;
}

// A backend under test: a Maildir in each layout, an account on the test's Dovecot, or a tree
// of mbox files as a mail program keeps its local folders (either quoting).
class StoreConformance : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "imap") {
            REQUIRE_DOVECOT();
            account.emplace();
            sample.emplace();
            config = account->config();
        } else {
            sample.emplace(GetParam());
            config = sample->config();
        }
    }
    NameSpace ns() const { return Application::with_stores({config}).GetNamespace("MAPI"); }

    std::optional<GeneratedStore> sample;  // the manifest; the store itself for a Maildir
    std::optional<DovecotAccount> account;
    StoreConfig config;
};

TEST_P(StoreConformance, ReadsTheSameTreeMailsAndAttachmentsAsTheReference) {
    GeneratedStore reference;  // Maildir++, the same seed
    auto read = describe(ns());
    EXPECT_EQ(read, describe(reference.ns()));
    EXPECT_GT(read.size(), 40u);
}

TEST_P(StoreConformance, StoreFirstLevelIsSortedWithInboxAndItsNamesake) {
    NameSpace ns = this->ns();
    ASSERT_EQ(ns.Folders().Count(), 1);
    EXPECT_EQ(ns.Folders(1).Name(), store_name);
    EXPECT_EQ(names_of(ns.Folders(1).Folders()),
              (std::vector<std::string>{"0 Ablage", "Archiv", "Entwürfe", "Gesendete Elemente",
                                        "Leer", "Müller, Schmidt & Co", "Posteingang",
                                        "Posteingang", "Projekt #1", "Tief", "Ärger"}));
}

TEST_P(StoreConformance, EveryGeneratedFolderIsReachedByNameAndByPosition) {
    const GeneratedStore& s = *sample;
    NameSpace ns = this->ns();
    for (const auto& path : s.manifest.folders) {
        SCOPED_TRACE(path);
        MAPIFolder by_name = s.folder(ns, path);
        EXPECT_EQ(by_name.Name(), path.substr(path.rfind('|') + 1));
        EXPECT_EQ(by_name.text(), by_name.Name());
        // Walk the same path by positions and land on a folder with the same name and items.
        MAPIFolder f = ns.Folders(1);
        size_t start = 0;
        for (;;) {
            size_t bar = path.find('|', start);
            std::string comp =
                path.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
            long hit = 0;
            for (long i = 1; i <= f.Folders().Count() && !hit; ++i)
                if (f.Folders(i).Name() == comp) hit = i;
            ASSERT_GT(hit, 0) << comp;
            f = f.Folders(hit);
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
        EXPECT_EQ(f.Items().Count(), by_name.Items().Count());
    }
}

TEST_P(StoreConformance, ItemCountsMatchWhatWasWritten) {
    const GeneratedStore& s = *sample;
    NameSpace ns = this->ns();
    std::map<std::string, long> expected;
    for (const auto& m : s.manifest.mails) ++expected[m.folder];
    for (const auto& path : s.manifest.folders) expected.emplace(path, 0);
    for (const auto& [path, count] : expected) {
        if (path == "Posteingang") continue;  // checked below: the namesake is empty
        EXPECT_EQ(s.folder(ns, path).Items().Count(), count) << path;
    }
    EXPECT_EQ(ns.Folders(store_name).Folders("Posteingang").Items().Count(),
              expected["Posteingang"]);
    EXPECT_EQ(s.folder(ns, "Leer").Items().Count(), 0);
    // Parents that exist only as the prefix of a deeper folder hold nothing.
    EXPECT_EQ(s.folder(ns, "Archiv").Items().Count(), 0);
    EXPECT_EQ(s.folder(ns, "Archiv").Folders().Count(), 1);
}

TEST_P(StoreConformance, DeepChainHasTwentyFiveLevels) {
    const GeneratedStore& s = *sample;
    NameSpace ns = this->ns();
    MAPIFolder f = s.folder(ns, "Tief");
    int depth = 1;
    while (f.Folders().Count() > 0) {
        f = f.Folders(1);
        ++depth;
    }
    EXPECT_EQ(depth, 25);
    EXPECT_EQ(f.Name(), "Ebene 25");
    EXPECT_EQ(f.Items().Count(), 1);
}

TEST_P(StoreConformance, MissingNamesAndPositionsFailWithTheirCodes) {
    const GeneratedStore& s = *sample;
    NameSpace ns = this->ns();
    struct Case {
        const char* what;
        std::function<void()> call;
        long code;
    } cases[] = {
        {"missing store", [&] { ns.Folders("Gibt es nicht"); }, mapi_e_not_found},
        {"missing folder", [&] { ns.Folders(store_name).Folders("Gibt es nicht"); },
         mapi_e_not_found},
        {"other case", [&] { ns.Folders(store_name).Folders("posteingang"); }, mapi_e_not_found},
        {"encoded name", [&] { ns.Folders(store_name).Folders("&AMQ-rger"); }, mapi_e_not_found},
        {"empty name", [&] { s.folder(ns, "Leer").Folders(""); }, mapi_e_not_found},
        {"position 0", [&] { ns.Folders(store_name).Folders(0L); }, disp_e_badindex},
        {"position past end", [&] { ns.Folders(store_name).Folders(13L); }, disp_e_badindex},
        {"item past end", [&] { s.folder(ns, "Leer").Items(1); }, disp_e_badindex},
        {"nothing", [&] { MAPIFolder().Name(); }, object_not_set},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.call), c.code) << c.what;
    try {
        ns.Folders(store_name).Folders("Gibt es nicht");
    } catch (const platform::Error& e) {
        EXPECT_TRUE(is_not_found(e));
        EXPECT_TRUE(is_not_found(0x8004010FL));
        EXPECT_FALSE(e.description.empty());
    }
}

// A save leaves exactly one copy, without the attachment; a flush whose
// sync fails leaves the mail as it was and says so.
TEST_P(StoreConformance, SaveAndFlushCompleteOrLeaveTheMailAsItWas) {
    const GeneratedStore& s = *sample;
    const auto& m = s.mail("Angebot mit Bild");
    const long pos = s.position(m);
    const long count = static_cast<long>(s.mails_in(m.folder).size());
    const long attachments = static_cast<long>(m.attachments.size());
    TempDir storage;
    for (bool sync_works : {false, true}) {
        SCOPED_TRACE(sync_works ? "sync works" : "sync fails");
        testsupport::ScopedSeam seam(detail::set_file_system_sync,
                                     [&](const std::string&) { return sync_works; });
        FlushResult r;
        {
            NameSpace n = ns();
            MailItem item = s.folder(n, m.folder).Items(pos);
            item.Attachments(1).SaveAsFile(storage.path() + "/" + std::to_string(sync_works));
            item.Attachments(1).Delete();
            item.Save();
            r = n.flush_saves();
        }
        EXPECT_EQ(r.complete, sync_works);
        NameSpace after = ns();
        MAPIFolder folder = s.folder(after, m.folder);
        ASSERT_EQ(folder.Items().Count(), count);
        long same = 0, at = 0;
        for (long i = 1; i <= count; ++i) {
            try {
                if (folder.Items(i).Subject() == m.subject) ++same, at = i;
            } catch (const platform::Error&) {
                // the sample's damaged mails
            }
        }
        ASSERT_EQ(same, 1);
        EXPECT_EQ(folder.Items(at).Attachments().Count(), attachments - (sync_works ? 1 : 0));
    }
}

TEST_P(StoreConformance, FolderLineWalkerFollowsTheRunsRules) {
    NameSpace n = ns();
    const std::string store = store_name;
    // The deep chain by positions: "Tief" and its single child at every level.
    std::string deep = store + "|Tief";
    for (MAPIFolder f = n.Folders(store).Folders("Tief"); f.Folders().Count() > 0;) {
        f = f.Folders(1L);
        deep += "|" + f.Name();
    }
    std::string nineteenth;  // the folder of the twentieth segment
    {
        auto seg = folder_line_segments(deep);
        ASSERT_EQ(seg.size(), kFolderLineSegments);
        nineteenth = seg.back();
    }
    struct Case {
        std::string line;
        FolderWalk result;
        std::string name;
    } cases[] = {
        {store + "|Posteingang", FolderWalk::found, "Posteingang"},
        {store + "|Posteingang||Gibt es nicht", FolderWalk::found, "Posteingang"},
        {store + "|Gibt es nicht", FolderWalk::not_found, ""},
        {"Gibt es nicht|Posteingang", FolderWalk::not_found, ""},
        {"", FolderWalk::not_found, ""},
        {deep, FolderWalk::found, nineteenth},  // segments after the twentieth are dropped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        WalkedFolder w = walk_folder_line(n, c.line);
        EXPECT_EQ(w.result, c.result) << w.error;
        if (c.result == FolderWalk::found) {
            EXPECT_EQ(w.folder.Name(), c.name);
        } else {
            EXPECT_TRUE(w.folder.is_nothing());
        }
    }
    EXPECT_EQ(walk_folder_line(NameSpace(), store).result, FolderWalk::failed);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreConformance,
                         ::testing::Values("maildir++", "nested", "kmail", "imap", "mboxo",
                                           "mboxrd"),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n == "maildir++" ? std::string("maildirpp") : n;
                         });

}  // namespace
}  // namespace morvo::outlook
