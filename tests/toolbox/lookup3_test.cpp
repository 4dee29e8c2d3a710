/* Lookup3_hashlittle: the published lookup3 values, the fixed initial value,
 * and the same hash for the same bytes through all three read paths. */
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include "toolbox.h"
#include "hash_table_internal.h"

namespace {

TEST(ToolboxLookup3, PublishedValues)
{
    using toolbox::lookup3_hashlittle_seeded;
    const char *text = "Four score and seven years ago";
    struct Case { const char *key; size_t length; uint32_t initval, hash; };
    for (Case c : {Case{"", 0, 0, 0xDEADBEEF}, Case{"", 0, 0xDEADBEEF, 0xBD5B7DDE}, Case{text, 30, 0, 0x17770551},
                   Case{text, 30, 1, 0xCD628161}})
        EXPECT_EQ(lookup3_hashlittle_seeded(c.key, c.length, c.initval), c.hash) << c.length << " " << c.initval;
}

TEST(ToolboxLookup3, TableHashStartsFromDeadF00D)
{
    /* With no bytes the state words are returned as they start. */
    EXPECT_EQ(Lookup3_hashlittle("", 0), 0xBD5BAEFCu);
    EXPECT_EQ(Lookup3_hashlittle(nullptr, 0), 0xBD5BAEFCu);
    unsigned char bytes[40];
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
    for (size_t length = 0; length <= sizeof bytes; ++length)
        EXPECT_EQ(Lookup3_hashlittle(bytes, length), toolbox::lookup3_hashlittle_seeded(bytes, length, 0xDEADF00D));
}

TEST(ToolboxLookup3, SameBytesSameHashAtEveryAlignment)
{
    std::mt19937 random(20240611);
    alignas(16) unsigned char buffer[80 + 8];
    unsigned char bytes[80];
    for (auto &b : bytes) b = static_cast<unsigned char>(random());
    for (size_t length = 0; length <= sizeof bytes; ++length) {
        uint32_t words_path = 0;
        for (size_t offset = 0; offset < 8; ++offset) { /* 0, 4: words; 2, 6: halves; odd: bytes */
            std::memset(buffer, 0xEE, sizeof buffer);
            std::memcpy(buffer + offset, bytes, length);
            uint32_t hash = Lookup3_hashlittle(buffer + offset, length);
            if (offset == 0)
                words_path = hash;
            else
                EXPECT_EQ(hash, words_path) << "length " << length << " offset " << offset;
        }
        /* Bytes beyond the key never count. */
        std::memset(buffer, 0x11, sizeof buffer);
        std::memcpy(buffer, bytes, length);
        EXPECT_EQ(Lookup3_hashlittle(buffer, length), words_path) << "length " << length;
    }
}

TEST(ToolboxLookup3, EightByteShortcutIsTheSameHash)
{
    std::mt19937_64 random(7);
    alignas(16) unsigned char buffer[16];
    for (int i = 0; i < 1000; ++i) {
        uint64_t key = random();
        size_t offset = static_cast<size_t>(i % 8);
        std::memcpy(buffer + offset, &key, 8);
        EXPECT_EQ(toolbox::lookup3_hash8(buffer + offset), Lookup3_hashlittle(&key, 8));
    }
}

} // namespace
