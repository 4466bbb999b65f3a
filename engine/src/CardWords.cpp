#include "CardWords.h"

#include <cstdio>
#include <mutex>

namespace lagwell {
namespace {

std::mutex g_cardMutex;
// guards: g_cardStrings
CardStrings g_cardStrings;

void fillDefault(std::string& word, const char* fallback)
{
    if (word.empty())
        word = fallback;
}

}  // namespace

void setCardStrings(const CardStrings& strings)
{
    std::lock_guard lock(g_cardMutex);
    g_cardStrings = strings;
}

CardStrings currentCardStrings()
{
    std::lock_guard lock(g_cardMutex);
    CardStrings words = g_cardStrings;
    fillDefault(words.live, "LIVE");
    fillDefault(words.trainingSession, "Training Session");
    fillDefault(words.playerPrefix, "Player: ");
    fillDefault(words.coachPrefix, "Coach: ");
    fillDefault(words.sessionDuration, "SESSION DURATION");
    return words;
}

std::string formatDelay(int delayMs)
{
    if (delayMs <= 0)
        return currentCardStrings().live;
    char text[32];
    std::snprintf(text, sizeof text, "%.1fs", static_cast<double>(delayMs) / 1000.0);
    return text;
}

std::string formatDuration(int64_t ms)
{
    const long long seconds = ms < 0 ? 0 : static_cast<long long>(ms / 1000);
    char text[48];
    if (ms < 3'600'000)
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return text;
}

}  // namespace lagwell
