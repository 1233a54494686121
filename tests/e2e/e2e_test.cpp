// End to end: the window with its real serial link and 200 ms tick against
// kelmora-board on a pseudo-terminal. Every wait is bounded and generous.
#include "app/frmmain.h"
#include "app/verifytools.h"
#include "app/verifywindow.h"
#include "device/qtseriallink.h"
#include "schedule/bookcompare.h"

#include "boardprocess.h"
#include "support/fakes.h"
#include "support/scriptedprompts.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kLongWait = 60000;

// QSerialPort locks ports machine-wide by the last part of their path (LCK..ComN),
// and CTest may run these cases side by side: each takes a number of its own.
int portFor(const char *test)
{
    static const char *const order[] = {"Lamps", "Tampered"};
    if (QByteArray(test).startsWith("SlowBoard"))
        return 87; // 98 is the soak's, 88 the board tests'
    for (int i = 0; i < int(std::size(order)); ++i)
        if (QByteArray(test).startsWith(order[i]))
            return 89 + i;
    return 99;
}

struct Session {
    explicit Session(const QStringList &boardOptions = {}, Variant variant = Variant::Standard)
        : port(portFor(::testing::UnitTest::GetInstance()->current_test_info()->name())),
          board(dir.path(), port, boardOptions), link(dir.path()),
          w(std::make_unique<Frmmain>(FrmmainSetup{dir.path(), variant, &link, &prompts, {}}))
    {
        w->CmbCom->setCurrentIndex(port - 1);
    }
    bool open()
    {
        w->CmdOpen->click();
        return board.started && w->CmdOpen->text() == QStringLiteral("关闭");
    }
    void close()
    {
        if (w->CmdOpen->text() == QStringLiteral("关闭"))
            w->CmdOpen->click();
    }
    bool waitMessage(const QString &text, int ms = kLongWait)
    {
        return WaitFor([&] { return prompts.messages.contains(text); }, ms);
    }
    // The sixteen lamps as G (on), R (off) and - (not known).
    QString lamps() const
    {
        QString out;
        for (int k = 0; k < kChannelCount; ++k)
            out += w->lampColour(k) == kLampGreen ? u'G' : w->lampColour(k) == kLampRed ? u'R' : u'-';
        return out;
    }
    bool waitLamps(const char *want)
    {
        return WaitFor([&] { return lamps() == QLatin1String(want); });
    }
    void add(int channel, const char *record) { AddEntries(w->book(), channel, record); }
    QStringList records() const { return ChannelRecords(w->book()); }
    QByteArray savedFile()
    {
        w->CmdSave->click();
        QFile f(w->store().notePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    int port;
    BoardProcess board;
    ScriptedPrompts prompts;
    QtSerialLink link;
    std::unique_ptr<Frmmain> w;
};

void idle(int ms)
{
    WaitFor([] { return false; }, ms);
}

TEST(EndToEnd, LampsFollowTheBoardAndManualCommandsUntilThePortGoes)
{
    Session s({QStringLiteral("--split")}); // every reply in pieces
    ASSERT_TRUE(s.open()) << s.prompts.messages.join(u'|').toStdString();
    EXPECT_FALSE(s.w->CmbCom->isEnabled() || s.w->CmdSave->isEnabled());
    ASSERT_TRUE(s.waitLamps("RRRRRRRRRRRRRRRR"));
    EXPECT_TRUE(s.w->statusText(1).startsWith(QStringLiteral("模块当前时间:20")));
    const auto command = [&](int channel, QPushButton *button, const char *lamps) {
        s.w->showChannel(channel);
        button->click();
        return s.waitLamps(lamps);
    };
    EXPECT_TRUE(command(3, s.w->CmdIn, "RRGRRRRRRRRRRRRR"));
    EXPECT_TRUE(command(16, s.w->CmdIn, "RRGRRRRRRRRRRRRG"));
    EXPECT_TRUE(command(3, s.w->CmdOut, "RRRRRRRRRRRRRRRG"));
    EXPECT_TRUE(command(1, s.w->CmdOpenAll, "GGGGGGGGGGGGGGGG"));

    s.close();
    EXPECT_EQ(s.lamps(), QStringLiteral("----------------"));
    EXPECT_TRUE(s.w->CmbCom->isEnabled() && s.w->CmdSave->isEnabled() && !s.w->CmdIn->isEnabled());
    // Opening again reloads the board's states: nothing is switched by it.
    ASSERT_TRUE(s.open());
    EXPECT_TRUE(s.waitLamps("GGGGGGGGGGGGGGGG"));
    EXPECT_TRUE(s.prompts.messages.isEmpty());

    // Unplugged: the link closes and says so once.
    s.board.kill();
    ASSERT_TRUE(s.waitMessage(QStringLiteral("串口通信错误，连接已关闭"), 20000));
    idle(1000);
    EXPECT_EQ(std::tuple(s.prompts.messages.size(), s.w->CmdOpen->text(), s.w->Timer2.isActive(), s.lamps()),
              std::tuple(1, QStringLiteral("打开"), false, QStringLiteral("----------------")));
    EXPECT_TRUE(s.w->CmdSave->isEnabled());
}

TEST(EndToEnd, SlowBoardIsServedAtItsOwnPaceAndReadBackGivesTheSameBookAndFile)
{
    // Each answer takes the line's 46 ms and 100 ms of the board's own.
    Session s({QStringLiteral("--answer-ms"), QStringLiteral("100")});
    for (const char *record :
         {"11000000000100000000083000", "00110101000100000000180530", "10000000000120130428060000"})
        s.add(1, record);
    for (int i = 0; i < 12; ++i)
        s.add(5, "10100000010500000000070000");
    s.add(16, "01000000001600000000235959");
    const QStringList before = s.records();
    const QByteArray file = s.savedFile();
    ASSERT_FALSE(file.isEmpty());
    ASSERT_TRUE(s.open());
    s.w->CmdDownAll->click();
    EXPECT_FALSE(s.w->CmdStop->isHidden());
    ASSERT_TRUE(s.waitMessage(QStringLiteral("写入成功！")));
    EXPECT_TRUE(s.w->CmdStop->isHidden());
    s.w->CmdUpLoadAll->click();
    ASSERT_TRUE(s.waitMessage(QStringLiteral("读取成功！")));
    EXPECT_EQ(std::tuple(s.records(), int(s.w->nPage()), s.w->rowCount()), std::tuple(before, 1, 3));
    s.close();
    EXPECT_EQ(s.savedFile(), file);
}

TEST(EndToEnd, TamperedEntryIsTheOneDifferenceAVerifyFinds)
{
    Session s({QStringLiteral("--tamper"), QStringLiteral("2:2")});
    for (const char *record :
         {"11000000000200000000080000", "10000000000200000000090000", "01000000000200000000100000"})
        s.add(2, record);
    const QStringList before = s.records();
    VerifyTools *tools = s.w->verifyTools();
    // Runs `start` and waits for the result window to show (again).
    const auto verified = [&](const std::function<void()> &start) {
        if (tools->window())
            tools->window()->hide();
        start();
        return WaitFor([&] { return tools->window() && tools->window()->isVisible(); }, kLongWait);
    };
    ASSERT_TRUE(s.open());
    s.w->showChannel(2);
    s.w->CmdDown->click();
    ASSERT_TRUE(s.waitMessage(QStringLiteral("写入成功！")));
    ASSERT_TRUE(WaitFor([&] { return tools->verifyChannelAction->isEnabled(); }));
    ASSERT_TRUE(verified([&] { tools->verifyChannelAction->trigger(); }));
    EXPECT_EQ(s.records(), before) << "the book is not touched";
    VerifyWindow *v = tools->window();
    ASSERT_EQ(std::pair(v->comparisons().size(), v->entries()->topLevelItemCount()), (std::pair<qsizetype, int>(1, 1)));
    const QTreeWidgetItem *row = v->entries()->topLevelItem(0);
    EXPECT_EQ(QStringList({v->channels()->topLevelItem(0)->text(1), row->text(0), row->text(3)}),
              QStringList({"不同", "002", "不同：分"}));
    EXPECT_TRUE(row->text(1).contains(QStringLiteral("09:00:00")) && row->text(2).contains(QStringLiteral("09:01:00")))
        << row->text(1).toStdString() << " / " << row->text(2).toStdString();

    // Written again, the board keeps it (the tamper happens once); with
    // 写入后校验 on, the verify of the written channel follows the box.
    tools->verifyAfterWriteAction->trigger();
    ASSERT_TRUE(verified([&] { v->writeButton()->click(); }));
    EXPECT_EQ(std::pair(s.prompts.messages.count(QStringLiteral("写入成功！")), v->summary()),
              std::pair(qsizetype(2), QStringLiteral("校验1路，全部相同")));
    ASSERT_TRUE(WaitFor([&] { return tools->verifyAllAction->isEnabled(); }));
    ASSERT_TRUE(verified([&] { tools->verifyAllAction->trigger(); }));
    EXPECT_EQ(std::tuple(v->summary(), s.records(), s.prompts.messages.count()),
              std::tuple(QStringLiteral("校验16路，全部相同"), before, qsizetype(2)));
}

} // namespace
