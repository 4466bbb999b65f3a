#include "CompositePacer.h"

#include "DisplayFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace lagwell {
namespace {

using test::DisplayFrames;
using test::DisplayMode;

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSlotNs = CompositePacer::kSlotNs;
constexpr int64_t kStartNs = 7'000'000'000;

class CompositePacerTest : public ::testing::TestWithParam<DisplayMode> {};

// A minute of a display's frames through the pacer: every slot composited
// at the frame nearest it (within the hysteresis), on an even beat that
// changes step only as the display's rate makes it, and the only slots
// missed those a stall covers.
TEST_P(CompositePacerTest, everySlotAtTheRefreshNearestItOnAnEvenBeat)
{
    const DisplayMode& mode = GetParam();
    DisplayFrames display(mode, kStartNs, 3);
    CompositePacer pacer;
    const int64_t refreshNs = display.refreshIntervalNs();

    struct Composite {
        int64_t slot;
        DisplayFrames::Frame frame;
    };
    std::vector<Composite> composites;
    for (DisplayFrames::Frame frame = display.next(); frame.drawnNs < kStartNs + 60'000 * kMs;
         frame = display.next()) {
        const int64_t slot = pacer.onFrame(frame.drawnNs);
        if (slot >= 0)
            composites.push_back({slot, frame});
    }
    ASSERT_GT(composites.size(), 1500u);
    if (mode.hz > 0) {
        EXPECT_NEAR(double(pacer.refreshIntervalNs()), double(refreshNs), 0.3 * kMs);
    }

    int64_t missed = 0;
    int64_t missedInStalls = 0;
    int64_t missedInLoad = 0;  // slots whose refreshes a loaded machine let pass
    std::map<int64_t, int64_t> steps;  // refreshes between composites away from stalls, and how often
    double worstOffMs = 0;
    for (size_t i = 1; i < composites.size(); ++i) {
        const Composite& now = composites[i];
        const Composite& before = composites[i - 1];
        ASSERT_GT(now.slot, before.slot);
        const int64_t slotNs = pacer.slotNs(now.slot);
        missed += now.slot - before.slot - 1;
        if (display.nearLoad(slotNs, 2 * kSlotNs) || display.nearLoad(pacer.slotNs(before.slot), 2 * kSlotNs)) {
            missedInLoad += now.slot - before.slot - 1;
            continue;
        }
        if (display.nearStall(slotNs, 2 * kSlotNs)) {
            missedInStalls += now.slot - before.slot - 1;
            continue;
        }
        if (i < 30)
            continue;  // the refresh is being learnt
        // The frame is the refresh nearest its slot, give or take the hysteresis.
        const double offMs = double(now.frame.refreshNs - slotNs) / kMs;
        worstOffMs = std::max(worstOffMs, std::abs(offMs));
        // (A timer's own phase wanders by its lateness.)
        const double boundMs = double(refreshNs / 2 + CompositePacer::kHysteresisNs + mode.jitterNs / 2 +
                                      (mode.hz > 0 ? 0 : 2 * mode.jitterNs)) / kMs + 0.5;
        EXPECT_LE(std::abs(offMs), boundMs) << "slot " << now.slot;
        ++steps[std::llround(double(now.frame.refreshNs - before.frame.refreshNs) / double(refreshNs))];
    }

    std::string beat;
    for (const auto& [refreshes, count] : steps)
        beat += " " + std::to_string(refreshes) + "x" + std::to_string(count);
    std::printf("%s: %zu composites, %lld slots missed (%lld in stalls), beat in refreshes:%s, worst %.1f ms from "
                "its slot\n",
                mode.name, composites.size(), static_cast<long long>(missed), static_cast<long long>(missedInStalls),
                beat.c_str(), worstOffMs);

    // A stall costs the slots it covers and no more; once the load is gone
    // the pacer is as it was.
    EXPECT_EQ(missed, missedInStalls + missedInLoad);
    if (mode.stallEveryNs > 0) {
        EXPECT_LE(missedInStalls, (60'000 * kMs / mode.stallEveryNs) * (mode.stallNs / kSlotNs));
    }
    // The beat: the whole refreshes nearest a slot's length, and the rarer
    // of them no more often than the display's rate calls for.
    if (mode.hz > 0) {
        const double perSlot = double(kSlotNs) / double(refreshNs);
        const int64_t shorter = int64_t(perSlot);
        for (const auto& [refreshes, count] : steps)
            EXPECT_TRUE(refreshes == shorter || refreshes == shorter + 1) << refreshes << " refreshes x " << count;
        int64_t counted = 0;
        for (const auto& [refreshes, count] : steps)
            counted += count;
        const double expectedLong = (perSlot - double(shorter)) * double(counted);
        const double longSeen = double(steps.count(shorter + 1) ? steps.at(shorter + 1) : 0);
        EXPECT_NEAR(longSeen, expectedLong, 3.0 + 0.01 * double(counted)) << "uneven beat";
    }
}

// A refresh learnt a few percent off (a display that changed its rate that
// little, or a fit a loaded machine bent) is soon put right: counted along a
// phase that drifts with it, it would stay off and let slots pass.
TEST(CompositePacerLearningTest, aRefreshLearntAFewPercentOffIsPutRightWithinSeconds)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> jitter(0, 4 * kMs);
    for (const double off : {1.035, 1.046, 1.06, 0.96, 0.94}) {
        CompositePacer pacer;
        const int64_t offNs = std::llround(1e9 / 60 * off);
        int64_t atNs = kStartNs;
        for (int i = 0; i < 600; ++i, atNs += offNs)
            pacer.onFrame(atNs + jitter(random));
        int64_t last = -1;
        for (int64_t i = 0; i < 1800; ++i) {
            const int64_t refreshNs = atNs + i * 1'000'000'000 / 60;
            const int64_t slot = pacer.onFrame(refreshNs + jitter(random));
            if (i < 8 * 60)
                continue;  // being learnt
            EXPECT_NEAR(double(pacer.refreshIntervalNs()), 1e9 / 60, 0.1 * kMs) << off << " at frame " << i;
            if (slot < 0)
                continue;
            EXPECT_LE(std::abs(pacer.slotNs(slot) - refreshNs), 1e9 / 120 + CompositePacer::kHysteresisNs + 2 * kMs)
                << off << " at frame " << i;
            if (last >= 0) {
                EXPECT_EQ(slot, last + 1) << off << " at frame " << i;
            }
            last = slot;
        }
    }
}

// A machine busy for the first seconds (frames late by up to 17 ms, a few
// by 100) teaches the pacer a refresh it must soon forget: once the host is
// on time again, no slot passes that a late or stalled frame does not
// explain, and the interval is right within a few seconds.
TEST(CompositePacerLearningTest, aBusyStartIsForgottenOnceTheHostIsOnTime)
{
    for (const double hz : {50.0, 59.94, 60.0, 75.0, 144.0}) {
        int unexplained = 0;
        double worstShare = 0;
        for (uint32_t seed = 1; seed <= 200; ++seed) {
            DisplayMode mode {"busy", hz, 2 * kMs, 3000 * kMs, 100 * kMs};
            mode.busyStartNs = 5000 * kMs;
            DisplayFrames display(mode, kStartNs, seed);
            const int64_t refreshNs = display.refreshIntervalNs();
            CompositePacer pacer;
            std::vector<int64_t> undrawn;  // refreshes a stall or a host behind let pass
            std::vector<int64_t> late;     // refreshes drawn later than the jitter allows
            int64_t lastRefreshNs = 0;
            int64_t lastSlot = -1;
            std::vector<int64_t> passed;
            for (DisplayFrames::Frame frame = display.next(); frame.drawnNs < kStartNs + 15'000 * kMs;
                 frame = display.next()) {
                if (frame.drawnNs - frame.refreshNs > mode.jitterNs + kMs)
                    late.push_back(frame.refreshNs);
                for (int64_t ns = lastRefreshNs + refreshNs; lastRefreshNs != 0 && ns < frame.refreshNs - kMs;
                     ns += refreshNs)
                    undrawn.push_back(ns);
                lastRefreshNs = frame.refreshNs;
                const int64_t slot = pacer.onFrame(frame.drawnNs);
                if (slot < 0)
                    continue;
                for (int64_t s = lastSlot + 1; lastSlot >= 0 && s < slot; ++s)
                    passed.push_back(s);
                lastSlot = slot;
                if (frame.drawnNs > kStartNs + 8000 * kMs)
                    worstShare = std::max(worstShare, std::abs(double(pacer.refreshIntervalNs()) / 1e9 * hz - 1));
            }
            // A slot passes rightly when its refresh went undrawn, or a late
            // frame just before it moved the learnt phase.
            for (const int64_t s : passed) {
                const int64_t atNs = pacer.slotNs(s);
                if (atNs < kStartNs + mode.busyStartNs)
                    continue;  // the busy machine's
                const int64_t nearNs = refreshNs / 2 + CompositePacer::kHysteresisNs + mode.jitterNs;
                const bool explained =
                    std::any_of(undrawn.begin(), undrawn.end(),
                                [&](int64_t ns) { return std::abs(ns - atNs) <= nearNs; }) ||
                    std::any_of(late.begin(), late.end(),
                                [&](int64_t ns) { return ns >= atNs - 2 * kSlotNs && ns <= atNs + nearNs; });
                if (!explained) {
                    ++unexplained;
                    ADD_FAILURE() << hz << " Hz, seed " << seed << ": slot " << s << " passed at "
                                  << double(atNs - kStartNs) / 1e9 << " s with the host on time";
                }
            }
        }
        std::printf("%.2f Hz: %d slots passed unexplained, interval at worst %.2f %% off after 8 s\n", hz,
                    unexplained, 100 * worstShare);
        EXPECT_LT(worstShare, 0.01) << hz << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Displays, CompositePacerTest,
    ::testing::Values(DisplayMode {"hz60", 60, 0, 0, 0}, DisplayMode {"hz60jitter2", 60, 2 * kMs, 3000 * kMs, 100 * kMs},
                      DisplayMode {"hz60jitter4", 60, 4 * kMs, 3000 * kMs, 100 * kMs},
                      DisplayMode {"hz60drifting", 60.003, 4 * kMs, 3000 * kMs, 100 * kMs},
                      // The grid lands halfway between two refreshes.
                      DisplayMode {"hz60halfway", 60, 4 * kMs, 3000 * kMs, 100 * kMs, 0, 8'333'333},
                      DisplayMode {"hz59_94", 59.94, 2 * kMs, 3000 * kMs, 100 * kMs},
                      DisplayMode {"hz50", 50, 2 * kMs, 3000 * kMs, 100 * kMs},
                      DisplayMode {"hz75", 75, 4 * kMs, 3000 * kMs, 100 * kMs},
                      DisplayMode {"hz144", 144, 4 * kMs, 3000 * kMs, 100 * kMs},
                      DisplayMode {"timer16ms", 0, 2 * kMs, 3000 * kMs, 100 * kMs},
                      // Half of every other second, frames up to 50 ms late.
                      DisplayMode {"hz60loaded", 60, 2 * kMs, 3000 * kMs, 100 * kMs, 0, 0, 2000 * kMs, 500 * kMs,
                                   50 * kMs}),
    [](const ::testing::TestParamInfo<DisplayMode>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lagwell
