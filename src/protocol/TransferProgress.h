#pragma once
// How far an attached file has moved, on either side of the transfer: the
// percentage done and an estimate of the time left, as the note's status
// line shows them. The estimate is made at most about once per percent,
// from the average rate since the transfer started.

#include "foundation/TextString.h"

#include <cstdint>
#include <functional>

namespace vp {

// A millisecond tick count that wraps at 2^32, like the system's.
using TickSource = std::function<uint32_t()>;
uint32_t millisecondTicks();

class TransferProgress {
public:
    enum class Side { Sending, Receiving };

    // The receiver reads at most this much at a time; the sender sends no
    // more than this in one block.
    static constexpr uint32_t kBlockBytes = 8000;

    // The clock starts now.
    TransferProgress(Side side, uint32_t totalBytes, TickSource ticks = millisecondTicks);

    // What the sender sends at a time: 1% of the file, at least 1 byte and
    // at most kBlockBytes.
    uint32_t sendBlock() const;
    uint32_t remaining() const { return m_remaining; }
    uint32_t moved() const { return m_moved; }

    // Counts count more bytes moved. True when a new estimate was made;
    // text is then the status line to show ("Sending file (42% done, 3 sec
    // to completion.)"; the sender never shows more than 99%).
    bool advance(uint32_t count, TextString& text);

    // The first status line: "Sending file (0% done)".
    static TextString startText();

private:
    Side m_side;
    uint32_t m_total;
    double m_onePercent;
    uint32_t m_step;
    uint32_t m_remaining;
    uint32_t m_moved = 0;
    uint32_t m_sinceStart = 0;
    uint32_t m_percent = 0;
    TickSource m_ticks;
    uint32_t m_start;
    uint32_t m_hours = 0;
    uint32_t m_minutes = 0;
    uint32_t m_seconds = 0;
};

} // namespace vp
