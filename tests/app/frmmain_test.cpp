// The main window: start-up against prepared folders, the link's control
// switching, the editing commands and the schedule files, with scripted boxes.
#include "app/frmmain.h"

#include "support/fakes.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringEncoder>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QDateTime kNow(QDate(2024, 1, 5), QTime(9, 5, 7));

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray noteFile(const QList<std::pair<const char *, const char *>> &records)
{
    QByteArray out = "[Note]\r\n";
    for (auto [key, value] : records)
        out += QByteArray(key) + '=' + value + "\r\n";
    return out;
}

struct Window {
    explicit Window(const QString &folder, Variant v = Variant::Standard)
        : w(std::make_unique<Frmmain>(FrmmainSetup{folder, v, &link, &prompts, [] { return kNow; }}))
    {
    }
    QStringList listTexts() const
    {
        QStringList out;
        for (int i = 0; i < w->rowCount(); ++i)
            out << w->rowText(i);
        return out;
    }
    // Every channel's list in its order; how channels interleave in the book is not kept by a file.
    QStringList records() const
    {
        QStringList out;
        for (int c = 1; c <= kChannelCount; ++c)
            for (const EntryRef &e : w->book().channel(c))
                out << EntryKey(c, e->nNo) + QLatin1Char('=') + e->GetStr();
        return out;
    }
    FakeLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<Frmmain> w;
};

TEST(StartUp, EmptyFolderGivesTheWindowAsDesigned)
{
    QTemporaryDir dir;
    Window win(dir.path());
    Frmmain &w = *win.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("KelmoraV2.4"));
    EXPECT_EQ(w.CmbID->count(), 256);
    EXPECT_EQ(w.CmbID->currentText(), QStringLiteral("1"));
    EXPECT_EQ(w.CmbID->itemText(255), QStringLiteral("255"));
    EXPECT_EQ(w.engine().DeviceAddress, 1);
    EXPECT_EQ(w.CmbCom->count(), 99);
    EXPECT_EQ(w.CmbCom->currentText(), QStringLiteral("Com1"));
    EXPECT_EQ(w.CmbCom->itemText(98), QStringLiteral("Com99"));
    EXPECT_EQ(w.nComPort(), 1);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(w.lampColour(k), kLampGrey);
        EXPECT_EQ(w.SSTab2->tabText(k), QStringLiteral("未命名"));
    }
    EXPECT_EQ(w.SSTab2->count(), 16);
    EXPECT_EQ(w.rowCount(), 0);
    EXPECT_FALSE(w.ChkAuto->isChecked());
    EXPECT_FALSE(w.PB->isVisibleTo(&w));
    EXPECT_FALSE(w.Timer2.isActive());
    EXPECT_TRUE(w.Timer3.isActive());
    EXPECT_FALSE(w.Timer1.isActive());
    EXPECT_TRUE(w.engine().bSyncRelay);
    EXPECT_EQ(w.statusText(3), QStringLiteral("2024-01-05 09:05:07"));

    const struct {
        QWidget *control;
        const char *caption;
        bool enabled;
    } controls[] = {
        {w.CmdOpen, "打开", true},       {w.CmdOpenFile, "打开", true},  {w.CmdSave, "保存", true},
        {w.CmdSaveAs, "另存", true},     {w.CmdQuit, "退出", true},      {w.CmdAdd, "添加", true},
        {w.CmdDel, "删除单条", true},    {w.CmdDelAll, "删除当前", true}, {w.CmdOpenAll, "吸合所有", true},
        {w.CmdCloseAll, "断开所有", true}, {w.CmdDown, "写入", false},     {w.CmdDownAll, "写入所有", false},
        {w.CmdUpload, "读取", false},    {w.CmdUpLoadAll, "读取设备", false}, {w.CmdIn, "手动吸合", false},
        {w.CmdOut, "手动断开", false},   {w.CmdReadTime, "读时", false}, {w.CmdSetTime, "对时", false},
    };
    for (const auto &c : controls) {
        auto *b = qobject_cast<QPushButton *>(c.control);
        EXPECT_EQ(b->text(), QString::fromUtf8(c.caption));
        EXPECT_EQ(b->isEnabled(), c.enabled) << c.caption;
    }
    EXPECT_EQ(w.ChkAuto->text(), QStringLiteral("自动功能允许"));
    EXPECT_EQ(w.Label3->text(), QStringLiteral("状态监视"));
    EXPECT_EQ(w.Label5->text(), QStringLiteral("串口号"));
    EXPECT_EQ(w.Label6->text(), QStringLiteral("地址"));
    EXPECT_EQ(w.Label4->text(), QStringLiteral("1  2  3  4"));
    EXPECT_EQ(w.Label8->text(), QStringLiteral("13 14 15 16"));
    EXPECT_EQ(w.List->headerItem()->text(0), QStringLiteral("序号"));
    EXPECT_EQ(w.List->headerItem()->text(1), QStringLiteral("内容"));

    // Typed characters never pick an address or a port.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
    QApplication::sendEvent(w.CmbID, &key);
    EXPECT_EQ(w.CmbID->currentIndex(), 1);
    w.CmbCom->setCurrentIndex(2);
    EXPECT_EQ(w.nComPort(), 3);
    w.CmbID->setCurrentIndex(0);
    EXPECT_EQ(w.engine().DeviceAddress, 0);
}

