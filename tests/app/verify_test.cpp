// 校验 in the real window: the menu items' state, the result window, 采用设备,
// 写入差异 and 写入后校验, against the fake board with the tick driven by hand.
#include "app/frmmain.h"
#include "app/verifytools.h"
#include "app/verifywindow.h"
#include "storage/toolsettings.h"

#include "support/fakes.h"
#include "support/scriptedprompts.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QDateTime kNow(QDate(2026, 12, 9), QTime(12, 0));

class Verify : public testing::Test {
protected:
    void start()
    {
        w.emplace(FrmmainSetup{dir.path(), Variant::Standard, &link, &prompts, [] { return kNow; }});
        tools = w->verifyTools();
    }
    void boardHolds(int channel, const QList<const char16_t *> &records)
    {
        for (int n = 1; n <= records.size(); ++n)
            board.slots[{channel, n}] = WriteEntryFrame(1, 1, uint8_t(channel), uint8_t(n), records[n - 1]);
        board.ends[channel] = int(records.size()) + 1;
    }
    // Ticks by hand until no transfer is under way, answering every frame sent
    // and letting the boxes the window queued open (and close) in between.
    void runTransfer()
    {
        for (int i = 0; i < 3000; ++i) {
            QApplication::processEvents(); // a box a paced step queued as it ended the transfer
            if (!w->engine().transferActive())
                return;
            w->engine().Timer2_Timer();
            for (; answered < link.written.size(); ++answered)
                if (auto r = board.answer(link.written[answered]))
                    w->onFrame(*r);
            QApplication::processEvents();
        }
    }
    QStringList column(QTreeWidget *list, int c)
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(c);
        return out;
    }

    QTemporaryDir dir;
    FakeLink link;
    FakeBoard board;
    qsizetype answered = 0;
    ScriptedPrompts prompts;
    std::optional<Frmmain> w;
    VerifyTools *tools = nullptr;
};

TEST_F(Verify, ReadsIntoItsOwnBookShowsDifferencesAndActsOnThem)
{
    start();
    for (const char *record : {"11000000000200000000080000", "01000000000200000000090000", "11000000000200000000100000"})
        AddEntries(w->book(), 2, record);
    AddEntries(w->book(), 3, "11000000000300000000070000");
    boardHolds(2, {u"11000000000200000000080000", u"01000000000200000000090100"});
    boardHolds(3, {u"11000000000300000000070000"});
    boardHolds(5, {u"11000000000500000000060000"});
    const QStringList before = ChannelRecords(w->book());
    EXPECT_FALSE(tools->verifyChannelAction->isEnabled() || tools->verifyAllAction->isEnabled() ||
                 tools->verifyAfterWriteAction->isChecked() || tools->clockOnConnectAction->isChecked());
    w->CmdOpen->click();
    w->Timer2.stop(); // the test ticks
    EXPECT_TRUE(tools->verifyChannelAction->isEnabled() && tools->verifyAllAction->isEnabled());

    tools->verifyAllAction->trigger();
    EXPECT_FALSE(tools->verifyChannelAction->isEnabled() || tools->verifyAllAction->isEnabled() ||
                 w->CmdStop->isHidden());
    runTransfer();
    EXPECT_EQ(std::tuple(tools->verifyAllAction->isEnabled(), ChannelRecords(w->book()),
                         prompts.messages + prompts.questions),
              std::tuple(true, before, QStringList()));

    VerifyWindow *v = tools->window();
    ASSERT_TRUE(v && v->isVisible());
    QStringList verdicts(16, QStringLiteral("相同"));
    verdicts[1] = verdicts[4] = QStringLiteral("不同");
    EXPECT_EQ(std::tuple(column(v->channels(), 1), v->summary(), v->selectedChannel()),
              std::tuple(verdicts, QStringLiteral("校验16路：2路不同"), 2));
    // The rows' words are the report's (verifyreport_test); here, that the selected channel's rows are shown.
    EXPECT_EQ(column(v->entries(), 0) + column(v->entries(), 3), (QStringList{"002", "003", "不同：分", "仅在软件中"}));

    // 采用设备 asks, and replaces channel 2 alone.
    v->selectChannel(2);
    w->SSTab2_Click(1);
    prompts.confirmAnswer = false;
    v->takeButton()->click();
    EXPECT_EQ(prompts.questions, QStringList{"此操作将以设备上的第2路计划替换软件中的该路信息，继续否？"});
    EXPECT_EQ(ChannelRecords(w->book()), before);
    prompts.confirmAnswer = true;
    v->takeButton()->click();
    EXPECT_EQ(std::tuple(ChannelRecords(w->book()).value(1), w->book().size(), w->rowCount(),
                         v->channels()->topLevelItem(1)->text(1), v->takeButton()->isEnabled()),
              std::tuple(QStringLiteral("key02002=01000000000200000000090100"), 3, 2, QStringLiteral("相同"), false));

    // 写入差异 writes channel 5 alone; with 写入后校验 on, the verify of it
    // follows once "写入成功！" is closed, and finds it the same.
    tools->verifyAfterWriteAction->trigger();
    EXPECT_TRUE(ToolSettings(dir.path()).verifyAfterWrite());
    bool busyWhileBoxOpen = true;
    prompts.onMessage = [&](const QString &) { busyWhileBoxOpen = w->engine().transferActive(); };
    const qsizetype sent = link.written.size();
    v->writeButton()->click();
    runTransfer(); // the write, its box, and the verify that follows
    QSet<int> channels;
    for (const Frame &f : link.written.mid(sent))
        if (f[2] == wire::kWriteEntry)
            channels << f[4];
    EXPECT_EQ(std::pair(channels, prompts.messages), std::pair(QSet<int>{5}, QStringList{"写入成功！"}));
    EXPECT_FALSE(busyWhileBoxOpen) << "the verify waits for the box";
    EXPECT_EQ(std::pair(column(v->channels(), 0) + column(v->channels(), 1), v->writeButton()->isEnabled()),
              std::pair(QStringList{"第5路", "相同"}, false));

    // Stopped, the verify knows nothing of the channel.
    tools->verifyChannelAction->trigger();
    w->CmdStop->click();
    QApplication::processEvents();
    EXPECT_EQ(std::tuple(prompts.messages.last(), column(v->channels(), 1), v->summary()),
              std::tuple(QStringLiteral("已停止"), QStringList{"无法读取"}, QStringLiteral("校验1路：1路无法读取")));

    tools->clockOnConnectAction->trigger();
    EXPECT_TRUE(ToolSettings(dir.path()).setClockOnConnect());
    w->CmdOpen->click(); // closed
    EXPECT_FALSE(tools->verifyChannelAction->isEnabled());
}

} // namespace
