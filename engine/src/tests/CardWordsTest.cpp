#include "CardWords.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using lagwell::CardStrings;

TEST(CardWordsTest, emptyWordsFallBackToEnglish)
{
    lagwell::setCardStrings({});
    const CardStrings words = lagwell::currentCardStrings();
    EXPECT_EQ(words.live, "LIVE");
    EXPECT_EQ(words.trainingSession, "Training Session");
    EXPECT_EQ(words.playerPrefix, "Player: ");
    EXPECT_EQ(words.coachPrefix, "Coach: ");
    EXPECT_EQ(words.sessionDuration, "SESSION DURATION");

    lagwell::setCardStrings({"EN DIRECT", "", "Joueur : ", "", ""});
    const CardStrings french = lagwell::currentCardStrings();
    EXPECT_EQ(french.live, "EN DIRECT");
    EXPECT_EQ(french.trainingSession, "Training Session");
    EXPECT_EQ(french.playerPrefix, "Joueur : ");
    EXPECT_EQ(lagwell::formatDelay(0), "EN DIRECT");
    lagwell::setCardStrings({});
}

TEST(CardWordsTest, formatsDelaysAndDurations)
{
    lagwell::setCardStrings({});
    struct DelayCase {
        int ms;
        const char* text;
    } delays[] = {{0, "LIVE"}, {-5, "LIVE"}, {2500, "2.5s"}, {12000, "12.0s"}, {500, "0.5s"}, {60000, "60.0s"}};
    for (const auto& c : delays)
        EXPECT_EQ(lagwell::formatDelay(c.ms), c.text) << c.ms;

    struct DurationCase {
        int64_t ms;
        const char* text;
    } durations[] = {{0, "0:00"},          {-1000, "0:00"},      {65'000, "1:05"},
                     {59'999, "0:59"},     {3'599'999, "59:59"}, {3'600'000, "1:00:00"},
                     {3'725'000, "1:02:05"}, {360'000'000, "100:00:00"}};
    for (const auto& c : durations)
        EXPECT_EQ(lagwell::formatDuration(c.ms), c.text) << c.ms;
}

TEST(CardWordsTest, readersNeverSeeMixedLanguages)
{
    const CardStrings english {"LIVE", "Training Session", "Player: ", "Coach: ", "SESSION DURATION"};
    const CardStrings german {"LIVE-DE", "Training", "Spieler: ", "Trainer: ", "DAUER"};
    std::atomic<bool> done {false};
    std::atomic<int> mixed {0};
    std::thread reader([&] {
        while (!done.load()) {
            const CardStrings w = lagwell::currentCardStrings();
            const bool isEnglish = w.live == english.live && w.coachPrefix == english.coachPrefix;
            const bool isGerman = w.live == german.live && w.coachPrefix == german.coachPrefix;
            if (!isEnglish && !isGerman)
                mixed.fetch_add(1);
        }
    });
    for (int i = 0; i < 20000; ++i)
        lagwell::setCardStrings(i % 2 ? german : english);
    done.store(true);
    reader.join();
    EXPECT_EQ(mixed.load(), 0);
    lagwell::setCardStrings({});
}