TEST(StartUp, LoadsEachChannelUpToItsFirstGapAndSkipsWhatItCannotRead)
{
    QTemporaryDir dir;
    QByteArray note = noteFile({{"01001", "00000000000000000000000000"},  // 26 zeros end channel 1 at once
                                {"01002", "11000000000100000000083000"},
                                {"02001", "11000000000200000000083000"},
                                {"02002", "01000000000200000000093000"},
                                {"02004", "11000000000200000000103000"},  // behind the gap at 003
                                {"03001", "1100000000030000000008x000"},  // cannot be read
                                {"03002", "00110101000300000000180530"}});
    for (int n = 1; n <= 256; ++n)
        note += RecordKey(16, n).toLatin1() + "=10000000001620130428060000\r\n";
    writeFile(dir.filePath(QStringLiteral("Note.ini")), note);
    const QByteArray names = "[Note]\r\n02=" + QByteArray(QStringEncoder("GBK").encode(QStringLiteral("第二路水泵"))) + "\r\n16=Lights\r\n";
    writeFile(dir.filePath(QStringLiteral("Name.ini")), names);

    Window win(dir.path());
    Frmmain &w = *win.w;
    EXPECT_EQ(w.book().countOf(1), 0);
    EXPECT_EQ(w.book().countOf(2), 2);
    EXPECT_EQ(w.book().countOf(3), 1);
    EXPECT_EQ(w.book().countOf(16), 255);
    EXPECT_EQ(w.book().channel(3)[0]->nNo, 2);
    EXPECT_EQ(w.skippedAtStartup(), QStringList{"03001"});
    EXPECT_TRUE(w.ChkAuto->isChecked());
    EXPECT_EQ(w.SSTab2->tabText(1), QStringLiteral("第二路水"));
    EXPECT_EQ(w.SSTab2->tabText(15), QStringLiteral("Lights"));
    EXPECT_EQ(w.SSTab2->tabText(0), QStringLiteral("未命名"));

    // Told once, after the window is shown.
    EXPECT_TRUE(win.prompts.messages.isEmpty());
    w.show();
    QCoreApplication::processEvents();
    w.hide();
    w.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(win.prompts.messages.size(), 1);
    EXPECT_TRUE(win.prompts.messages[0].contains(QStringLiteral("03001")));

    w.SSTab2_Click(1);
    EXPECT_EQ(win.listTexts(), (QStringList{"第2路, 每天, 08:30:00 ,吸合 ", "第2路, 每天, 09:30:00 ,断开 "}));
}

TEST(StartUp, UnreadableStoreIsToldNotTakenForEmpty)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("Note.ini"));  // there, but no file to read
    Window win(dir.path());
    win.w->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(win.prompts.messages.size(), 1);
    EXPECT_TRUE(win.prompts.messages[0].startsWith(QStringLiteral("Note.ini 无法读取")));

    win.prompts.openPath = dir.filePath(QStringLiteral("Note.ini"));
    win.w->CmdOpenFile->click();
    EXPECT_EQ(win.prompts.messages.last(), QStringLiteral("文件无法读取：") + win.prompts.openPath);
}

