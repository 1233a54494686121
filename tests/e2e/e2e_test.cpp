// End to end: the window with its real serial link and 200 ms tick against
// kelmora-board on a pseudo-terminal. Every wait is bounded and generous.
#include "app/frmmain.h"
#include "app/verifytools.h"
#include "device/qtseriallink.h"

#include "boardprocess.h"
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

} // namespace
