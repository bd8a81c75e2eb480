#include "morvo/folder_tree.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace morvo {
namespace {

// An in-memory folder hierarchy; names starting with "!name" fail to read their name, "!count"
// fail to count their subfolders.
struct FakeFolder {
    std::string name;
    std::vector<FakeFolder> sub;
};

class FakeSource : public FolderSource {
  public:
    explicit FakeSource(std::vector<FakeFolder> top) : top_(std::move(top)) {}
    std::int32_t folder_count(const std::vector<std::int32_t>& chain) override {
        const auto& list = children(chain);
        if (!chain.empty() && at(chain).name.rfind("!count", 0) == 0)
            throw std::runtime_error("count");
        return static_cast<std::int32_t>(list.size());
    }
    std::string folder_name(const std::vector<std::int32_t>& chain) override {
        const auto& f = at(chain);
        if (f.name.rfind("!name", 0) == 0) throw std::runtime_error("name");
        return f.name;
    }

  private:
    const FakeFolder& at(const std::vector<std::int32_t>& chain) {
        const std::vector<FakeFolder>* list = &top_;
        const FakeFolder* f = nullptr;
        for (auto i : chain) {
            f = &list->at(static_cast<size_t>(i - 1));
            list = &f->sub;
        }
        return *f;
    }
    const std::vector<FakeFolder>& children(const std::vector<std::int32_t>& chain) {
        return chain.empty() ? top_ : at(chain).sub;
    }
    std::vector<FakeFolder> top_;
};

FolderTree load(std::vector<FakeFolder> top, std::vector<std::string>* status = nullptr) {
    FakeSource src(std::move(top));
    FolderTree t;
    load_folder_tree(src, t, [&](const std::string& s) {
        if (status) status->push_back(s);
    });
    return t;
}

std::vector<std::string> paths(const FolderTree& t) {
    std::vector<std::string> p;
    for (int i = 1; i <= t.count(); ++i) p.push_back(t.full_path(i));
    return p;
}

TEST(FolderTreeLoad, PreOrderIndicesAndParents) {
    auto t =
        load({{"P", {{"Posteingang", {{"Kunden", {}}, {"Lief", {{"A", {}}}}}}, {"Gesendet", {}}}},
              {"Archiv", {{"2023", {}}}}});
    EXPECT_EQ(paths(t), (std::vector<std::string>{"P", "P|Posteingang", "P|Posteingang|Kunden",
                                                  "P|Posteingang|Lief", "P|Posteingang|Lief|A",
                                                  "P|Gesendet", "Archiv", "Archiv|2023"}));
    EXPECT_EQ(t.node(6).parent, 1);
    EXPECT_EQ(t.node(5).parent, 4);
    EXPECT_EQ(t.node(8).parent, 7);
    EXPECT_EQ(t.node(7).parent, 0);
}

TEST(FolderTreeLoad, TwentyLevelsAndNoMore) {
    FakeFolder root{"L1", {}};
    FakeFolder* f = &root;
    for (int level = 2; level <= 22; ++level) {
        f->sub.push_back({"L" + std::to_string(level), {}});
        f = &f->sub.back();
    }
    auto t = load({root, {"Next", {{"Child", {}}}}});
    ASSERT_EQ(t.count(), 20 + 2);
    EXPECT_EQ(t.node(20).text, "L20");
    EXPECT_EQ(t.node(21).text, "Next");
    EXPECT_EQ(t.node(22).parent, 21);
    std::string deep = t.full_path(20) + "|L21";
    EXPECT_EQ(t.apply_saved_line(deep), 0);
}

TEST(FolderTreeLoad, StatusCountsAndFailures) {
    std::vector<std::string> status;
    auto t = load(
        {{"A", {{"A1", {}}}}, {"B", {{"!name", {}}, {"!count x", {{"hidden", {}}}}}}, {"C", {}}},
        &status);
    const std::string tail = " Ordner werden gelesen. Bitte haben Sie etwas Geduld";
    ASSERT_GE(status.size(), 4u);
    EXPECT_EQ(status[0], "0" + tail);  // first top-level folder
    EXPECT_EQ(status[1], "0" + tail);  // its first subfolder
    EXPECT_EQ(status[2], "2" + tail);  // the next top-level folder after one with one child
    EXPECT_EQ(status.back(), "5" + tail);
    // A name that cannot be read leaves an empty node; a count that cannot be read hides the
    // subfolders.
    EXPECT_EQ(paths(t), (std::vector<std::string>{"A", "A|A1", "B", "B|", "B|!count x", "C"}));
}

TEST(FolderTreeLoad, NoSourceFoldersGivesEmptyTree) {
    auto t = load({});
    EXPECT_EQ(t.count(), 0);
    EXPECT_EQ(t.apply_saved_line("P"), 0);
}

// The tick rule, on a tree with the cases that matter side by side.
TEST(FolderTreeTicks, PrefixRuleAndSameNames) {
    auto t = load({{"P",
                    {{"Kunden", {{"K1", {}}}},
                     {"Kunden alt", {{"K2", {}}}},
                     {"Dup", {{"D1", {}}}},
                     {"Dup", {{"D2", {}}}}}}});
    // 1 P, 2 Kunden, 3 K1, 4 Kunden alt, 5 K2, 6 Dup, 7 D1, 8 Dup, 9 D2
    struct Step {
        const char* name;
        int index;
        bool state;
        std::vector<int> ticked_after;
    };
    const Step steps[] = {
        {"Kunden ticks Kunden alt and its child", 2, true, {2, 3, 4, 5}},
        {"unticking Kunden alt leaves Kunden", 4, false, {2, 3}},
        {"ticking the later Dup leaves the earlier alone", 8, true, {2, 3, 8, 9}},
        {"ticking the earlier Dup ticks the later too", 6, true, {2, 3, 6, 7, 8, 9}},
        {"unticking a subfolder leaves its parent", 3, false, {2, 6, 7, 8, 9}},
        {"unticking the parent unticks everything below", 1, false, {}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        t.set_checked(s.index, s.state);
        t.node_check(s.index);
        std::vector<int> ticked;
        for (int i = 1; i <= t.count(); ++i)
            if (t.checked(i)) ticked.push_back(i);
        EXPECT_EQ(ticked, s.ticked_after);
    }
}

TEST(FolderTreeTicks, SavedLinesRoundTrip) {
    auto t = load({{"P", {{"Müller, Hans", {}}, {"C#", {}}, {"Dup", {}}, {"Dup", {}}, {"x", {}}}}});
    for (int i : {2, 3, 4, 5}) t.set_checked(i, true);
    auto lines = t.saved_lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"P|Müller# Hans", "P|C#", "P|Dup", "P|Dup"}));

    auto fresh =
        load({{"P", {{"Müller, Hans", {}}, {"C#", {}}, {"Dup", {}}, {"Dup", {}}, {"x", {}}}}});
    std::vector<int> hit;
    for (const auto& l : lines) hit.push_back(fresh.apply_saved_line(l));
    // The comma name comes back; the "#" name reads back as "C," and ticks nothing; both
    // same-name lines tick the lower index.
    EXPECT_EQ(hit, (std::vector<int>{2, 0, 4, 4}));
    EXPECT_FALSE(fresh.checked(3));
    EXPECT_FALSE(fresh.checked(5));
    EXPECT_EQ(fresh.apply_saved_line("p|x"), 0);  // letter case matters
    EXPECT_EQ(fresh.apply_saved_line("P|x"), 6);
}

TEST(FolderTreeTicks, Textzurueck) {
    std::string s = "a#b##c";
    textzurueck(s);
    EXPECT_EQ(s, "a,b,,c");
    EXPECT_EQ(encode_folder_line("a,b"), "a#b");
}

}  // namespace
}  // namespace morvo
