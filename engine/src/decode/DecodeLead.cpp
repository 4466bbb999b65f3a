#include "DecodeLead.h"

#include <algorithm>

namespace lagwell {

void DecodeLead::Samples::add(Duration value)
{
    values[next] = std::max(value, Duration::zero());
    next = (next + 1) % values.size();
    count = std::min(count + 1, values.size());
}

DecodeLead::Duration DecodeLead::Samples::max() const
{
    Duration longest = Duration::zero();
    for (size_t i = 0; i < count; ++i)
        longest = std::max(longest, values[i]);
    return longest;
}

void DecodeLead::recordDecode(Duration took)
{
    m_decodes.add(took);
}

void DecodeLead::recordWakeLateness(Duration late)
{
    m_lateness.add(late);
}

DecodeLead::Duration DecodeLead::lead() const
{
    const Duration decode = m_decodes.count ? m_decodes.max() : kUnmeasuredDecode;
    return decode + m_lateness.max() + kMargin;
}

void DecodeLead::clear()
{
    m_decodes = {};
    m_lateness = {};
}

}  // namespace lagwell
