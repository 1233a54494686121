// The main window with scripted boxes and the fake board: what only the window can show.
#include "app/application.h"
#include "app/copydialog.h"
#include "app/edittools.h"
#include "app/findingswindow.h"
#include "app/framelogwindow.h"
#include "app/scandialog.h"
#include "app/schedulepicture.h"
#include "app/scheduletools.h"
#include "app/verifytools.h"
#include "app/verifywindow.h"
#include "window.h"

#include "storage/notestore.h"

#include <QtTest>

namespace {

TEST_F(App, BothVariantsStartAlikeAndSwitchTheControlsWithTheLink)
{
    for (Variant v : {Variant::Standard, Variant::Compat}) {
        start(v);
        EXPECT_EQ(w->engine().variant(), v);
        EXPECT_EQ(QStringList({w->windowTitle(), w->CmbID->currentText(), w->CmbCom->currentText(), w->statusText(3),
                               w->CmbID->itemText(w->CmbID->count() - 1), w->CmbCom->itemText(w->CmbCom->count() - 1)}),
                  (QStringList{"KelmoraV2.4", "1", "Com1", "2024-01-05 09:05:07", "255", "Com99"}));
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
            w->onFrame(SealedReply(wire::kStatus, {0x05, 0x80}));
            EXPECT_EQ(state().left(21), "GRGRRRRRRRRRRRRG T2:1");
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
    enum End { LinkFails, Stop };
    // started by, ended by, the boxes then (one, not a second for the transfer), panel 2, the window after
    const std::tuple<QPushButton *, End, QStringList, QString, QString> rows[] = {
        {w->CmdDown, LinkFails, {"串口通信错误，连接已关闭"}, "写入未完成：连接已关闭", kIdle},
        {w->CmdUpLoadAll, Stop, {"已停止"}, "", kLinked},
    };
    for (const auto &[command, end, boxes, note, after] : rows) {
        prompts.messages.clear();
        w->CmdOpen->click();
        command->click();
        EXPECT_TRUE(stopOffered() && !w->CmdDown->isEnabled() && !w->CmdDownAll->isEnabled() &&
                    !w->CmdUpload->isEnabled() && !w->CmdUpLoadAll->isEnabled() && !w->SSTab2->isEnabled() &&
                    !w->statusText(2).isEmpty());
        w->List_DblClick(); // the entry may be on its way to the board
        w->engine().Timer2_Timer();
        end == LinkFails ? w->onLinkFailed("unplugged") : w->CmdStop->click();
        QApplication::processEvents();
        EXPECT_FALSE(w->engine().transferActive() || w->PB->isVisibleTo(w->centralWidget()) || !w->SSTab2->isEnabled());
        EXPECT_EQ(std::tuple(edits, state(), prompts.messages, w->statusText(2)), std::tuple(0, after, boxes, note));
        if (end == Stop)
            w->CmdOpen->click();
    }
}

TEST_F(App, PortsNameWhatTheyOpenSelectorsOnlyPickAndAScanHandsBackTheAddress)
{
    start();
    ASSERT_TRUE(QFile::link("/dev/ttyUSB-unplugged", dir.filePath("Com40")));
    link.openError = OpenError::NotFound;
    for (const auto &[port, device, text] :
         {std::tuple(40, dir.filePath("Com40"), QStringLiteral("Com40 指向的 /dev/ttyUSB-unplugged 不存在")),
          std::tuple(98, QString(),
                     "Com98（未连接：需在 " + QDir::toNativeSeparators(dir.path()) + " 建立 Com98 链接）")}) {
        link.device = device;
        w->CmbCom->setCurrentIndex(port - 1);
        const QString said = told(w->CmdOpen); // before panel 1 is read
        EXPECT_EQ(std::pair(said, w->statusText(1)), std::pair(QStringLiteral("串口打开错误"), text));
    }

    w->CmbCom->showPopup(); // the tooltips are read afresh
    w->CmbCom->hidePopup();
    EXPECT_EQ(w->CmbCom->itemData(39, Qt::ToolTipRole).toString(),
              dir.filePath("Com40") + " → /dev/ttyUSB-unplugged（目标不存在）");

    // Pick-only (which keys a pick-only list ignores, the editor's tests tell).
    for (auto [combo, typed] : {std::pair(w->CmbID, "5"), std::pair(w->CmbCom, "c")}) {
        const int before = combo->currentIndex();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
        QApplication::sendEvent(combo, &key);
        EXPECT_EQ(combo->currentIndex(), before) << typed;
    }

    // 搜索设备 has the line to itself, and an address it found becomes the window's.
    start();
    link.openError = OpenError::None;
    toolsItem("搜索设备")->trigger();
    auto *scan = w->findChild<ScanDialog *>(QStringLiteral("ScanDialog"));

    scan->CmdScan->click(); // the link is closed: nothing goes out
    EXPECT_FALSE(scan->scanning() || !link.written.isEmpty());

    w->CmdOpen->click();
    w->onFrame(SealedReply(wire::kStatus, {1}));
    ASSERT_EQ(w->lampColour(0), kLampGreen);
    link.written.clear();
    scan->From->setValue(6);
    scan->To->setValue(8);
    scan->CmdScan->click();
    EXPECT_EQ(std::pair(scan->scanning(), w->Timer2.isActive()), std::pair(true, false))
        << "the poll stays off the line";
    const Frame reply = SealedReply(wire::kStatus, {}, 7);
    w->onFrame(reply); // address 6 was asked: board 7's reply does not count
    scan->stepScan();  // 6 stayed silent: asked once more
    scan->stepScan();
    w->onFrame(reply);
    scan->stepScan();                                    // 7 answered: on to 8
    w->onFrame(SealedReply(wire::kStatusCompat, {}, 8)); // a board of the compatible kind
    scan->stepScan();
    EXPECT_EQ(std::tuple(scan->scanning(), w->Timer2.isActive(), w->lampColour(0)), std::tuple(false, true, kLampGrey))
        << "the board's states are heard afresh";
    QList<int> asked;
    for (const Frame &f : link.written)
        asked << f[1];
    EXPECT_EQ(std::pair(asked, scan->Note->text()), std::pair(QList<int>{6, 6, 7, 8}, QStringLiteral("找到2个设备")));

    scan->Found->setCurrentRow(0);
    scan->CmdUse->click();
    EXPECT_EQ(std::pair(w->CmbID->currentText(), int(w->engine().DeviceAddress)), std::pair(QStringLiteral("7"), 7));
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
    QStringList unnamed; // what a screen reader says of the lamps: make test-a11y
    for (const QString &name : names)
        if (QAccessible::queryAccessibleInterface(w->findChild<QWidget *>(name))->text(QAccessible::Name).isEmpty())
            unnamed << name;
    EXPECT_EQ(unnamed, QStringList());

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
                      "03001=1100000000030000000008x000\n"  // unreadable
                      "05001=11000000001600000000083000\n"; // channel 16, full already
    for (int n = 1; n <= 256; ++n)
        note += RecordKey(16, n).toLatin1() + "=10000000001620130428060000\n";
    put("Note.ini", note);
    put("Name.ini", "02=" + QByteArray(QStringEncoder("GBK").encode(u"第二路水泵")) + "\n16=Lights\n");
    start();
    EXPECT_EQ(tabs().first(3) << tabs()[15], (QStringList{"未命名", "第二路水", "未命名", "Lights"}));
    w->SSTab2_Click(1);
    EXPECT_EQ(listTexts(), (QStringList{"第2路, 每天, 08:30:00 ,吸合 ", "第2路, 每天, 09:30:00 ,断开 "}));

    EXPECT_TRUE(prompts.messages.isEmpty()); // told once the window is up, and only once
    w->show();
    w->hide();
    w->show();
    QApplication::processEvents();
    EXPECT_EQ(prompts.messages, QStringList{"以下记录格式错误，未能载入（文件未改动）：03001\n"
                                            "以下记录超出每路255条，未能载入（文件未改动）：05001"});

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

const char *kDailyOn8 = "11000000000100000000080000";
const char *kDailyOff18 = "01000000000100000000180000";
const char *kWeeklyNoDay = "10100000000100000000090000";
const char *kMondayOn8 = "10110000000100000000080000";

class Tools : public App {
protected:
    void start(std::initializer_list<std::pair<int, const char *>> adds = {})
    {
        now = QDateTime(QDate(2026, 12, 9), QTime(12, 0)); // a Wednesday
        App::start();
        tools = w->scheduleTools();
        for (const auto &[channel, record] : adds)
            AddEntries(w->book(), channel, record);
    }
    QWidget *lamp(int c) { return w->findChild<QWidget *>(QStringLiteral("Shape1_%1").arg(c - 1)); }

    ScheduleTools *tools = nullptr;
};

TEST_F(Tools, MenuItemsOpenOnTheCurrentChannelAndCopyRefusesPast255AndAsksBeforeReplacing)
{
    start({{1, kDailyOn8}, {1, kDailyOff18}, {3, kDailyOn8}, {3, kWeeklyNoDay}});
    w->SSTab2_Click(2);
    tools->pictureAction->trigger();
    PictureWindow *picture = tools->picture();
    ASSERT_TRUE(picture && picture->isVisible());
    EXPECT_EQ(std::pair(picture->channel(), picture->monday()), std::pair(3, QDate(2026, 12, 7)));
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
    findings->findChild<QPushButton *>()->click(); // 重新检查: what it finds, check_test tells
    QTreeWidgetItem *second = findings->list()->topLevelItem(1);
    ASSERT_TRUE(second);
    Q_EMIT findings->list()->itemDoubleClicked(second, 0);
    EXPECT_EQ(std::pair(int(w->nPage()), w->List->currentItem()), std::pair(2, w->List->topLevelItem(1)));

    // 复制到… from channel 2: past 255 it refuses; replacing a channel that holds entries asks first.
    AddEntries(w->book(), 1, kDailyOn8, 252);
    tools->copyAction->trigger();
    CopyDialog *copy = tools->copyDialog();
    EXPECT_TRUE(copy->isVisible() && copy->source() == 2 && !copy->targets[1]->isEnabled());
    copy->targets[0]->setChecked(true);
    copy->targets[4]->setChecked(true);
    copy->append->setChecked(true);
    copy->ok->click();
    EXPECT_EQ(std::tuple(prompts.messages, copy->isVisible(), w->book().countOf(1), w->book().countOf(5)),
              std::tuple(QStringList({"第1路将超过255条，未复制"}), true, 254, 0));
    copy->replace->setChecked(true);
    prompts.confirmAnswer = false;
    copy->ok->click();
    EXPECT_EQ(std::pair(prompts.questions, w->book().countOf(1)),
              std::pair(QStringList({"删除所有信息吗？", "第1路已有日程，替换吗？"}), 254));
    prompts.confirmAnswer = true;
    copy->ok->click();
    EXPECT_EQ(std::tuple(w->book().countOf(1), int(w->nPage()), w->rowCount(), w->rowText(0)),
              std::tuple(2, 1, 2, QStringLiteral("第1路, 每星期， 09:00:00 ,吸合 ")));
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
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(panel, &click); // the panel opens the findings
    EXPECT_TRUE(tools->findings() && tools->findings()->isVisible());
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
    // 1: on 08:00 to 18:00; 2: on at 08:00; 3: on Mondays 08:00 to 18:00; 4: no entries.
    start({{1, kDailyOn8}, {1, kDailyOff18}, {2, kDailyOn8}, {3, kMondayOn8}, {3, kDailyOff18}});
    w->CmdOpen->click();
    tools->refreshRings();
    EXPECT_FALSE(w->lampRing(0)) << "no board clock yet";
    // The board: channel 1 on, the others off, its clock on December `day` at `hour`, its weekday set to Monday.
    const auto boardSays = [&](uint8_t day, uint8_t hour, uint8_t second = 0) {
        w->onFrame(SealedReply(wire::kStatus, {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 26, 12, day, 2, hour, 0, second}));
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

    // Open again, 31 s off: the drift panel and its alarm (a steady figure near a second: clockdrift_test).
    w->CmdOpen->click();
    boardSays(9, 12, 31);
    EXPECT_EQ(w->SBDrift->text() + w->SBDrift->styleSheet(), "设备时钟快31秒QLabel { color: red; }");
    EXPECT_TRUE(w->SBDrift->toolTip().contains(QStringLiteral("对时")) && prompts.messages.isEmpty() &&
                !w->engine().bSetTimePending); // 连接时自动对时 is off
    w->CmdOpen->click();                       // the panel empties: e2e_test

    // With 连接时自动对时 the first report after 打开 sets a far-off clock as 对时 does, and a later one does not.
    w->verifyTools()->clockOnConnectAction->trigger();
    w->CmdOpen->click();
    boardSays(9, 12, 31);
    w->onFrame(SealedReply(wire::kSetClock));
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

TEST_F(Verify, AReadFromTheBoardAndAFileOpenedAreStepsThatUndo)
{
    start({{2, "11000000000200000000080000"}});
    const QStringList mine = ChannelRecords(w->book());
    boardHolds(2, {u"11000000000200000000090000", u"01000000000200000000100000"});
    w->SSTab2_Click(1);
    w->CmdOpen->click();
    QApplication::processEvents();
    w->CmdUpload->click();
    runTransfer();
    QAction *undo = w->editTools()->undoAction;
    EXPECT_EQ(std::pair(w->book().countOf(2), undo->text()), std::pair(2, QString("撤销 读取第2路")));
    undo->trigger();
    EXPECT_EQ(ChannelRecords(w->book()), mine);
    w->CmdOpen->click();
    told(w->CmdOpenFile, put("other.ini", "05001=11000000000500000000083000\n"));
    QApplication::processEvents(); // the window's touch is looked at once the action is done
    EXPECT_EQ(std::pair(w->book().countOf(5), undo->text()), std::pair(1, QString("撤销 打开 other.ini")));
    undo->trigger();
    EXPECT_EQ(ChannelRecords(w->book()), mine);
}

TEST_F(Verify, ReadsIntoItsOwnBookShowsDifferencesAndActsOnThem)
{
    start();
    VerifyTools *tools = w->verifyTools();
    for (const char *record :
         {"11000000000200000000080000", "01000000000200000000090000", "11000000000200000000100000"})
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

    v->selectChannel(2); // 采用设备
    w->SSTab2_Click(1);
    prompts.confirmAnswer = false;
    v->takeButton()->click();
    EXPECT_EQ(std::pair(prompts.questions, ChannelRecords(w->book())),
              std::pair(QStringList{"此操作将以设备上的第2路计划替换软件中的该路信息，继续否？"}, before));
    prompts.confirmAnswer = true;
    v->takeButton()->click();
    EXPECT_EQ(std::tuple(ChannelRecords(w->book()).value(1), w->book().size(), w->rowCount(),
                         v->channels()->topLevelItem(1)->text(1), v->takeButton()->isEnabled()),
              std::tuple(QStringLiteral("key02002=01000000000200000000090100"), 3, 2, QStringLiteral("相同"), false));

    // 写入差异 writes channel 5 alone; 写入后校验 verifies it once "写入成功！" is closed.
    tools->verifyAfterWriteAction->trigger();
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
}

struct ScriptedDialog final : LogFileDialog {
    QString saveFileName(QWidget *) override { return answer; }
    QString answer;
};

// 通信记录's filters, words and file format are framelog_test's; a save that fails must say so.
TEST(FrameLogWindow, SaysWhenASaveFails)
{
    FrameLog log;
    ScriptedDialog dialog;
    FrameLogWindow w(log, dialog);
    dialog.answer = QTemporaryDir().filePath("missing/log.txt");
    w.saveButton->click();
    EXPECT_TRUE(w.note->text().contains("保存失败")) << w.note->text().toStdString();
}

} // namespace
