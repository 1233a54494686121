// The main window: start-up against prepared folders, the link's control
// switching, the editing commands and the schedule files, with scripted boxes.
#include "app/application.h"
#include "app/frmmain.h"
#include "app/scandialog.h"

#include "support/fakes.h"
#include "support/scriptedprompts.h"

#include "storage/inifile.h"
#include "storage/notestore.h"

#include <QtTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ranges>

namespace {

const auto kClock = [] { return QDateTime(QDate(2024, 1, 5), QTime(9, 5, 7)); };
// state() of a fresh window: lamps (. grey, G green, R red), timers, then every button and combo in the
// order they are built, "+" enabled / "-" disabled.
const QString kIdle = "................ T2:0 T3:1 Cmb+ 打开+ Cmb+ 写入所有- 读取设备- 吸合所有+ 断开所有+ 打开+ 保存+ "
                      "另存+ 添加+ 删除单条+ 删除当前+ 写入- 读取- 手动吸合- 手动断开- 读时- 对时- 退出+ 停止-";
const QString kLinked = "................ T2:1 T3:1 Cmb- 关闭+ Cmb- 写入所有+ 读取设备+ 吸合所有+ 断开所有+ 打开- "
                        "保存- 另存- 添加- 删除单条- 删除当前- 写入+ 读取+ 手动吸合+ 手动断开+ 读时+ 对时+ 退出+ 停止-";

template <typename T, typename R> QList<R> collect(const T *from, R (T::*get)(int) const, int count)
{
    const auto items = std::views::iota(0, count) | std::views::transform([&](int i) { return (from->*get)(i); });
    return QList<R>(items.begin(), items.end());
}

class App : public testing::Test {
protected:
    void start(Variant v = Variant::Standard) { w.emplace(FrmmainSetup{dir.path(), v, &link, &prompts, kClock}); }
    QString put(const QString &name, const QByteArray &lines, const QByteArray &section = "[Note]\n")
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(section + lines) > 0);
        return f.fileName();
    }
    // Clicks with `path` as the file dialogs' answer; returns what the boxes said.
    QString told(QPushButton *button, const QString &path = {})
    {
        prompts.messages.clear();
        prompts.savePath = prompts.openPath = path;
        button->click();
        return prompts.messages.join(u'|');
    }
    QString state()
    {
        QString out;
        for (int k = 0; k < kChannelCount; ++k)
            out +=
                QMap<uint32_t, char>{{kLampGrey, '.'}, {kLampGreen, 'G'}, {kLampRed, 'R'}}.value(w->lampColour(k), '?');
        out += QStringLiteral(" T2:%1 T3:%2").arg(w->Timer2.isActive()).arg(w->Timer3.isActive());
        for (QWidget *c : w->centralWidget()->findChildren<QWidget *>())
            if (auto *b = qobject_cast<QPushButton *>(c); b || qobject_cast<QComboBox *>(c))
                out += (b ? u' ' + b->text() : QStringLiteral(" Cmb")) + (c->isEnabled() ? u'+' : u'-');
        return out;
    }
    QStringList listTexts() { return collect(&*w, &Frmmain::rowText, w->rowCount()); }
    QStringList tabs() { return collect(w->SSTab2, &QTabBar::tabText, w->SSTab2->count()); }
    // Each channel's entries in its order as "01001=record"; how channels interleave in the book no file keeps.
    QStringList records() { return ChannelRecords(w->book()).replaceInStrings(QStringLiteral("key"), QString()); }

    QTemporaryDir dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::optional<Frmmain> w;
};

