// 编辑's undo and redo, the draft that keeps unsaved work, and the report and CSV tools, in the real window.
#include "app/application.h"
#include "app/edittools.h"
#include "storage/bookcsv.h"
#include "storage/bookreport.h"
#include "window.h"

#include <csignal>

namespace {

const QByteArray kNote = "[Note]\r\n01001=11000000000100000000083000\r\n01002=11000000000100000000093000\r\n";

class Edit : public App {
protected:
    void SetUp() override { put("Note.ini", kNote, {}); }
    void start(const QString &folder = {})
    {
        now = QDateTime(QDate(2026, 12, 9), QTime(12, 0));
        App::start(Variant::Standard, folder);
        edit = w->editTools();
    }
    QString draft() const { return DraftPath(dir.filePath("Note.ini")); }
    QStringList draftRecords() const
    {
        QStringList r;
        for (const EntryRef &e : LoadSchedules(draft()).entries)
            r << RecordKey(e->nRoute, e->nNo) + u'=' + e->GetStr();
        return r;
    }
    void deleteFirstRow()
    {
        w->List->topLevelItem(0)->setSelected(true);
        w->CmdDel->click();
        QCoreApplication::processEvents();
    }

    EditTools *edit = nullptr;
};

TEST_F(Edit, UndoRedoTheDraftAndSave)
{
    start();
    EXPECT_EQ(std::tuple(edit->undoAction->text(), edit->undoAction->isEnabled(), edit->restoreAction->isEnabled()),
              std::tuple(QString("撤销"), false, false));
    const QStringList both = records();

    deleteFirstRow();
    EXPECT_EQ(std::pair(edit->undoAction->text(), edit->undoAction->isEnabled()),
              std::pair(QString("撤销 删除第1路第1条"), true));
    edit->writeDraft();
    EXPECT_EQ(draftRecords(), records());
    edit->undoAction->trigger();
    EXPECT_EQ(std::tuple(records(), w->rowCount(), edit->redoAction->text()),
              std::tuple(both, 2, QString("重做 删除第1路第1条")));
    edit->writeDraft();
    EXPECT_FALSE(QFileInfo::exists(draft())) << "the book is Note.ini again: no draft";
    edit->redoAction->trigger();
    edit->writeDraft();

    // The next run finds the draft left behind and brings it back as one step.
    start();
    EXPECT_EQ(std::tuple(records(), prompts.messages, edit->restoreAction->isEnabled()),
              std::tuple(both, QStringList(), true))
        << "start-up loads Note.ini without a question";
    edit->writeDraft(); // nothing of this run's to keep yet: the earlier draft stays
    edit->restoreAction->trigger();
    EXPECT_EQ(std::pair(records(), edit->undoAction->text()),
              std::pair(QStringList{"01001=11000000000100000000093000"}, QString("撤销 恢复上次未保存的编辑")));
    edit->undoAction->trigger();
    EXPECT_EQ(records(), both);
    edit->redoAction->trigger();
    w->CmdSave->click();
    EXPECT_EQ(std::tuple(QFileInfo::exists(draft()), LoadSchedules(dir.filePath("Note.ini")).entries.size(),
                         edit->undoAction->isEnabled()),
              std::tuple(false, qsizetype(1), true))
        << "保存 removes the draft and keeps what can be undone";
}

// A child process of this test makes the change and is killed once its draft is on disk.
TEST_F(Edit, DraftSurvivesAKill)
{
    if (qEnvironmentVariableIsSet("KELMORA_DRAFT_CHILD")) {
        start(qEnvironmentVariable("KELMORA_DRAFT_CHILD"));
        deleteFirstRow();
        QEventLoop().exec(); // until killed
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KELMORA_DRAFT_CHILD", dir.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=Edit.DraftSurvivesAKill"});
    ASSERT_TRUE(child.waitForStarted());
    for (int i = 0; i < 100 && !QFileInfo::exists(draft()); ++i)
        QThread::msleep(100);
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    EXPECT_EQ(draftRecords(), QStringList{"01001=11000000000100000000093000"});
    EXPECT_EQ(readBytes(dir.filePath("Note.ini")), kNote) << "Note.ini is left as it was";
}

