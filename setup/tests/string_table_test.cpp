#include "setup/string_table.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace {

TEST(StringTable, KnownAndMissingIds) {
    EXPECT_EQ(setup::LoadResString(15), "Assistentvorlage...");
    EXPECT_EQ(setup::LoadResString(30000), "Unvollständige Daten.");
    try {
        setup::LoadResString(2002);
        FAIL() << "2002 has no string";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number, 326);
    }
}

TEST(StringTable, GetResTextAdvancesIdPastLastUsed) {
    int16_t id = 2000;
    EXPECT_EQ(setup::GetResText(id), "Lizenzvertrag");
    EXPECT_EQ(id, 2001);
}

struct IdCase {
    std::string text;
    bool ok;
    long number;  // error number when not ok
    int16_t id;
};

TEST(StringTable, IdsFromTagText) {
    const IdCase cases[] = {
        {"1000", true, 0, 1000}, {" 2004 ", true, 0, 2004}, {"32767", true, 0, 32767},
        {"32768", false, 6, 0},  {"-1", true, 0, -1},       {"", false, 13, 0},
        {"abc", false, 13, 0},   {"12a", false, 13, 0},     {"10.4", true, 0, 10},
    };
    for (const auto& c : cases) {
        try {
            int16_t id = setup::res_id_from_text(c.text);
            EXPECT_TRUE(c.ok) << c.text;
            EXPECT_EQ(id, c.id) << c.text;
        } catch (const platform::Error& e) {
            EXPECT_FALSE(c.ok) << c.text;
            EXPECT_EQ(e.number, c.number) << c.text;
        }
    }
}

}  // namespace