TEST_F(App, BothVariantsStartAlikeAndSwitchTheControlsWithTheLink)
{
    for (Variant v : {Variant::Standard, Variant::Compat}) {
        start(v);
        EXPECT_EQ(w->engine().variant(), v);
        EXPECT_EQ(QStringList({w->windowTitle(), w->CmbID->currentText(), w->CmbCom->currentText(), w->statusText(3)}),
                  (QStringList{"KelmoraV2.4", "1", "Com1", "2024-01-05 09:05:07"}));
        // address items, port items, address, list rows
        EXPECT_EQ(QList<int>({w->CmbID->count(), w->CmbCom->count(), w->engine().DeviceAddress, w->rowCount()}),
                  QList<int>({256, 99, 1, 0}));
        EXPECT_EQ(std::pair(tabs(), w->ChkAuto->isChecked()), std::pair(QStringList(kChannelCount, "未命名"), false));

        for (OpenError e : {OpenError::NotFound, OpenError::Busy, OpenError::PermissionDenied}) {
            link.openError = e;
            EXPECT_EQ(told(w->CmdOpen), "串口打开错误");
            EXPECT_EQ(std::pair(state(), w->statusText(1).startsWith("无权限")),
                      std::pair(kIdle, e == OpenError::PermissionDenied));
        }
        link.openError = OpenError::None;
        w->CmbCom->setCurrentIndex(2);
        for (int failures : {0, 2}) { // the button closes the link; a failing port closes it alike
            w->CmdOpen->click();
            EXPECT_EQ(std::tuple(link.openedPort, state(), w->statusText(1)), std::tuple(3, kLinked, QString()));
            Frame status = FakeBoard::reply(wire::kStatus);
            status[4] = 0x05, status[5] = 0x80;
            SealFrame(status);
            w->onFrame(status);
            EXPECT_EQ(state().left(21), "GRGRRRRRRRRRRRRG T2:1");
            EXPECT_TRUE(w->statusText(1).startsWith("模块当前时间:"));
            if (failures == 0)
                w->CmdOpen->click();
            for (int i = 0; i < failures; ++i)
                w->onLinkFailed("unplugged");
            EXPECT_EQ(std::tuple(state(), w->statusText(1), link.isOpen(), w->engine().bSyncRelay,
                                 QByteArrayView(w->engine().PendingCommand).sliced(1).toByteArray()),
                      std::tuple(kIdle, QString(), false, true, QByteArray(kChannelCount, kRelayOff)));
        }
        EXPECT_EQ(prompts.messages.count("串口通信错误，连接已关闭"), 1);
    }
}

TEST_F(App, ATransferHoldsTheOtherCommandsOffersStopAndEndsWithTheLink)
{
    put("Note.ini", "01001=11000000000100000000083000\n01002=11000000000100000000093000\n");
    start();
    const auto stopOffered = [&] { return !w->CmdStop->isHidden() && w->CmdStop->isEnabled(); };
    int edits = 0;
    prompts.editor = [&](Dialog &) { ++edits; };
    prompts.confirmAnswer = true;
    w->List->setCurrentItem(w->List->topLevelItem(0));
    enum End { LinkFails, Stop, Close };
    // started by, ended by, the boxes then (one, not a second for the transfer), panel 2, the window after
    const std::tuple<QPushButton *, End, QStringList, QString, QString> rows[] = {
        {w->CmdDown, LinkFails, {"串口通信错误，连接已关闭"}, "写入未完成：连接已关闭", kIdle},
        {w->CmdUpLoadAll, Stop, {"已停止"}, "", kLinked},
        {w->CmdUpLoadAll, Close, {}, "读取未完成：连接已关闭", kIdle},
    };
    for (const auto &[command, end, boxes, note, after] : rows) {
        prompts.messages.clear();
        w->CmdOpen->click();
        EXPECT_FALSE(stopOffered());
        command->click();
        EXPECT_TRUE(stopOffered() && !w->CmdDown->isEnabled() && !w->CmdDownAll->isEnabled() &&
                    !w->CmdUpload->isEnabled() && !w->CmdUpLoadAll->isEnabled() && !w->SSTab2->isEnabled() &&
                    !w->statusText(2).isEmpty());
        w->List_DblClick(); // the entry may be on its way to the board
        w->engine().Timer2_Timer();
        end == LinkFails ? w->onLinkFailed("unplugged") : (end == Stop ? w->CmdStop : w->CmdOpen)->click();
        QApplication::processEvents();
        EXPECT_FALSE(w->engine().transferActive() || w->PB->isVisibleTo(w->centralWidget()) || stopOffered() ||
                     !w->SSTab2->isEnabled());
        EXPECT_EQ(std::tuple(edits, state(), prompts.messages, w->statusText(2)), std::tuple(0, after, boxes, note));
        if (end == Stop)
            w->CmdOpen->click();
    }
}

