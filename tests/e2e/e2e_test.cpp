// End to end: the window with its real serial link and 200 ms tick against
// kelmora-board on a pseudo-terminal. Every wait is bounded and generous.
#include "app/frmmain.h"
#include "app/verifytools.h"
#include "device/qtseriallink.h"

#include "boardprocess.h"
#include "support/fakes.h"
#include "support/files.h"
#include "support/scriptedprompts.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Session {
    // QSerialPort locks ports machine-wide by the last part of their path (LCK..ComN), and CTest
    // may run these cases side by side: each takes a number of its own (88 is the link test's, 98 the soak's).
    Session(int port, const QStringList &boardOptions)
        : board(dir.path(), port, boardOptions), link(dir.path()),
          w(std::make_unique<Frmmain>(FrmmainSetup{dir.path(), Variant::Standard, &link, &prompts, {}}))
    {
        w->CmbCom->setCurrentIndex(port - 1);
    }
    bool open()
    {
        w->CmdOpen->click();
        return board.started && w->CmdOpen->text() == QStringLiteral("关闭");
    }
    bool waitMessage(const QString &text)
    {
        return WaitFor([&] { return prompts.messages.contains(text); }, 60000);
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
    QString drift() const { return w->SBDrift->text(); }
    QByteArray savedFile()
    {
        w->CmdSave->click();
        return readBytes(w->store().notePath());
    }

    QTemporaryDir dir;
    BoardProcess board;
    ScriptedPrompts prompts;
    QtSerialLink link;
    std::unique_ptr<Frmmain> w;
};

TEST(EndToEnd, LampsCommandsAndTheClockOverALineThatSplitsReplies)
{
    // Every reply in pieces; the board's clock 90 s ahead.
    Session s(89, {QStringLiteral("--split"), QStringLiteral("--clock-offset"), QStringLiteral("90")});
    ASSERT_TRUE(s.open()) << s.prompts.messages.join(u'|').toStdString();
    ASSERT_TRUE(s.waitLamps("RRRRRRRRRRRRRRRR"));
    // 89 or 90 s by when the reply and the computer's clock were read.
    ASSERT_TRUE(WaitFor([&] { return s.drift().startsWith(QStringLiteral("设备时钟快1分")); }))
        << s.drift().toStdString();
    s.w->CmdOpenAll->click();
    EXPECT_TRUE(s.waitLamps("GGGGGGGGGGGGGGGG"));
    s.w->CmdOpen->click();
    EXPECT_EQ(std::pair(s.lamps(), s.drift()), std::pair(QStringLiteral("----------------"), QString()));

    // Opened again with 连接时自动对时: the board's states come back unswitched, and its clock is set once.
    s.w->verifyTools()->clockOnConnectAction->trigger();
    ASSERT_TRUE(s.open());
    ASSERT_TRUE(s.waitMessage(QStringLiteral("设置成功！")));
    EXPECT_TRUE(s.waitLamps("GGGGGGGGGGGGGGGG"));
    EXPECT_TRUE(WaitFor([&] { return s.drift() == QStringLiteral("设备时钟准确"); })) << s.drift().toStdString();
    EXPECT_EQ(std::pair(s.w->SBDrift->styleSheet(), s.prompts.messages),
              std::pair(QString(), QStringList{"设置成功！"}));
}

TEST(EndToEnd, SlowBoardIsServedAtItsOwnPaceAndReadBackGivesTheSameBookAndFile)
{
    // Each answer takes the line's 46 ms and 100 ms of the board's own.
    Session s(87, {QStringLiteral("--answer-ms"), QStringLiteral("100")});
    for (const char *record :
         {"11000000000100000000083000", "00110101000100000000180530", "10000000000120130428060000"})
        AddEntries(s.w->book(), 1, record);
    AddEntries(s.w->book(), 5, "10100000010500000000070000", 12);
    AddEntries(s.w->book(), 16, "01000000001600000000235959");
    const QStringList before = ChannelRecords(s.w->book());
    const QByteArray file = s.savedFile();
    ASSERT_FALSE(file.isEmpty());
    ASSERT_TRUE(s.open());
    s.w->CmdDownAll->click();
    ASSERT_TRUE(s.waitMessage(QStringLiteral("写入成功！")));
    EXPECT_TRUE(s.w->CmdStop->isHidden());
    s.w->CmdUpLoadAll->click();
    ASSERT_TRUE(s.waitMessage(QStringLiteral("读取成功！")));
    EXPECT_EQ(std::tuple(ChannelRecords(s.w->book()), int(s.w->nPage()), s.w->rowCount()), std::tuple(before, 1, 3));
    s.w->CmdOpen->click();
    EXPECT_EQ(s.savedFile(), file);
}

} // namespace
