// The 工具 menu's schedule tools and 校验 in the real window, with scripted boxes and, for 校验, the fake board
// answering as the test ticks.
#include "app/copydialog.h"
#include "app/findingswindow.h"
#include "app/framelogwindow.h"
#include "app/frmmain.h"
#include "app/schedulepicture.h"
#include "app/scheduletools.h"
#include "app/verifytools.h"
#include "app/verifywindow.h"
#include "storage/toolsettings.h"

#include "support/fakes.h"
#include "support/printers.h"
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
    void start(std::initializer_list<std::pair<int, const char *>> adds = {})
    {
        w.emplace(FrmmainSetup{dir.path(), Variant::Standard, &link, &prompts, [] { return kNow; }});
        tools = w->scheduleTools();
        for (const auto &[channel, record] : adds)
            AddEntries(w->book(), channel, record);
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
                                  "校验本路[Ctrl+E]", "校验全部[Ctrl+Shift+E]", "写入后校验[]✓", "连接时自动对时[]✓",
                                  "恢复上次未保存的编辑[]", "打印…[Ctrl+P]", "导出PDF…[]"}));

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
    start({{1, kDailyOn8}, {1, kDailyOff18}});
    AddEntries(w->book(), 2, kDailyOn8, 254);
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

class Verify : public Tools {
protected:
    void boardHolds(int channel, const QList<const char16_t *> &records)
    {
        for (int n = 1; n <= records.size(); ++n)
            board.slots[{channel, n}] = WriteEntryFrame(1, 1, uint8_t(channel), uint8_t(n), records[n - 1]);
        board.ends[channel] = int(records.size()) + 1;
    }
    // Ticks by hand until no transfer is under way, answering every frame sent and letting queued boxes open.
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

    FakeBoard board;
    qsizetype answered = 0;
};

TEST_F(Verify, ReadsIntoItsOwnBookShowsDifferencesAndActsOnThem)
{
    start();
    VerifyTools *tools = w->verifyTools();
    for (const char *record : {"11000000000200000000080000", "01000000000200000000090000", "11000000000200000000100000"})
        AddEntries(w->book(), 2, record);
    AddEntries(w->book(), 3, "11000000000300000000070000");
    boardHolds(2, {u"11000000000200000000080000", u"01000000000200000000090100"});
    boardHolds(3, {u"11000000000300000000070000"});
    boardHolds(5, {u"11000000000500000000060000"});
    const QStringList before = ChannelRecords(w->book());
    EXPECT_FALSE(tools->verifyChannelAction->isEnabled() || tools->verifyAllAction->isEnabled());
    w->CmdOpen->click();
    w->Timer2.stop(); // the test ticks

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

// 通信记录: the window over the log filters, pauses, clears and saves.
struct ScriptedDialog final : LogFileDialog {
    QString saveFileName(QWidget *) override { return answer; }
    QString answer;
};

TEST(FrameLogWindow, FiltersPausesClearsAndSaves)
{
    FrameLog log;
    log.sent(ReadEntryFrame(1, 4, 12)); // before the window opened
    ScriptedDialog dialog;
    FrameLogWindow w(log, dialog);
    FrameLogModel &m = w.model();
    w.pauseButton->click();
    log.sent(ReadEntryFrame(1, 4, 12)); // a re-send
    const int paused = m.rowCount();
    w.pauseButton->click();
    EXPECT_EQ(std::tuple(paused, m.rowCount(), m.index(1, 3).data().toString()),
              std::tuple(1, 2, QString("无应答（第1次重发）：读取 第4路第12条")));

    w.kindBox->setCurrentIndex(int(KindFilter::Faults));
    const int faults = m.rowCount();
    w.kindBox->setCurrentIndex(0);
    w.searchEdit->setText("第5路");
    EXPECT_EQ(std::tuple(faults, m.rowCount()), std::tuple(1, 0));
    w.searchEdit->clear();

    QTemporaryDir dir;
    dialog.answer = dir.filePath("log.csv");
    w.saveButton->click();
    QFile saved(dialog.answer);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(std::tuple(lines.size(), lines[0], lines[2].endsWith(",无应答（第1次重发）：读取 第4路第12条,")),
              std::tuple(3, QString("时间,方向,字节,含义,间隔"), true));
    dialog.answer = dir.filePath("missing/log.txt");
    w.saveButton->click();
    EXPECT_TRUE(w.note->text().contains("保存失败")) << w.note->text().toStdString();

    w.clearButton->click();
    log.received(ReadEntryFrame(1, 1, 1)); // a request's header coming back: a fault
    m.refresh();                           // as the refresh timer would
    EXPECT_EQ(std::tuple(m.rowCount(), log.size(), m.index(0, 1).data().toString()), std::tuple(1, 1, QString("接收")));
}

} // namespace
