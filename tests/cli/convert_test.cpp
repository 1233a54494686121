// kelmora-cli convert: a book through CSV or JSON comes back the same; a bad input writes nothing.
#include "cli/convert.h"

#include "support/files.h"
#include "support/printers.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Book()
{
    QByteArray ini = "[Note]\r\n01001=11000000000100000000080000\r\n01002=00110101000100000000073005\r\n"
                     "01003=10000000000120991231235959\r\n02001=00100000010200000000000000\r\n";
    for (int n = 1; n <= 255; ++n) // a full channel
        ini += QString::asprintf("16%03d=1000000000162000%02d%02d%02d%02d%02d\r\n", n, n % 12 + 1, n % 28 + 1, n % 24,
                                 n % 60, (n * 7) % 60)
                   .toLatin1();
    return ini;
}

QString Put(const QTemporaryDir &dir, const char *name, const QByteArray &bytes)
{
    return writeBytes(dir.filePath(QString::fromUtf8(name)), bytes) ? dir.filePath(QString::fromUtf8(name)) : QString();
}

TEST(Convert, ABookThroughCsvOrJsonComesBackAsItWas)
{
    const QTemporaryDir dir;
    const QString book = Put(dir, "book.ini", Book());
    for (const char *via : {"book.csv", "book.JSON"}) {
        SCOPED_TRACE(via);
        const ConvertResult there = ConvertBook(book, dir.filePath(via));
        const ConvertResult back = ConvertBook(dir.filePath(via), dir.filePath("back.ini"));
        EXPECT_EQ(std::tuple(there.exit, there.entries, back.exit, back.entries),
                  std::tuple(CliExit::Ok, 259, CliExit::Ok, 259))
            << there.error.toStdString() << back.error.toStdString();
        EXPECT_TRUE(readBytes(dir.filePath("back.ini")) == Book());
    }
}

TEST(Convert, ABadInputOrLayoutIsRefusedAndWritesNothing)
{
    const QTemporaryDir dir;
    const QString book = Put(dir, "book.ini", Book());
    const std::tuple<QString, QString, CliExit, const char *> rows[] = {
        {Put(dir, "bad.json", R"({"channels":{"3":[{"mode":"daily","time":"8:00","action":"on"}]}})"), "out.csv",
         CliExit::Usage, "channel 3: entry 1 has a time that does not exist: \"8:00\""},
        {Put(dir, "seventeen.json", R"({"channels":{"17":[]}})"), "out.csv", CliExit::Usage,
         "channels are named \"1\" to \"16\""},
        {Put(dir, "other.json", R"({"entries":[]})"), "out.csv", CliExit::Usage, "a book is a JSON object with only"},
        {Put(dir, "bad.ini", "[Note]\r\n01001=x\r\n"), "out.csv", CliExit::Usage, "文件格式错误：01001"},
        {dir.filePath("missing.csv"), "out.ini", CliExit::Usage, "文件不存在："},
        {dir.filePath("missing.ini"), "out.csv", CliExit::Usage, "文件不存在："}, // not an empty book
        {book, "no/such/folder.pdf", CliExit::TransferFailed, "另存失败！"},
        {book, "out.txt", CliExit::Usage, "cannot write"},
        {Put(dir, "book.xls", "x"), "out.ini", CliExit::Usage, "cannot read"},
        {book, "no/such/folder.csv", CliExit::TransferFailed, "另存失败！"},
    };
    for (const auto &[in, out, exit, error] : rows) {
        const ConvertResult r = ConvertBook(in, dir.filePath(out), [](const QString &, const ScheduleBook &, const QString &) {
            return QStringLiteral("no folder");
        });
        EXPECT_TRUE(r.exit == exit && r.error.startsWith(QString::fromUtf8(error)) && !QFile::exists(dir.filePath(out)))
            << out.toStdString() << ": " << r.error.toStdString();
    }
}

} // namespace
