// The bus scan against boards that answer only their own address.
#include "device/busscan.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

Frame StatusReply(int address, uint8_t code = wire::kStatus)
{
    Frame f = FakeBoard::reply(code);
    f[1] = uint8_t(address);
    SealFrame(f);
    return f;
}

TEST(BusScan, FindsTheAddressesThatAnswerTheirOwnRequest)
{
    struct Row {
        const char *name;
        QList<int> boards; // addresses that answer
        int from, to;
        int lateAnswerFrom; // answers again during the next address's window (-1: none)
        QList<int> found;
    };
    const Row rows[] = {
        {"two boards on the line", {1, 7}, 0, 10, -1, {1, 7}},
        {"range excludes a board", {1, 7}, 2, 6, -1, {}},
        {"compatible board answers 19", {255}, 250, 300, -1, {255}},
        {"a late answer does not count for the next address", {3}, 2, 5, 3, {3}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeLink link;
        link.opened = true;
        BusScan scan(link, row.from, row.to);
        int asked = 0;
        while (scan.step()) {
            ++asked;
            const Frame request = link.written.last();
            EXPECT_EQ(request, RelayFrame(uint8_t(scan.current()), wire::kStatus, 0, 0, 0));
            if (row.boards.contains(request[1]))
                scan.onFrame(StatusReply(request[1], request[1] == 255 ? wire::kStatusCompat : wire::kStatus));
            if (row.lateAnswerFrom >= 0 && request[1] == row.lateAnswerFrom + 1)
                scan.onFrame(StatusReply(row.lateAnswerFrom));
        }
        EXPECT_TRUE(scan.finished());
        EXPECT_EQ(asked, scan.total());
        EXPECT_EQ(scan.found(), row.found);
    }
}

TEST(BusScan, StopsAtOnceAndWithTheLink)
{
    FakeLink link;
    link.opened = true;
    BusScan scan(link, 0, 255);
    ASSERT_TRUE(scan.step());
    scan.stop();
    scan.onFrame(StatusReply(0));
    EXPECT_FALSE(scan.step());
    EXPECT_TRUE(scan.found().isEmpty());
    EXPECT_EQ(link.written.size(), 1);

    BusScan closed(link, 0, 3);
    link.opened = false;
    EXPECT_FALSE(closed.step());
    EXPECT_TRUE(closed.finished());
}

} // namespace
