// The 工具 menu's schedule tools in the real window, with scripted boxes.
#include "app/copydialog.h"
#include "app/findingswindow.h"
#include "app/frmmain.h"
#include "app/schedulepicture.h"
#include "app/scheduletools.h"
#include "app/verifytools.h"

#include "support/fakes.h"
#include "support/scriptedprompts.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QDateTime kNow(QDate(2026, 12, 9), QTime(12, 0)); // a Wednesday
const char *kDailyOn8 = "11000000000100000000080000";
const char *kDailyOff18 = "01000000000100000000180000";
const char *kWeeklyNoDay = "10100000000100000000090000";
const char *kMondayOn8 = "10110000000100000000080000";

class Tools : public testing::Test {
protected:
    struct Add {
        int channel;
        const char *record;
        int count = 1;
    };
    void start(std::initializer_list<Add> adds)
    {
        w.emplace(FrmmainSetup{dir.path(), Variant::Standard, &link, &prompts, [] { return kNow; }});
        tools = w->scheduleTools();
        for (const Add &a : adds)
            AddEntries(w->book(), a.channel, a.record, a.count);
    }
    QWidget *lamp(int c) { return w->findChild<QWidget *>(QStringLiteral("Shape1_%1").arg(c - 1)); }

    QTemporaryDir dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::optional<Frmmain> w;
    ScheduleTools *tools = nullptr;
};

TEST_F(Tools, MenuItemsOpenOnTheCurrentChannel)
{
    start({{1, kDailyOn8}, {1, kDailyOff18}, {3, kDailyOn8}, {3, kWeeklyNoDay}});
    QMenu *menu = w->toolsMenu();
    EXPECT_EQ(std::pair(menu->title(), w->menuBar()->actions().contains(menu->menuAction())),
              std::pair(QStringLiteral("工具"), true));
    QStringList items;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            items << a->text() + u'[' + a->shortcut().toString() + u']' + (a->isCheckable() ? "✓" : "");
    EXPECT_EQ(items, QStringList({"日程图[Ctrl+G]", "检查[Ctrl+K]", "复制到…[Ctrl+Shift+C]", "搜索设备[Ctrl+Shift+F]",
                                  "校验本路[Ctrl+E]", "校验全部[Ctrl+Shift+E]", "写入后校验[]✓", "连接时自动对时[]✓"}));

    w->SSTab2_Click(2);
    tools->pictureAction->trigger();
    PictureWindow *picture = tools->picture();
    ASSERT_TRUE(picture && picture->isVisible());
    EXPECT_EQ(std::pair(picture->channel(), picture->monday()), std::pair(3, QDate(2026, 12, 7)));
    picture->findChild<QPushButton *>("WeekForward")->click();
    EXPECT_EQ(picture->weekChart()->rows().first().day, QDate(2026, 12, 14));
    // An edit in the main window reaches the open picture: channel 3 emptied, all unknown.
    EXPECT_EQ(picture->weekChart()->rows().first().line.spans.first().state, RelayState::On);
    w->CmdDelAll->click();
    EXPECT_EQ(picture->weekChart()->rows().first().line.spans.first().state, RelayState::Unknown);

    w->SSTab2_Click(0);
    tools->checkAction->trigger();
    FindingsWindow *findings = tools->findings();
    ASSERT_TRUE(findings && findings->isVisible());
    EXPECT_EQ(findings->summary(), QStringLiteral("未发现问题"));
    w->SSTab2_Click(4);
    AddEntries(w->book(), 2, kWeeklyNoDay, 2);
    findings->findChild<QPushButton *>()->click(); // 重新检查
    ASSERT_EQ(findings->list()->topLevelItemCount(), 3);
    QTreeWidgetItem *second = findings->list()->topLevelItem(1);
    EXPECT_EQ(second->text(3), QStringLiteral("每星期未选任何一天，永不执行"));
    Q_EMIT findings->list()->itemDoubleClicked(second, 0);
    EXPECT_EQ(std::pair(int(w->nPage()), w->List->currentItem()), std::pair(2, w->List->topLevelItem(1)));

    tools->copyAction->trigger();
    CopyDialog *copy = tools->copyDialog();
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->source() == 2 && !copy->targets[1]->isEnabled());
    copy->close();
}

TEST_F(Tools, CopyRefusesPast255AndAsksBeforeReplacing)
{
    start({{1, kDailyOn8}, {1, kDailyOff18}, {2, kDailyOn8, 254}});
    tools->copyAction->trigger();
    CopyDialog *copy = tools->copyDialog();
    ASSERT_TRUE(copy && copy->isVisible());
    copy->targets[1]->setChecked(true);
    copy->targets[4]->setChecked(true);
    copy->append->setChecked(true);
    copy->ok->click();
    EXPECT_EQ(std::tuple(prompts.messages, copy->isVisible(), w->book().countOf(2), w->book().countOf(5)),
              std::tuple(QStringList({"第2路将超过255条，未复制"}), true, 254, 0));

    // Replacing a channel that holds entries asks first; Cancel keeps it.
    copy->replace->setChecked(true);
    prompts.confirmAnswer = false;
    copy->ok->click();
    EXPECT_EQ(std::pair(prompts.questions, w->book().countOf(2)),
              std::pair(QStringList({"第2路已有日程，替换吗？"}), 254));

    prompts.confirmAnswer = true;
    copy->ok->click();
    EXPECT_EQ(std::tuple(w->book().countOf(2), int(w->nPage()), w->rowCount(), w->rowText(0)),
              std::tuple(2, 2, 2, QStringLiteral("第2路, 每天, 08:00:00 ,吸合 ")));
}