TEST(Link, OpeningAndClosingSwitchTheControls)
{
    QTemporaryDir dir;
    Window win(dir.path());
    Frmmain &w = *win.w;
    const QList<QPushButton *> device = {w.CmdDown, w.CmdDownAll, w.CmdUpload, w.CmdUpLoadAll,
                                         w.CmdSetTime, w.CmdReadTime, w.CmdIn, w.CmdOut};
    const QList<QPushButton *> editing = {w.CmdAdd, w.CmdDel, w.CmdDelAll, w.CmdOpenFile, w.CmdSave, w.CmdSaveAs};

    for (OpenError e : {OpenError::NotFound, OpenError::Busy}) {
        win.link.openError = e;
        w.CmdOpen->click();
        EXPECT_EQ(win.prompts.messages.takeLast(), QStringLiteral("串口打开错误"));
        EXPECT_EQ(w.CmdOpen->text(), QStringLiteral("打开"));
        EXPECT_FALSE(w.Timer2.isActive());
        EXPECT_TRUE(w.CmbCom->isEnabled());
        EXPECT_TRUE(w.CmdAdd->isEnabled());
        EXPECT_FALSE(w.CmdDown->isEnabled());
    }
    win.link.openError = OpenError::PermissionDenied;
    w.CmdOpen->click();
    EXPECT_EQ(win.prompts.messages.takeLast(), QStringLiteral("串口打开错误"));
    EXPECT_TRUE(w.statusText(1).startsWith(QStringLiteral("无权限")));

    win.link.openError = OpenError::None;
    w.CmbCom->setCurrentIndex(2);
    w.CmdOpen->click();
    EXPECT_EQ(win.link.openedPort, 3);
    EXPECT_EQ(w.CmdOpen->text(), QStringLiteral("关闭"));
    EXPECT_TRUE(w.Timer2.isActive());
    EXPECT_FALSE(w.CmbCom->isEnabled());
    EXPECT_FALSE(w.CmbID->isEnabled());
    for (auto *b : device)
        EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    for (auto *b : editing)
        EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
    EXPECT_TRUE(w.CmdOpenAll->isEnabled());

    w.onFrame([] {
        Frame r = FakeBoard::reply(16);
        r[4] = 0x05;
        return r;
    }());
    EXPECT_EQ(w.lampColour(0), kLampGreen);
    EXPECT_EQ(w.engine().PendingCommand[1], kRelayOn);

    w.CmdOpen->click();
    EXPECT_FALSE(win.link.isOpen());
    EXPECT_EQ(w.CmdOpen->text(), QStringLiteral("打开"));
    EXPECT_FALSE(w.Timer2.isActive());
    for (auto *b : device)
        EXPECT_FALSE(b->isEnabled());
    for (auto *b : editing)
        EXPECT_TRUE(b->isEnabled());
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(w.lampColour(k), kLampGrey);
        EXPECT_EQ(w.engine().PendingCommand[k + 1], kRelayOff);
    }
    EXPECT_TRUE(w.engine().bSyncRelay);

    // A port that fails while open closes the link as the button does, and says so once.
    w.CmdOpen->click();
    win.link.opened = false;
    w.onLinkFailed(QStringLiteral("unplugged"));
    w.onLinkFailed(QStringLiteral("unplugged"));
    EXPECT_EQ(win.prompts.messages.count(QStringLiteral("串口通信错误，连接已关闭")), 1);
    EXPECT_EQ(w.CmdOpen->text(), QStringLiteral("打开"));
    EXPECT_FALSE(w.Timer2.isActive());
    EXPECT_TRUE(w.CmdSave->isEnabled());
}

TEST(Editing, AddDeleteAndTheirQuestions)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Note.ini")),
              noteFile({{"05001", "11000000000500000000010000"}, {"05002", "11000000000500000000020000"},
                        {"05003", "11000000000500000000030000"}, {"05004", "11000000000500000000040000"},
                        {"06001", "11000000000600000000050000"}}));
    Window win(dir.path());
    Frmmain &w = *win.w;
    w.SSTab2_Click(4);

    win.prompts.confirmAnswer = false;
    w.List->topLevelItem(1)->setSelected(true);
    w.CmdDel->click();
    w.CmdDelAll->click();
    EXPECT_EQ(win.prompts.questions, (QStringList{"删除当前信息吗？", "删除所有信息吗？"}));
    EXPECT_EQ(w.book().size(), 5);

    win.prompts.confirmAnswer = true;
    w.List->topLevelItem(0)->setSelected(true);
    w.List->topLevelItem(2)->setSelected(true);
    w.CmdDel->click();
    EXPECT_EQ(win.listTexts(), (QStringList{"第5路, 每天, 04:00:00 ,吸合 "}));
    EXPECT_TRUE(w.book().contains(QStringLiteral("key05001")));
    EXPECT_TRUE(w.book().contains(QStringLiteral("key06001")));

    // Add through the editor appends one past the last.
    win.prompts.editor = [](Dialog &d) {
        d.Combo1->setCurrentIndex(7);
        d.confirm();
    };
    w.CmdAdd->click();
    EXPECT_EQ(win.listTexts().last(), QStringLiteral("第5路, 每天, 07:00:00 ,吸合 "));
    EXPECT_TRUE(w.book().contains(QStringLiteral("key05002")));

    // Edit by double-click changes the row's own entry.
    w.List->setCurrentItem(w.List->topLevelItem(0));
    win.prompts.editor = [](Dialog &d) {
        d.CmbStatus->setCurrentIndex(1);
        d.confirm();
    };
    w.List_DblClick();
    EXPECT_EQ(win.listTexts().first(), QStringLiteral("第5路, 每天, 04:00:00 ,断开 "));

    w.CmdDelAll->click();
    EXPECT_EQ(w.rowCount(), 0);
    EXPECT_EQ(w.book().countOf(5), 0);
    EXPECT_EQ(w.book().countOf(6), 1);
    w.SSTab2_Click(8);
    w.CmdDelAll->click();  // an empty channel
    EXPECT_EQ(w.book().size(), 1);
}

