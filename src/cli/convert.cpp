#include "cli/convert.h"

#include "bridge/schedulejson.h"
#include "storage/bookcsv.h"
#include "storage/inifile.h"
#include "storage/notestore.h"

#include <QFileInfo>

namespace {

enum class Layout { Ini, Csv, Json, Pdf, Other };

Layout layoutOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("ini"))
        return Layout::Ini;
    if (suffix == QLatin1String("csv"))
        return Layout::Csv;
    if (suffix == QLatin1String("json"))
        return Layout::Json;
    return suffix == QLatin1String("pdf") ? Layout::Pdf : Layout::Other;
}

const QString kLayouts = QStringLiteral("use .ini, .csv, .json or, to write, .pdf");

// The book in `path`, or why it cannot be had (in 打开's words for Note.ini's layout).
QString readBook(const QString &path, Layout layout, ScheduleBook &book)
{
    if (layout == Layout::Ini) {
        const OpenedSchedules opened = OpenSchedules(path, true);
        for (const EntryRef &e : opened.entries)
            book.append(e);
        return OpenRefusal(opened, path);
    }
    const FileBytes file = ReadWholeFile(path);
    if (file.status == ReadStatus::Missing)
        return QStringLiteral("文件不存在：") + path;
    if (file.status == ReadStatus::Unreadable)
        return QStringLiteral("文件无法读取：") + path;
    if (layout == Layout::Csv) {
        const CsvImport csv = ParseBookCsv(file.bytes);
        ApplyCsv(book, csv);
        return csv.error;
    }
    const BookParse json = ParseBookJson(file.bytes);
    for (const Clsdata &e : json.entries)
        book.append(std::make_shared<Clsdata>(e));
    return json.error;
}

} // namespace

QString ReadBookFile(const QString &path, ScheduleBook &book)
{
    const Layout layout = layoutOf(path);
    if (layout == Layout::Pdf || layout == Layout::Other)
        return QStringLiteral("cannot read '%1': %2").arg(path, kLayouts);
    ScheduleBook read;
    const QString why = readBook(path, layout, read);
    if (why.isEmpty())
        book = read;
    return why;
}

ConvertResult ConvertBook(const QString &in, const QString &out, const PdfPainter &paint)
{
    const Layout to = layoutOf(out);
    if (const Layout from = layoutOf(in); from == Layout::Pdf || from == Layout::Other)
        return {CliExit::Usage, QStringLiteral("cannot read '%1': %2").arg(in, kLayouts)};
    if (to == Layout::Other)
        return {CliExit::Usage, QStringLiteral("cannot write '%1': %2").arg(out, kLayouts)};
    ScheduleBook book;
    if (const QString why = ReadBookFile(in, book); !why.isEmpty())
        return {CliExit::Usage, why};
    if (to == Layout::Pdf) {
        if (!paint)
            return {CliExit::Usage, QStringLiteral("PDF output needs kelmora-pdf (package kelmora)")};
        if (const QString why = paint(out, book, QFileInfo(in).fileName()); !why.isEmpty())
            return {CliExit::TransferFailed, QStringLiteral("另存失败！ %1（%2）").arg(out, why)};
        return {CliExit::Ok, {}, int(book.size())};
    }
    const QByteArray bytes = to == Layout::Ini   ? SchedulesToIni(book)
                             : to == Layout::Csv ? BookToCsv(book)
                                                 : BookJson(book);
    if (const WriteResult w = WriteFileAtomically(out, bytes); !w)
        return {CliExit::TransferFailed, QStringLiteral("另存失败！ %1（%2）").arg(out, w.reason)};
    return {CliExit::Ok, {}, int(book.size())};
}