TEST_F(Tools, WriteShowsTheFindingsPanelUntilTheBookChanges)
{
    start({{1, kDailyOn8}, {1, kDailyOff18}, {1, kWeeklyNoDay}});
    w->SSTab2_Click(0); // the window takes in the entries added behind its back
    QLabel *panel = tools->panel();
    EXPECT_FALSE(panel->isVisibleTo(&*w));
    w->CmdOpen->click();
    w->CmdDownAll->click();
    // The write itself asked and told nothing more; copying waits, menu shown or not.
    EXPECT_EQ(std::tuple(w->engine().bWriting, panel->isVisibleTo(&*w), panel->text(),
                         prompts.questions + prompts.messages, tools->copyAction->isEnabled()),
              std::tuple(true, true, QStringLiteral("检查发现1处问题"), QStringList(), false));
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(panel, &click);
    ASSERT_TRUE(tools->findings() && tools->findings()->isVisible());

    w->engine().bWriting = false;
    w->CmdOpen->click(); // closed: editing again
    w->SSTab2_Click(0);
    EXPECT_EQ(std::pair(panel->isVisibleTo(&*w), tools->copyAction->isEnabled()), std::pair(true, true))
        << "a tab switch changes no entry";
    w->CmdDelAll->click();
    EXPECT_FALSE(panel->isVisibleTo(&*w));
}

TEST_F(Tools, LampRingsAndTheDriftPanelFollowTheBoardsClock)
{
    // Channel 1 on from 08:00 to 18:00; channel 2 on at 08:00 only; channel 3 on Mondays from 08:00 to 18:00;
    // channel 4 has no entries.
    start({{1, kDailyOn8}, {1, kDailyOff18}, {2, kDailyOn8}, {3, kMondayOn8}, {3, kDailyOff18}});
    w->CmdOpen->click();
    tools->refreshRings();
    EXPECT_FALSE(w->lampRing(0)) << "no board clock yet";
    // The board: channel 1 on, the others off, its clock on December `day` at `hour`, its weekday set to Monday.
    const auto boardSays = [&](uint8_t day, uint8_t hour, uint8_t second = 0) {
        Frame status = FakeBoard::reply(wire::kStatus);
        status[4] = 0x01;
        const uint8_t clock[] = {26, 12, day, 2, hour, 0, second};
        std::copy(std::begin(clock), std::end(clock), status.begin() + 13);
        SealFrame(status);
        w->onFrame(status);
        tools->refreshRings();
    };
    boardSays(9, 12); // a Wednesday by the date, Monday by the board
    EXPECT_EQ(std::tuple(w->lampRing(0), w->lampRing(1), w->lampRing(2), w->lampRing(3)),
              std::tuple(kLampGreen, kLampGreen, kLampGreen, std::optional<uint32_t>()));
    EXPECT_EQ(std::pair(lamp(1)->toolTip(), lamp(2)->toolTip()),
              std::pair(QStringLiteral("第1路"), QStringLiteral("第2路\n按日程应为吸合")));

    // A manual command makes the difference expected until the next switching point, and no longer.
    w->SSTab2_Click(1);
    w->CmdOut->click();
    EXPECT_EQ(lamp(2)->toolTip(), QStringLiteral("第2路\n按日程应为吸合（手动设定，至 12-10 08:00:00 恢复日程）"));
    boardSays(10, 8);
    EXPECT_EQ(lamp(2)->toolTip(), QStringLiteral("第2路\n按日程应为吸合"));

    w->CmdOpen->click();
    tools->refreshRings();
    EXPECT_FALSE(w->lampRing(0)) << "link closed";

    // Open again, 30.5 s off reads 31 and 30 s in turn: the drift panel keeps one figure, and its alarm.
    w->CmdOpen->click();
    QStringList panel;
    for (uint8_t second : {31, 30, 31, 30}) {
        boardSays(9, 12, second);
        panel << w->SBDrift->text() + w->SBDrift->styleSheet();
    }
    EXPECT_EQ(panel, QStringList(4, QStringLiteral("设备时钟快31秒QLabel { color: red; }")));
    EXPECT_TRUE(w->SBDrift->toolTip().contains(QStringLiteral("对时")) && prompts.messages.isEmpty() &&
                !w->engine().bSetTimePending); // 连接时自动对时 is off
    w->CmdOpen->click();
    EXPECT_EQ(w->SBDrift->text() + w->SBDrift->styleSheet() + w->SBDrift->toolTip(), QString()) << "closed";

    // With 连接时自动对时 the first report after 打开 sets a far-off clock as 对时 does, and a later one does not.
    w->verifyTools()->clockOnConnectAction->trigger();
    w->CmdOpen->click();
    boardSays(9, 12, 31);
    Frame ack = FakeBoard::reply(wire::kSetClock);
    SealFrame(ack);
    w->onFrame(ack);
    boardSays(9, 12, 31);
    QApplication::processEvents(); // the box opens from the event loop
    EXPECT_EQ(std::pair(prompts.messages, w->engine().bSetTimePending), std::pair(QStringList{"设置成功！"}, false));
}

} // namespace
