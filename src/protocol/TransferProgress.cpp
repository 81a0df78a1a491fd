#include "protocol/TransferProgress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace vp {

uint32_t millisecondTicks() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

TransferProgress::TransferProgress(Side side, uint32_t totalBytes, TickSource ticks)
    : m_side(side),
      m_total(totalBytes),
      m_onePercent(static_cast<double>(totalBytes) * 0.01),
      m_step(static_cast<uint32_t>(std::floor(m_onePercent))),
      m_remaining(totalBytes),
      m_ticks(std::move(ticks)),
      m_start(m_ticks()) {
    // A file under 100 bytes moves in one step; an empty one never counts.
    if (m_step == 0) m_step = std::max<uint32_t>(m_total, 1);
}

uint32_t TransferProgress::sendBlock() const { return std::min(kBlockBytes, m_step); }

TextString TransferProgress::startText() { return TextString("Sending file (0% done)"); }

bool TransferProgress::advance(uint32_t count, TextString& text) {
    count = std::min(count, m_remaining);
    m_remaining -= count;
    m_moved += count;
    m_sinceStart += count;
    // Only once the bytes moved pass the percentage shown by a whole percent:
    // blocks smaller than a percent would otherwise re-estimate every block.
    if (static_cast<double>(m_percent + 1) * m_onePercent > static_cast<double>(m_moved)) return false;

    m_percent = std::min<uint32_t>(m_moved / m_step, 100);
    const uint32_t now = m_ticks();
    if (m_start > now) {
        // The tick count wrapped: start again from here and show the last
        // estimate once more.
        m_start = now;
        m_sinceStart = 0;
    } else if (m_sinceStart > 0) {
        const double msPerByte = static_cast<double>(now - m_start) / static_cast<double>(m_sinceStart);
        const auto remainingMs = static_cast<uint64_t>(std::floor(static_cast<double>(m_remaining) * msPerByte));
        const auto totalSeconds = static_cast<uint32_t>(std::min<uint64_t>(remainingMs / 1000, UINT32_MAX));
        m_hours = totalSeconds / 3600;
        const uint32_t rest = totalSeconds - 3600 * m_hours;
        m_minutes = rest / 60;
        m_seconds = rest - 60 * m_minutes;
    }

    const bool sending = m_side == Side::Sending;
    const auto percent = static_cast<long>(sending ? std::min<uint32_t>(m_percent, 99) : m_percent);
    const char* verb = sending ? "Sending" : "Receiving";
    const auto hours = static_cast<long>(m_hours), minutes = static_cast<long>(m_minutes),
               seconds = static_cast<long>(m_seconds);
    char line[128];
    // An hour with no whole minute shows in seconds.
    if (m_hours > 0 && m_minutes > 0)
        std::snprintf(line, sizeof line, "%s file (%ld%% done, %ld hr %ld min %ld sec to completion.)", verb, percent,
                      hours, minutes, seconds);
    else if (m_hours == 0 && m_minutes > 0)
        std::snprintf(line, sizeof line, "%s file (%ld%% done, %ld min %ld sec to completion.)", verb, percent, minutes,
                      seconds);
    else
        std::snprintf(line, sizeof line, "%s file (%ld%% done, %ld sec to completion.)", verb, percent, seconds);
    text = TextString(line);
    return true;
}

} // namespace vp