TEST_F(App, PortsNameWhatTheyOpenAndSelectorsOnlyPick)
{
    start();
    ASSERT_TRUE(QFile::link("/dev/ttyUSB-unplugged", dir.filePath("Com40")));
    link.openError = OpenError::NotFound;
    for (const auto &[port, device, text] :
         {std::tuple(40, dir.filePath("Com40"), QStringLiteral("Com40 指向的 /dev/ttyUSB-unplugged 不存在")),
          std::tuple(98, QString(), "Com98（未连接：需在 " + QDir::toNativeSeparators(dir.path()) + " 建立 Com98 链接）")}) {
        link.device = device;
        w->CmbCom->setCurrentIndex(port - 1);
        const QString said = told(w->CmdOpen); // before panel 1 is read
        EXPECT_EQ(std::pair(said, w->statusText(1)), std::pair(QStringLiteral("串口打开错误"), text));
    }

    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath("Com41")));
    w->CmbCom->showPopup();
    w->CmbCom->hidePopup();
    auto tip = [&](int port) { return w->CmbCom->itemData(port - 1, Qt::ToolTipRole).toString(); };
    EXPECT_EQ(tip(41), dir.filePath("Com41"));
    EXPECT_EQ(tip(40), dir.filePath("Com40") + " → /dev/ttyUSB-unplugged（目标不存在）");
    EXPECT_TRUE(tip(97).contains(QDir::toNativeSeparators(dir.path()))) << "where to make the link";

    // Both selectors are pick-only (which keys a pick-only list ignores, the editor's tests tell).
    for (auto [combo, typed] : {std::pair(w->CmbID, "5"), std::pair(w->CmbCom, "c")}) {
        const int before = combo->currentIndex();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
        QApplication::sendEvent(combo, &key);
        EXPECT_EQ(combo->currentIndex(), before) << typed;
    }
}

