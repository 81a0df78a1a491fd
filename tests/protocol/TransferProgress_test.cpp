#include "protocol/TransferProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using Side = TransferProgress::Side;

// Each row: a file of total bytes moved in the given pieces, the clock
// starting at the first tick and each piece ending at the next; the
// sender's block and the last status line shown.
TEST(TransferProgressTest, PercentagesEstimatesAndTheirForms) {
    struct Row {
        const char* what;
        Side side;
        uint32_t total;
        std::vector<uint32_t> pieces;
        std::vector<uint32_t> ticks;
        uint32_t sendBlock;
        const char* lastText;
    };
    const Row rows[] = {
        {"a 50-byte file moves in one block and ends at 1%", Side::Sending, 50, {50}, {0, 0}, 50,
         "Sending file (1% done, 0 sec to completion.)"},
        {"the sender stops at 99%", Side::Sending, 1000000, {500000, 500000}, {0, 10, 20}, 8000,
         "Sending file (99% done, 0 sec to completion.)"},
        {"the receiver shows 100%", Side::Receiving, 1000000, {500000, 500000}, {0, 10, 20}, 8000,
         "Receiving file (100% done, 0 sec to completion.)"},
        {"1% of 200,000 bytes is the sender's block", Side::Sending, 200000, {2000}, {0, 0}, 2000,
         "Sending file (1% done, 0 sec to completion.)"},
        {"3725 s left: hours, minutes and seconds", Side::Receiving, 200, {100}, {0, 3725000}, 2,
         "Receiving file (50% done, 1 hr 2 min 5 sec to completion.)"},
        {"3605 s left: an hour without minutes shows seconds", Side::Sending, 200, {100}, {0, 3605000}, 2,
         "Sending file (50% done, 5 sec to completion.)"},
        {"125 s left: minutes and seconds", Side::Sending, 200, {100}, {0, 125000}, 2,
         "Sending file (50% done, 2 min 5 sec to completion.)"},
        {"a wrapped tick count shows the last estimate again", Side::Sending, 200, {100, 50}, {4294000000u, 4294125000u, 7}, 2,
         "Sending file (75% done, 2 min 5 sec to completion.)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        size_t next = 0;
        TransferProgress progress(row.side, row.total, [&] { return row.ticks[next++]; });
        EXPECT_EQ(progress.sendBlock(), row.sendBlock);
        TextString text;
        for (uint32_t piece : row.pieces) EXPECT_TRUE(progress.advance(piece, text));
        EXPECT_STREQ(text.c_str(), row.lastText);
        EXPECT_EQ(progress.remaining(), row.total - progress.moved());
    }
}

// The estimate is made at most once per percent: a piece that does not pass
// the next percent shows nothing new.
TEST(TransferProgressTest, AtMostOneEstimatePerPercent) {
    uint32_t tick = 0;
    TransferProgress progress(Side::Receiving, 1000000, [&] { return tick += 10; });
    TextString text;
    int shown = 0;
    for (int block = 0; block < 125; ++block) shown += progress.advance(TransferProgress::kBlockBytes, text) ? 1 : 0;
    EXPECT_EQ(progress.remaining(), 0u);
    EXPECT_EQ(shown, 100);
}

} // namespace
} // namespace vp
