#include "AnnexB.h"

#include <gtest/gtest.h>

#include <vector>

namespace lagwell {
namespace {

struct SplitCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<AnnexBNal> expected;  // start, end, type, startCodeBytes
};

TEST(AnnexBTest, splitsAtThreeAndFourByteStartCodes)
{
    const SplitCase cases[] = {
        {"empty", {}, {}},
        {"too short", {0, 1}, {}},
        {"three-byte code alone", {0, 0, 1}, {{0, 3, 0, 3}}},
        {"four-byte code alone", {0, 0, 0, 1}, {{0, 4, 0, 4}}},
        {"no start code", {1, 2, 3, 4, 5, 6}, {}},
        {"sps pps idr",
         {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1F, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88},
         {{0, 8, 7, 4}, {8, 14, 8, 4}, {14, 19, 5, 3}}},
        {"leading garbage", {9, 9, 0, 0, 1, 0x41, 7}, {{2, 7, 1, 3}}},
        {"code at the very end", {0, 0, 1, 0x65, 0, 0, 1}, {{0, 4, 5, 3}, {4, 7, 0, 3}}},
        {"zeros without one", {0, 0, 0, 0, 0, 2}, {}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<AnnexBNal> nals = splitAnnexB(c.bytes);
        ASSERT_EQ(nals.size(), c.expected.size());
        for (size_t i = 0; i < nals.size(); ++i) {
            EXPECT_EQ(nals[i].start, c.expected[i].start) << "unit " << i;
            EXPECT_EQ(nals[i].end, c.expected[i].end) << "unit " << i;
            EXPECT_EQ(nals[i].type, c.expected[i].type) << "unit " << i;
            EXPECT_EQ(nals[i].startCodeBytes, c.expected[i].startCodeBytes) << "unit " << i;
        }
    }
}

}  // namespace
}  // namespace lagwell