QString PdfText(const QString &path)
{
    QProcess p;
    p.start("pdftotext", {"-layout", path, "-"});
    return p.waitForFinished(30000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

TEST_F(Edit, PdfShowsTheChosenChannelsOnNumberedPages)
{
    QByteArray note;
    for (int n = 1; n <= 60; ++n) // channel 3 runs over a page
        note += QString::asprintf("03%03d=1100000000030000000008%02d00\r\n", n, n % 60).toLatin1();
    put("Note.ini", note + "05001=10110101000500000000183000\r\n");
    start();
    QAction *pdf = toolsItem("导出PDF…");
    pdf->trigger(); // the choice cancelled: nothing
    prompts.reportChoice = {3, 5};
    prompts.pdfPath = dir.filePath("book.pdf");
    pdf->trigger();
    const QString text = PdfText(prompts.pdfPath);
    for (const char *want :
         {"Note.ini", "打印日期：2026-12-09 12:00", "001", "第3路, 每天, 08:01:00 ,吸合", "060",
          "第5路, 每星期一三五， 18:30:00 ,吸合", "星期一 12-07", "星期日 12-13", "第1页/共2页", "第2页/共2页"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(want))) << want << "\n" << text.toStdString();
    EXPECT_EQ(prompts.messages, QStringList({"已导出PDF：" + prompts.pdfPath}));
}

TEST_F(Edit, CsvExportsTheBookAndImportsAfterShowingWhatChangesAsOneStep)
{
    start();
    QAction *out = toolsItem("导出CSV…"), *in = toolsItem("导入CSV…");
    prompts.csvPath = dir.filePath("book.csv");
    out->trigger();
    EXPECT_EQ(readBytes(prompts.csvPath), BookToCsv(w->book()));
    const auto import = [&](const QByteArray &text) { put("book.csv", text, {}), in->trigger(); };
    const QByteArray head = "路,序号,方式,星期,日期,时间,动作\r\n";
    import(head + "1,1,每天,,,08:30:00,吸合\r\n1,2,每天,,,25:05:30,吸合\r\n");
    EXPECT_EQ(std::pair(prompts.messages.value(1), w->book().countOf(1)),
              std::pair(QString("第3行：时间25:05:30不存在"), 2));
    prompts.confirmAnswer = false;
    import(head + "1,1,每天,,,08:30:00,吸合\r\n1,2,每天,,,10:00:00,断开\r\n1,3,每天,,,11:00:00,断开\r\n"
                  "4,1,每天,,,12:00:00,吸合\r\n");
    EXPECT_EQ(
        std::pair(prompts.questions.value(0), w->book().countOf(1)),
        std::pair(QString("导入将替换以下各路的日程：\n第1路：新增2条，删除1条\n第4路：新增1条，删除0条\n继续否？"),
                  2));
    prompts.confirmAnswer = true;
    in->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::tuple(w->book().countOf(1), w->book().countOf(4), edit->undoAction->text()),
              std::tuple(3, 1, QString("撤销 导入CSV book.csv")));
    edit->undoAction->trigger();
    EXPECT_EQ(std::pair(w->book().countOf(1), w->book().countOf(4)), std::pair(2, 0));
}

TEST(Report, ATitleKeepsWithItsFirstRowAndRowsCarryTheirHeadToTheNextPage)
{
    ScheduleBook book;
    AddEntries(book, 1, "11000000000100000000080000", 49);
    AddEntries(book, 2, "11000000000200000000080000", 1);
    const QList<ReportPage> pages = LayOutReport(book, {1, 2});
    QStringList kinds;
    for (const ReportPage &page : pages) {
        QString k;
        for (const ReportLine &line : page)
            k += "THEW"[line.kind];
        kinds << k.replace(QRegularExpression("E+"), "E*");
    }
    EXPECT_EQ(kinds, QStringList({"THE*", "HE*WTHE*W"}));
}

TEST(QtChinese, StandardButtonsSpeakTheWindowsLanguage)
{
    QTranslator *zh = LoadQtChinese(*QCoreApplication::instance());
    ASSERT_NE(zh, nullptr);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Ok)->text() + box.button(QDialogButtonBox::Cancel)->text(), "确定取消");
    QCoreApplication::removeTranslator(zh);
}

} // namespace
