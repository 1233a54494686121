// 通信记录: the window over the log filters, pauses, clears and saves.
#include "app/framelogwindow.h"
#include "support/printers.h"

#include <QtWidgets>

#include <gtest/gtest.h>

namespace {

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