TEST(Editing, AddAfterAReadWithGapsLosesNothing)
{
    QTemporaryDir dir;
    Window win(dir.path());
    Frmmain &w = *win.w;
    for (int n : {1, 3, 5}) {
        Frame r = FakeBoard::reply(2);
        r[4] = 1, r[5] = uint8_t(n), r[6] = 1, r[11] = uint8_t(n), r[14] = 2;
        w.onFrame(r);
    }
    w.showChannel(1);
    for (int i = 0; i < 3; ++i)
        w.CmdAdd->click();
    EXPECT_EQ(w.book().countOf(1), 6);
    EXPECT_EQ(w.rowCount(), 6);
    for (int n = 1; n <= 6; ++n)
        EXPECT_TRUE(w.book().contains(EntryKey(1, n)));
}

TEST(Files, SaveRestartSaveAsAndOpen)
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
    const QString folder = dir.filePath(QStringLiteral("app"));
    QDir().mkpath(folder);
    QStringList saved;
    {
        Window win(folder);
        Frmmain &w = *win.w;
        // Save As before any Save writes what the operator sees.
        win.prompts.editor = [](Dialog &d) {
            d.selectMode(kModeWeekly);
            d.Check1[6]->setChecked(true);
            d.confirm();
        };
        w.SSTab2_Click(2);
        w.CmdAdd->click();
        w.SSTab2_Click(0);
        win.prompts.editor = {};
        w.CmdAdd->click();
        win.prompts.savePath = dir.filePath(QStringLiteral("export.ini"));
        w.CmdSaveAs->click();
        EXPECT_EQ(win.prompts.messages.takeLast(), QStringLiteral("文件已另存为") + win.prompts.savePath);
        EXPECT_FALSE(QFile::exists(w.store().notePath()));

        w.CmdSave->click();
        EXPECT_EQ(win.prompts.messages.takeLast(), QStringLiteral("保存成功！"));
        saved = win.records();

        // Cancelled dialogs change nothing and say nothing.
        win.prompts.savePath.clear();
        w.CmdSaveAs->click();
        w.CmdOpenFile->click();
        EXPECT_TRUE(win.prompts.messages.isEmpty());

        // A target that cannot be written.
        win.prompts.savePath = dir.filePath(QStringLiteral("no/such/dir/x.ini"));
        w.CmdSaveAs->click();
        EXPECT_EQ(win.prompts.messages.takeLast(), QStringLiteral("另存失败！"));
    }
    {
        Window again(folder);  // restart
        EXPECT_EQ(again.records(), saved);
    }

    Window win(folder);
    Frmmain &w = *win.w;
    w.SSTab2_Click(2);
    const QString bad = dir.filePath(QStringLiteral("bad.ini"));
    writeFile(bad, noteFile({{"01001", "11000000000100000000083000"}, {"01002", "1100000000010000000008300x"}}));
    win.prompts.openPath = bad;
    w.CmdOpenFile->click();
    EXPECT_EQ(win.prompts.messages.takeLast(), QStringLiteral("文件格式错误：01002"));
    EXPECT_EQ(win.records(), saved);

    win.prompts.openPath = dir.filePath(QStringLiteral("export.ini"));
    w.CmdOpenFile->click();
    EXPECT_EQ(win.records(), saved);
    EXPECT_EQ(w.nPage(), 1);
    EXPECT_EQ(w.SSTab2->currentIndex(), 0);
    EXPECT_EQ(w.rowCount(), 1);

    const QString empty = dir.filePath(QStringLiteral("empty.ini"));
    writeFile(empty, "[Other]\r\n01001=11000000000100000000083000\r\n");
    win.prompts.openPath = empty;
    w.CmdOpenFile->click();
    EXPECT_TRUE(w.book().isEmpty());
    EXPECT_FALSE(w.ChkAuto->isChecked());
}

TEST(Variants, BothExecutablesBuildTheSameWindow)
{
    QTemporaryDir dir;
    Window standard(dir.path(), Variant::Standard);
    Window compat(dir.path(), Variant::Compat);
    EXPECT_EQ(standard.w->engine().variant(), Variant::Standard);
    EXPECT_EQ(compat.w->engine().variant(), Variant::Compat);
    EXPECT_EQ(compat.w->windowTitle(), standard.w->windowTitle());
}

} // namespace
