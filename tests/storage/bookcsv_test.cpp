// The book as CSV: what spreadsheets save is read, every bad row is refused by line and reason.
#include "storage/bookcsv.h"

#include "support/printers.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

namespace {

const QByteArray kHeader = "路,序号,方式,星期,日期,时间,动作\r\n";

TEST(BookCsv, ReadsWhatSpreadsheetsSave)
{
    QStringEncoder gbk("GBK");
    const QStringList both{"1:11000000000200000000080000", "1:00110101000300000000073005"};
    const std::tuple<const char *, QByteArray, QStringList> rows[] = {
        {"UTF-8 with a BOM, commas, CRLF",
         "\xEF\xBB\xBF" + kHeader + "2,1,每天,,,08:00:00,吸合\r\n3,1,每星期,一三五,,07:30:05,断开\r\n", both},
        // Columns in another order, a note column, the hour's zero and the date's dashes as it rewrites them.
        {"GBK without a BOM, as a Chinese spreadsheet saves it",
         gbk.encode(
             QString::fromUtf8("动作,时间,日期,星期,方式,序号,路,备注\r\n断开,23:59:59,2026/1/5,,固定日期,1,16,春节\r\n"
                               "吸合,8:00:00,,日六,每星期,2,16,周末\r\n")),
         {"1:00000000001620260105235959", "2:10100000111600000000080000"}},
        {"semicolons, quoted fields, a doubled quote and a separator inside one",
         "\"路\";\"序号\";\"方式\";\"星期\";\"日期\";\"时间\";\"动作\";\"备注\"\n"
         "\"2\";\"1\";\"每天\";\"\";\"\";\"08:00:00\";\"吸合\";\"门\"\"灯;外\"\n"
         "3;1;每星期;一三五;;07:30:05;断开;\"两\nline\"\n",
         both},
        {"tabs, blank rows skipped",
         "\n路\t序号\t方式\t星期\t日期\t时间\t动作\n\t\t\t\t\t\t\n2\t1\t每天\t\t\t08:00:00\t吸合\n\n"
         "3\t1\t每星期\t三一五\t\t07:30:05\t断开",
         both},
    };
    for (const auto &[name, bytes, records] : rows) {
        const CsvImport in = ParseBookCsv(bytes);
        QStringList got;
        for (const Clsdata &e : in.entries)
            got << QString::number(e.nNo) + u':' + e.GetStr();
        EXPECT_EQ(got, records) << name << in.error.toStdString();
    }
}

TEST(BookCsv, RefusesTheFirstBadRowByLineAndReason)
{
    QByteArray full = kHeader;
    for (int n = 1; n <= 256; ++n)
        full += "5," + QByteArray::number(n) + ",每天,,,08:00:00,吸合\r\n";
    const std::pair<QByteArray, const char *> rows[] = {
        {kHeader + "1,1,每天,,,25:05:30,吸合\r\n", "第2行：时间25:05:30不存在"},
        {kHeader + "1,1,每天,,,,吸合\r\n", "第2行：时间为空"},
        {kHeader + "1,1,每月,,,08:00:00,吸合\r\n", "第2行：方式每月不存在（每天、每星期、固定日期）"},
        {kHeader + "1,1,每星期,,,08:00:00,吸合\r\n", "第2行：星期为空"},
        {kHeader + "1,1,每星期,一三一,,08:00:00,吸合\r\n", "第2行：星期一三一中“一”重复"},
        {kHeader + "1,1,每星期,一八,,08:00:00,吸合\r\n", "第2行：星期一八中的“八”不是星期几"},
        {kHeader + "1,1,每天,一,,08:00:00,吸合\r\n", "第2行：方式每天不填星期"},
        {kHeader + "1,1,每星期,一,2026-01-05,08:00:00,吸合\r\n", "第2行：方式每星期不填日期"},
        {kHeader + "1,1,固定日期,,,08:00:00,吸合\r\n", "第2行：日期为空"},
        {kHeader + "1,1,固定日期,,2026-02-29,08:00:00,吸合\r\n", "第2行：日期2026-02-29不存在"},
        {kHeader + "1,1,固定日期,,1999-12-31,08:00:00,吸合\r\n", "第2行：日期1999-12-31超出2000-2099年"},
        {kHeader + "1,1,固定日期,,2100-01-01,08:00:00,吸合\r\n", "第2行：日期2100-01-01超出2000-2099年"},
        {kHeader + "1,1,每天,,,08:00:00,打开\r\n", "第2行：动作打开不存在（吸合、断开）"},
        {kHeader + "17,1,每天,,,08:00:00,吸合\r\n", "第2行：路17不存在（1-16）"},
        {kHeader + "0,1,每天,,,08:00:00,吸合\r\n", "第2行：路0不存在（1-16）"},
        {kHeader + "1,1,每天,,,08:00:00,吸合\r\n2,1,每天,,,08:00:00,吸合\r\n1,3,每天,,,08:00:00,吸合\r\n",
         "第4行：第1路序号3应为2"},
        {full, "第257行：第5路超过255条"},
        {kHeader + "1,1,每天,,,08:00:00\r\n", "第2行：应有7列，实有6列"},
        {"路,序号,方式,星期,日期,时间\r\n", "第1行：缺少列“动作”"},
        // A quoted field over two lines: the rows after it keep their own line numbers.
        {"路,序号,方式,星期,日期,时间,动作,备注\r\n1,1,每天,,,08:00:00,吸合,\"a\r\nb\"\r\n1,2,每天,,,24:00:00,吸合,"
         "\r\n",
         "第4行：时间24:00:00不存在"},
        {kHeader + "1,1,每天,,,08:00:00,\"吸合\r\n", "第2行：引号没有闭合"},
        {kHeader + "\xFF\xFF", "文件既不是UTF-8也不是GBK编码"},
    };
    for (const auto &[bytes, error] : rows) {
        const CsvImport in = ParseBookCsv(bytes);
        EXPECT_TRUE(in.error == QString::fromUtf8(error) && in.entries.isEmpty()) << in.error.toStdString();
    }
}

TEST(BookCsv, WritesForSpreadsheetsAndAnImportReplacesOnlyTheChannelsItNames)
{
    ScheduleBook book;
    for (const char *record : {"11000000000100000000080000", "00110101000100000000073005", "00000000001620260105235959",
                               "10100000000200000000000000"})
        book.append(std::make_shared<Clsdata>(*StrToData(QString::fromLatin1(record))));
    const QByteArray csv = BookToCsv(book);
    EXPECT_EQ(csv, "\xEF\xBB\xBF" + kHeader +
                       "1,1,每天,,,08:00:00,吸合\r\n1,2,每星期,一三五,,07:30:05,断开\r\n2,1,每星期,,,00:00:00,吸合\r\n"
                       "16,1,固定日期,,2026-01-05,23:59:59,断开\r\n");
    ApplyCsv(book, ParseBookCsv(kHeader + "2,1,每天,,,09:00:00,断开\r\n2,2,每天,,,10:00:00,吸合\r\n"));
    ApplyCsv(book, ParseBookCsv(kHeader + "3,1,每天,,,25:00:00,断开\r\n")); // refused: nothing changes
    EXPECT_EQ(BookToCsv(book), "\xEF\xBB\xBF" + kHeader +
                                   "1,1,每天,,,08:00:00,吸合\r\n1,2,每星期,一三五,,07:30:05,断开\r\n"
                                   "2,1,每天,,,09:00:00,断开\r\n2,2,每天,,,10:00:00,吸合\r\n"
                                   "16,1,固定日期,,2026-01-05,23:59:59,断开\r\n");
}

} // namespace