TEST_F(App, ControlsAreNamedReadableAndKeyboardDriven)
{
    put("Note.ini", "01001=11000000000100000000083000\n");
    start();
    QStringList names{"CmbCom",      "CmdOpen",     "CmbID",       "CmdDownAll", "CmdUpLoadAll", "CmdOpenAll",
                      "CmdCloseAll", "CmdOpenFile", "CmdSave",     "CmdSaveAs",  "SSTab2",       "List",
                      "ChkAuto",     "CmdAdd",      "CmdDel",      "CmdDelAll",  "CmdDown",      "CmdUpload",
                      "CmdIn",       "CmdOut",      "CmdReadTime", "CmdSetTime", "CmdQuit"};
    QStringList focusOrder;
    for (QWidget *c = w->CmbCom; focusOrder.size() < names.size(); c = c->nextInFocusChain())
        if (c->focusPolicy() & Qt::TabFocus)
            focusOrder << c->objectName();
    EXPECT_EQ(focusOrder, names);
    names.append({"Label1", "Label3", "Label5", "Label6", "Label4", "Label2", "Label7", "Label8", "PB"});
    QStringList spoken;
    for (const QString &name : names) {
        auto *c = w->findChild<QWidget *>(name);
        ASSERT_TRUE(c) << name.toStdString();
        if (QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).isEmpty())
            spoken << name;
    }
    EXPECT_EQ(spoken, QStringList()) << "controls without an accessible name";
    for (const char *name : {"SB1", "SB2", "SB3", "LabDebug"}) // read by their changing text, told by description
        EXPECT_FALSE(w->findChild<QLabel *>(name)->accessibleDescription().isEmpty()) << name;
    EXPECT_EQ(w->findChild<QLabel *>("SBDrift"), w->SBDrift);

    // What a screen reader says of the lamps before and after the first status reply (its change events: make test-a11y).
    auto lamps = [&] {
        QString out;
        for (int k = 0; k < kChannelCount; ++k) {
            QAccessibleInterface *lamp =
                QAccessible::queryAccessibleInterface(w->findChild<QWidget *>(QStringLiteral("Shape1_%1").arg(k)));
            out += lamp->text(QAccessible::Name) + u' ' + lamp->text(QAccessible::Description) + u';';
        }
        return out;
    };
    EXPECT_TRUE(lamps().startsWith("第1路 未知;第2路 未知;")) << lamps().toStdString();
    w->findChild<QPushButton *>("CmdOpen")->click();
    Frame status = FakeBoard::reply(wire::kStatus);
    status[4] = 0x05;
    SealFrame(status);
    w->onFrame(status);
    EXPECT_TRUE(lamps().startsWith("第1路 吸合;第2路 断开;第3路 吸合;第4路 断开;")) << lamps().toStdString();
    w->findChild<QPushButton *>("CmdOpen")->click();

    // Keys, with the window active as under a real keyboard.
    w->show();
    QApplication::setActiveWindow(&*w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&*w));
    prompts.savePath = dir.filePath("copy.ini");
    int edits = 0;
    prompts.editor = [&edits](Dialog &d) { ++edits, d.confirm(); };
    QTest::keyClick(&*w, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&*w, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&*w, Qt::Key_O, Qt::ControlModifier); // cancelled: no file named
    QTest::keyClick(&*w, Qt::Key_Insert);
    auto *list = w->findChild<QTreeWidget *>("List");
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list, Qt::Key_Return);
    prompts.confirmAnswer = false;
    QTest::keyClick(&*w, Qt::Key_Delete);
    EXPECT_EQ(prompts.messages, (QStringList{"保存成功！", "文件已另存为" + prompts.savePath}));
    EXPECT_EQ(std::pair(edits, w->book().countOf(1)), std::pair(2, 2)) << "Insert added, Enter edited";
    EXPECT_EQ(prompts.questions, QStringList{"删除当前信息吗？"});
}

TEST(ScheduleFolder, BesideAWritableCopyElseTheDataFolder)
{
    QTemporaryDir portable;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    EXPECT_EQ(ScheduleFolder(portable.path()), portable.path());
    EXPECT_EQ(ScheduleFolder("/usr/bin"), data) << "installed, even when root may write there";
    EXPECT_EQ(ScheduleFolder(portable.filePath("missing")), data);
}

TEST_F(App, StartUpLoadsEachChannelUpToItsFirstGapAndTellsWhatItCannotRead)
{
    // Which records load is the loader's to tell; here, that the window says what it left out, once.
    QByteArray note = "02001=11000000000200000000083000\n02002=01000000000200000000093000\n"
                      "03001=1100000000030000000008x000\n"                                   // unreadable
                      "04001=11000000001700000000083000\n"                                   // no channel 17
                      "05001=11000000001600000000083000\n";                                  // channel 16, full already
    for (int n = 1; n <= 256; ++n)
        note += RecordKey(16, n).toLatin1() + "=10000000001620130428060000\n";
    put("Note.ini", note);
    put("Name.ini", "02=" + QByteArray(QStringEncoder("GBK").encode(u"第二路水泵")) + "\n16=Lights\n");
    const qint64 reads = FileReadCount();
    start();
    EXPECT_EQ(FileReadCount() - reads, 2); // Note.ini and Name.ini, once each
    EXPECT_EQ(tabs().first(3) << tabs()[15], (QStringList{"未命名", "第二路水", "未命名", "Lights"}));
    w->SSTab2_Click(1);
    EXPECT_EQ(listTexts(), (QStringList{"第2路, 每天, 08:30:00 ,吸合 ", "第2路, 每天, 09:30:00 ,断开 "}));

    EXPECT_TRUE(prompts.messages.isEmpty()); // told once the window is up, and only once
    w->show();
    w->hide();
    w->show();
    QApplication::processEvents();
    const QString said = prompts.messages.join(u'|');
    EXPECT_EQ(std::pair(int(said.count("03001")), int(said.count("04001"))), std::pair(1, 1));
    EXPECT_TRUE(said.contains("以下记录超出每路255条，未能载入（文件未改动）：05001"));

    put("Note.ini", "01001=11000000000100000000083000\n", "[Other]\n");
    for (const char *notice : {"Note.ini 中没有[Note]节", "Note.ini 无法读取"}) {
        start();
        w->show();
        QApplication::processEvents();
        EXPECT_TRUE(prompts.messages.last().startsWith(notice));
        QFile::remove(dir.filePath("Note.ini")) && QDir(dir.path()).mkdir("Note.ini"); // there, but no file to read
    }
}

