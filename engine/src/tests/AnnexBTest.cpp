#include "AnnexB.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using lagwell::AnnexBScan;
using lagwell::scanAnnexB;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kSps4 = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1F, 0x8C};
const Bytes kPps4 = {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80};
const Bytes kSps3 = {0, 0, 1, 0x27, 0x4D, 0x00, 0x28};
const Bytes kPps3 = {0, 0, 1, 0x28, 0xEE, 0x06};
const Bytes kIdr4 = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33};
const Bytes kIdr3LowRef = {0, 0, 1, 0x25, 0xB8, 0x00};
const Bytes kSlice4 = {0, 0, 0, 1, 0x41, 0x9A, 0x02};
const Bytes kAud4 = {0, 0, 0, 1, 0x09, 0xF0};
const Bytes kSei3 = {0, 0, 1, 0x06, 0x05, 0x10, 0xFF};

}  // namespace

TEST(AnnexBTest, findsIdrSlicesAndParameterSetsAcrossLayouts)
{
    struct Case {
        const char* name;
        Bytes payload;
        bool idr;
        Bytes parameterSets;
    } cases[] = {
        {"empty", {}, false, {}},
        {"no start code", {0x65, 0x88, 0x67, 0x00, 0x01}, false, {}},
        {"four-byte codes", join({kSps4, kPps4, kIdr4}), true, join({kSps4, kPps4})},
        {"three-byte codes", join({kSps3, kPps3, kIdr3LowRef}), true, join({kSps3, kPps3})},
        {"mixed with AUD and SEI", join({kAud4, kSps3, kPps4, kSei3, kIdr4}), true, join({kSps3, kPps4})},
        {"non-IDR slice only", kSlice4, false, {}},
        {"AUD then non-IDR slice", join({kAud4, kSlice4}), false, {}},
        {"parameter sets without a slice", join({kSps4, kPps4}), false, join({kSps4, kPps4})},
        {"leading garbage before the first code", join({{0xFF, 0x13}, kSps4, kIdr4}), true, kSps4},
        {"start code with nothing after it ends the walk", join({kSps4, {0, 0, 1}}), false, kSps4},
        {"payload ends inside a start code", join({kPps3, {0, 0}}), false, join({kPps3, {0, 0}})},
        {"a lone start code", {0, 0, 0, 1}, false, {}},
    };
    for (const Case& c : cases) {
        const AnnexBScan scan = scanAnnexB(c.payload.data(), c.payload.size());
        EXPECT_EQ(scan.hasIdrSlice, c.idr) << c.name;
        EXPECT_EQ(scan.parameterSets, c.parameterSets) << c.name;
    }
}

TEST(AnnexBTest, nullPayloadIsSafe)
{
    const AnnexBScan scan = scanAnnexB(nullptr, 12);
    EXPECT_FALSE(scan.hasIdrSlice);
    EXPECT_TRUE(scan.parameterSets.empty());
}

// Splitting into units.

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
