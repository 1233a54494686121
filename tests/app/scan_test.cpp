// 搜索设备 in the real window: the scan has the line to itself, and an address
// it found becomes the window's.
#include "app/frmmain.h"
#include "app/scandialog.h"

#include "support/fakes.h"
#include "support/scriptedprompts.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(Scan, HasTheLineToItselfAndHandsBackTheChosenAddress)
{
    QTemporaryDir dir;
    FakeLink link;
    ScriptedPrompts prompts;
    Frmmain w(FrmmainSetup{dir.path(), Variant::Standard, &link, &prompts, {}});
    const QList<QAction *> actions = w.toolsMenu()->actions();
    const auto action = std::ranges::find(actions, QStringLiteral("搜索设备"), &QAction::text);
    ASSERT_NE(action, actions.end());
    (*action)->trigger();
    auto *scan = w.findChild<ScanDialog *>(QStringLiteral("ScanDialog"));
    ASSERT_TRUE(scan);
    EXPECT_EQ(w.findChildren<QProgressBar *>(QStringLiteral("PB")), QList<QProgressBar *>{w.PB});

    scan->CmdScan->click(); // the link is closed: nothing goes out
    EXPECT_FALSE(scan->scanning() || !link.written.isEmpty());

    w.CmdOpen->click();
    Frame status = FakeBoard::reply(wire::kStatus);
    status[4] = 1;
    w.onFrame(status);
    ASSERT_EQ(w.lampColour(0), kLampGreen);
    link.written.clear();
    scan->From->setValue(6);
    scan->To->setValue(8);
    scan->CmdScan->click();
    EXPECT_EQ(std::pair(scan->scanning(), w.Timer2.isActive()), std::pair(true, false))
        << "the poll stays off the line";
    Frame reply = FakeBoard::reply(wire::kStatus);
    reply[1] = 7;
    SealFrame(reply);
    w.onFrame(reply); // address 6 was asked: board 7's reply does not count
    scan->stepScan(); // 6 stayed silent: asked once more
    scan->stepScan();
    w.onFrame(reply);
    scan->stepScan(); // 7 answered: on to 8
    reply[1] = 8;
    reply[2] = wire::kStatusCompat; // a board of the compatible kind
    SealFrame(reply);
    w.onFrame(reply);
    scan->stepScan();
    EXPECT_EQ(std::tuple(scan->scanning(), w.Timer2.isActive(), w.lampColour(0)), std::tuple(false, true, kLampGrey))
        << "the board's states are heard afresh";
    QList<int> asked;
    for (const Frame &f : link.written)
        asked << f[1];
    EXPECT_EQ(std::pair(asked, scan->Note->text()), std::pair(QList<int>{6, 6, 7, 8}, QStringLiteral("找到2个设备")));

    ASSERT_EQ(scan->Found->count(), 2);
    scan->Found->setCurrentRow(0);
    scan->CmdUse->click();
    EXPECT_EQ(std::pair(w.CmbID->currentText(), int(w.engine().DeviceAddress)), std::pair(QStringLiteral("7"), 7));

    // 停止 says where it stopped; the bar stays at what was scanned to the end.
    scan->CmdScan->click();
    scan->stepScan();
    scan->stepScan(); // 6 silent twice: 7 asked
    scan->CmdStop->click();
    EXPECT_EQ(std::tuple(scan->scanning(), scan->PB->value(), scan->Note->text()),
              std::tuple(false, 1, QStringLiteral("已停止，地址7至8未搜索；找到0个设备")));
}

} // namespace