TEST_F(App, EditingAsksFirstAndChangesOnlyWhatItShould)
{
    put("Note.ini", "05001=11000000000500000000010000\n05002=11000000000500000000020000\n"
                    "05003=11000000000500000000030000\n05004=11000000000500000000040000\n"
                    "06001=11000000000600000000050000\n");
    start();
    w->SSTab2_Click(4);
    prompts.confirmAnswer = false;
    w->List->topLevelItem(0)->setSelected(true);
    w->List->topLevelItem(2)->setSelected(true);
    w->CmdDel->click();
    w->CmdDelAll->click();
    EXPECT_EQ(prompts.questions, (QStringList{"删除当前信息吗？", "删除所有信息吗？"}));
    EXPECT_EQ(records().size(), 5);

    prompts.confirmAnswer = true;
    w->CmdDel->click();                                                            // rows 1 and 3 are still selected
    prompts.editor = [](Dialog &d) { d.Combo1->setCurrentIndex(7), d.confirm(); }; // a new entry at 07:00
    w->CmdAdd->click();
    w->List->setCurrentItem(w->List->topLevelItem(0));
    prompts.editor = [](Dialog &d) { d.CmbStatus->setCurrentIndex(1), d.confirm(); }; // the first row turns off
    w->List_DblClick();
    EXPECT_EQ(records(), (QStringList{"05001=01000000000500000000020000", "05002=11000000000500000000040000",
                                      "05003=11000000000500000000070000", "06001=11000000000600000000050000"}));
    w->CmdDelAll->click();
    EXPECT_EQ(w->rowCount(), 0);
    EXPECT_EQ(records(), QStringList{"06001=11000000000600000000050000"});
}

TEST_F(App, FilesSaveSaveAsRestartAndOpen)
{
    start();
    w->SSTab2->setCurrentIndex(2);
    w->CmdAdd->click();
    const QString bad = put("bad.ini", "01001=11000000000100000000083000\n01002=1100000000010000000008300x\n");
    EXPECT_EQ(told(w->CmdOpenFile, bad), "文件格式错误：01002");
    EXPECT_EQ(records(), QStringList{"03001=11000000000300000000000000"});

    const QStringList good{"01001=11000000000100000000083000", "01002=01000000000100000000093000"};
    EXPECT_EQ(told(w->CmdOpenFile, put("good.ini", good.join(u'\n').toLatin1())), "");
    EXPECT_EQ(std::tuple(records(), w->SSTab2->currentIndex(), int(w->nPage()), listTexts()),
              std::tuple(good, 0, 1, QStringList{"第1路, 每天, 08:30:00 ,吸合 ", "第1路, 每天, 09:30:00 ,断开 "}));

    const QString exported = dir.filePath("export.ini");
    EXPECT_EQ(told(w->CmdSaveAs, exported), "文件已另存为" + exported);
    EXPECT_FALSE(QFile::exists(w->store().notePath())); // Save As before any Save leaves Note.ini unwritten
    EXPECT_EQ(told(w->CmdSave), "保存成功！");
    EXPECT_EQ(told(w->CmdSaveAs) + told(w->CmdOpenFile), ""); // cancelled dialogs
    EXPECT_EQ(told(w->CmdSaveAs, dir.filePath("no/such/dir/x.ini")), "另存失败！");
    EXPECT_EQ(w->statusText(1), "另存失败：文件夹不存在");
    QFile::setPermissions(w->store().notePath(), QFileDevice::ReadOwner);
    EXPECT_EQ(told(w->CmdSave), "保存失败！");
    EXPECT_EQ(w->statusText(1), "保存失败：文件为只读");
    QFile::setPermissions(w->store().notePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    start(); // restart
    EXPECT_EQ(records(), good);
    EXPECT_EQ(told(w->CmdOpenFile, put("none.ini", "")), "");
    EXPECT_EQ(std::pair(w->book().isEmpty(), w->ChkAuto->isChecked()), std::pair(true, false));
    told(w->CmdOpenFile, exported); // Save As wrote the book as it stood
    EXPECT_EQ(records(), good);
}

// 搜索设备 has the line to itself, and an address it found becomes the window's.
using Scan = App;
TEST_F(Scan, HasTheLineToItselfAndHandsBackTheChosenAddress)
{
    start();
    const QList<QAction *> actions = w->toolsMenu()->actions();
    const auto action = std::ranges::find(actions, QStringLiteral("搜索设备"), &QAction::text);
    ASSERT_NE(action, actions.end());
    (*action)->trigger();
    auto *scan = w->findChild<ScanDialog *>(QStringLiteral("ScanDialog"));
    ASSERT_TRUE(scan);
    EXPECT_EQ(w->findChildren<QProgressBar *>(QStringLiteral("PB")), QList<QProgressBar *>{w->PB});

    scan->CmdScan->click(); // the link is closed: nothing goes out
    EXPECT_FALSE(scan->scanning() || !link.written.isEmpty());

    w->CmdOpen->click();
    Frame status = FakeBoard::reply(wire::kStatus);
    status[4] = 1;
    SealFrame(status);
    w->onFrame(status);
    ASSERT_EQ(w->lampColour(0), kLampGreen);
    link.written.clear();
    scan->From->setValue(6);
    scan->To->setValue(8);
    scan->CmdScan->click();
    EXPECT_EQ(std::pair(scan->scanning(), w->Timer2.isActive()), std::pair(true, false))
        << "the poll stays off the line";
    Frame reply = FakeBoard::reply(wire::kStatus);
    reply[1] = 7;
    SealFrame(reply);
    w->onFrame(reply); // address 6 was asked: board 7's reply does not count
    scan->stepScan(); // 6 stayed silent: asked once more
    scan->stepScan();
    w->onFrame(reply);
    scan->stepScan(); // 7 answered: on to 8
    reply[1] = 8;
    reply[2] = wire::kStatusCompat; // a board of the compatible kind
    SealFrame(reply);
    w->onFrame(reply);
    scan->stepScan();
    EXPECT_EQ(std::tuple(scan->scanning(), w->Timer2.isActive(), w->lampColour(0)), std::tuple(false, true, kLampGrey))
        << "the board's states are heard afresh";
    QList<int> asked;
    for (const Frame &f : link.written)
        asked << f[1];
    EXPECT_EQ(std::pair(asked, scan->Note->text()), std::pair(QList<int>{6, 6, 7, 8}, QStringLiteral("找到2个设备")));

    ASSERT_EQ(scan->Found->count(), 2);
    scan->Found->setCurrentRow(0);
    scan->CmdUse->click();
    EXPECT_EQ(std::pair(w->CmbID->currentText(), int(w->engine().DeviceAddress)), std::pair(QStringLiteral("7"), 7));

    // 停止 says where it stopped; the bar stays at what was scanned to the end.
    scan->CmdScan->click();
    scan->stepScan();
    scan->stepScan(); // 6 silent twice: 7 asked
    scan->CmdStop->click();
    EXPECT_EQ(std::tuple(scan->scanning(), scan->PB->value(), scan->Note->text()),
              std::tuple(false, 1, QStringLiteral("已停止，地址7至8未搜索；找到0个设备")));
}

} // namespace
