// Private-profile parsing and writing, name decoding, and the file helpers of the store.
#include "storage/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <numeric>

#include <unistd.h>

namespace {

constexpr char kQuotes[] = {'"', '\''};
constexpr QByteArrayView kLineBreak = "\r\n";
constexpr QByteArrayView kUtf8Bom = "\xEF\xBB\xBF";
// GBK lead bytes; every other byte stands alone.
constexpr unsigned char kGbkLeadFirst = 0x81;
constexpr unsigned char kGbkLeadLast = 0xFE;

std::atomic<qint64> g_fileWrites{0};
std::atomic<qint64> g_fileReads{0};

// The blanks the profile functions trim around names and values.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v';
}
bool isBreak(char c)
{
    return c == '\r' || c == '\n';
}
char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

int compareNoCase(QByteArrayView a, QByteArrayView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(asciiLower(a[i]));
        const auto y = static_cast<unsigned char>(asciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

bool hasBreak(QByteArrayView v)
{
    return std::any_of(v.begin(), v.end(), isBreak);
}

} // namespace

IniFile::IniFile(QByteArray bytes) : m_data(std::move(bytes))
{
    parse();
}

QByteArrayView IniFile::span(qsizetype from, qsizetype to) const
{
    return QByteArrayView(m_data.constData() + from, to - from);
}

void IniFile::parse()
{
    m_sections.clear();
    m_sectionOrder.clear();
    m_keys.clear();
    m_keyOrder.clear();

    const char *d = m_data.constData();
    const qsizetype n = m_data.size();
    m_bodyStart = QByteArrayView(m_data).startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;

    // Each scan below stays inside its own line, so the parse is linear in the file size.
    qsizetype current = -1; // lines before the first header belong to no section
    for (qsizetype pos = m_bodyStart; pos < n;) {
        qsizetype end = pos;
        while (end < n && !isBreak(d[end]))
            ++end;
        qsizetype next = end;
        if (next < n)
            next += (d[next] == '\r' && next + 1 < n && d[next + 1] == '\n') ? 2 : 1;

        qsizetype b = pos;
        qsizetype e = end;
        while (b < e && isBlank(d[b]))
            ++b;
        while (e > b && isBlank(d[e - 1]))
            --e;
        pos = next;
        if (b == e)
            continue;

        if (d[b] == '[') {
            // The name ends at the first ']'; a header without one still names a section,
            // which then runs to the line end.
            const char *close = std::find(d + b + 1, d + e, ']');
            qsizetype nameFrom = b + 1;
            qsizetype nameTo = close - d;
            while (nameFrom < nameTo && isBlank(d[nameFrom]))
                ++nameFrom;
            while (nameTo > nameFrom && isBlank(d[nameTo - 1]))
                --nameTo;
            m_sections.push_back({nameFrom, nameTo, next, next == end, qsizetype(m_keys.size()), 0});
            current = qsizetype(m_sections.size()) - 1;
            continue;
        }
        if (current < 0)
            continue;

        Section &section = m_sections[current];
        section.appendAt = next;
        section.appendNeedsBreak = next == end;
        if (d[b] == ';')
            continue;
        const char *eq = std::find(d + b, d + e, '=');
        if (eq == d + e)
            continue;
        const qsizetype eqPos = eq - d;
        qsizetype keyTo = eqPos;
        while (keyTo > b && isBlank(d[keyTo - 1]))
            --keyTo;
        qsizetype valueFrom = eqPos + 1;
        while (valueFrom < e && isBlank(d[valueFrom]))
            ++valueFrom;
        m_keys.push_back({b, keyTo, valueFrom, e, next});
        ++section.keyCount;
    }

    // Sorted indexes make each lookup a binary search. Equal names stay in file order so
    // the first one, which the profile functions use, is found.
    m_sectionOrder.resize(m_sections.size());
    std::iota(m_sectionOrder.begin(), m_sectionOrder.end(), 0);
    std::sort(m_sectionOrder.begin(), m_sectionOrder.end(), [this](qsizetype a, qsizetype b) {
        const int c = compareNoCase(span(m_sections[a].nameFrom, m_sections[a].nameTo),
                                    span(m_sections[b].nameFrom, m_sections[b].nameTo));
        return c < 0 || (c == 0 && a < b);
    });
    m_keyOrder.resize(m_keys.size());
    std::iota(m_keyOrder.begin(), m_keyOrder.end(), 0);
    for (const Section &s : m_sections) {
        const auto from = m_keyOrder.begin() + s.firstKey;
        std::sort(from, from + s.keyCount, [this](qsizetype a, qsizetype b) {
            const int c =
                compareNoCase(span(m_keys[a].keyFrom, m_keys[a].keyTo), span(m_keys[b].keyFrom, m_keys[b].keyTo));
            return c < 0 || (c == 0 && a < b);
        });
    }
}

const IniFile::Section *IniFile::findSection(QByteArrayView name) const
{
    name = trimmed(name);
    const auto it = std::lower_bound(
        m_sectionOrder.begin(), m_sectionOrder.end(), name, [this](qsizetype i, QByteArrayView wanted) {
            return compareNoCase(span(m_sections[i].nameFrom, m_sections[i].nameTo), wanted) < 0;
        });
    if (it == m_sectionOrder.end())
        return nullptr;
    const Section &s = m_sections[*it];
    return compareNoCase(span(s.nameFrom, s.nameTo), name) == 0 ? &s : nullptr;
}

const IniFile::KeyLine *IniFile::findKey(const Section &section, QByteArrayView key) const
{
    key = trimmed(key);
    const auto from = m_keyOrder.begin() + section.firstKey;
    const auto to = from + section.keyCount;
    const auto it = std::lower_bound(from, to, key, [this](qsizetype i, QByteArrayView wanted) {
        return compareNoCase(span(m_keys[i].keyFrom, m_keys[i].keyTo), wanted) < 0;
    });
    if (it == to)
        return nullptr;
    const KeyLine &k = m_keys[*it];
    return compareNoCase(span(k.keyFrom, k.keyTo), key) == 0 ? &k : nullptr;
}

bool IniFile::hasSection(QByteArrayView section) const
{
    return findSection(section) != nullptr;
}

std::optional<QByteArray> IniFile::value(QByteArrayView section, QByteArrayView key) const
{
    const Section *s = findSection(section);
    const KeyLine *k = s ? findKey(*s, key) : nullptr;
    if (!k)
        return std::nullopt;
    QByteArrayView v = span(k->valueFrom, k->valueTo);
    if (v.size() >= 2 && std::find(std::begin(kQuotes), std::end(kQuotes), v.front()) != std::end(kQuotes) &&
        v.back() == v.front())
        v = v.sliced(1, v.size() - 2);
    // The caller gets a C string: it ends at the first NUL.
    if (const qsizetype nul = v.indexOf('\0'); nul >= 0)
        v = v.first(nul);
    return v.toByteArray();
}

bool IniFile::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    section = trimmed(section);
    key = trimmed(key);
    if (section.isEmpty() || key.isEmpty() || hasBreak(section) || hasBreak(key) || hasBreak(value) ||
        section.contains(']') || key.contains('=') || key.front() == ';' || key.front() == '[' || value.contains('\0'))
        return false;

    const QByteArrayView data(m_data);
    QByteArray out;
    out.reserve(m_data.size() + section.size() + key.size() + value.size() + 8);
    const Section *s = findSection(section);
    if (const KeyLine *k = s ? findKey(*s, key) : nullptr) {
        // Everything up to the old value (key, '=', spacing) stays as it was.
        out.append(data.first(k->valueFrom));
        out.append(value);
        out.append(kLineBreak);
        out.append(data.sliced(k->next));
    } else if (s) {
        out.append(data.first(s->appendAt));
        if (s->appendNeedsBreak)
            out.append(kLineBreak);
        out.append(key);
        out += '=';
        out.append(value);
        out.append(kLineBreak);
        out.append(data.sliced(s->appendAt));
    } else {
        out.append(data);
        if (data.size() > m_bodyStart && !isBreak(data.back()))
            out.append(kLineBreak);
        out += '[';
        out.append(section);
        out += ']';
        out.append(kLineBreak);
        out.append(key);
        out += '=';
        out.append(value);
        out.append(kLineBreak);
    }
    m_data = std::move(out);
    parse();
    return true;
}

QString DecodeName(QByteArrayView value, NameEncoding encoding)
{
    if (encoding == NameEncoding::Utf8) {
        const QString s = QString::fromUtf8(value);
        qsizetype width = 0;
        qsizetype i = 0;
        while (i < s.size()) {
            const bool pair = s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate();
            width += s[i].unicode() < 0x80 ? 1 : 2;
            if (width > kNameByteWidth)
                break;
            i += pair ? 2 : 1;
        }
        return s.left(i);
    }

    // The profile API hands over at most 8 bytes and never half a character.
    qsizetype cut = 0;
    while (cut < value.size()) {
        const auto c = static_cast<unsigned char>(value[cut]);
        const qsizetype len = (c >= kGbkLeadFirst && c <= kGbkLeadLast) ? 2 : 1;
        if (cut + len > kNameByteWidth || cut + len > value.size())
            break;
        cut += len;
    }
    QStringDecoder gbk("GBK");
    if (!gbk.isValid())
        return QString::fromLocal8Bit(value.first(cut));
    return gbk.decode(value.first(cut));
}

std::optional<QString> NameFromIni(const QByteArray &fileBytes, QByteArrayView channelKey)
{
    const IniFile ini(fileBytes);
    const auto raw = ini.value("Note", channelKey);
    if (!raw)
        return std::nullopt;
    return DecodeName(*raw, ini.hasUtf8Bom() ? NameEncoding::Utf8 : NameEncoding::Gbk);
}

FileBytes ReadWholeFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {ReadStatus::Missing, {}};
    // Devices and pipes could block or never end; a huge file would stall or exhaust memory.
    if (!info.isFile() || info.size() > kMaxReadBytes)
        return {ReadStatus::Unreadable, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {ReadStatus::Unreadable, {}};
    ++g_fileReads;
    // The file may have grown since it was looked at: never take more than the cap.
    QByteArray bytes = file.read(kMaxReadBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxReadBytes)
        return {ReadStatus::Unreadable, {}};
    return {ReadStatus::Ok, std::move(bytes)};
}

qint64 FileReadCount()
{
    return g_fileReads.load();
}

namespace {

// Qt 6.4 moves the file into the working directory when it cannot make the trash folder,
// so make sure the folder is there before asking (as desktop trash tools do).
bool ensureTrashFolder()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return false;
    const QString trash = data + QStringLiteral("/Trash");
    if (QFileInfo(trash).isDir())
        return true;
    if (!QDir().mkpath(trash))
        return false;
    QFile::setPermissions(trash, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
    return true;
}

} // namespace

bool MoveToTrash(const QString &path)
{
    return ensureTrashFolder() && QFile::moveToTrash(path);
}

namespace {

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// Temporary names beside the file are made in its folder, so the folder must take new names.
bool folderTakesNewNames(const QString &path)
{
    return ::access(QFile::encodeName(folderOf(path)).constData(), W_OK) == 0;
}

// The old file goes to the trash under a second name (a hard link), so the folder is never
// without it and no room is needed for its bytes; a copy only where the file system has no
// links. Empty when done or when there is no trash at all; else why the old file could not go.
QString trashCopyOf(const QString &path)
{
    if (!ensureTrashFolder())
        return {};
    const QFileInfo info(path);
    QTemporaryDir scratch(info.absolutePath() + QStringLiteral("/.trash-XXXXXX"));
    if (!scratch.isValid())
        return FileFailureReason(scratch.errorString(), path);
    const QString copy = scratch.filePath(info.fileName());
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(copy).constData()) != 0) {
        QFile old(path);
        if (!old.copy(copy)) {
            if (QStorageInfo(info.absolutePath()).bytesAvailable() < info.size())
                return QString::fromUtf16(kReasonDiskFull);
            return FileFailureReason(old.errorString(), path);
        }
    }
    QFile::moveToTrash(copy); // fails across devices: then there is simply no trash copy
    return {};
}

} // namespace

bool IsWriteProtected(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    constexpr auto kAnyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    // Marked read-only counts even for a user who could write it anyway.
    return !info.isWritable() || !(info.permissions() & kAnyWrite);
}

QString FileFailureReason(const QString &systemText, const QString &path)
{
    struct Known {
        int code;
        const char16_t *reason;
    };
    static const Known known[] = {
        {ENOSPC, kReasonDiskFull},      {EDQUOT, kReasonDiskFull},    {EROFS, u"磁盘为只读"},
        {EBUSY, kReasonInUse},          {ETXTBSY, kReasonInUse},      {EFBIG, u"文件超出系统允许的大小"},
        {ENOENT, kReasonFolderMissing}, {EACCES, kReasonNotWritable}, {EPERM, kReasonNotWritable},
    };
    for (const Known &k : known)
        if (systemText.contains(qt_error_string(k.code)))
            return QString::fromUtf16(k.reason);
    if (!QFileInfo(folderOf(path)).isDir())
        return QString::fromUtf16(kReasonFolderMissing);
    if (!folderTakesNewNames(path))
        return QString::fromUtf16(kReasonNotWritable);
    return systemText.isEmpty() ? QStringLiteral("未知错误") : systemText;
}

WriteResult WriteFileAtomically(const QString &path, const QByteArray &bytes, PreviousFile previous,
                                const std::function<bool()> &beforeCommit)
{
    const auto failed = [](QString reason) { return WriteResult{false, std::move(reason)}; };
    if (!QFileInfo(folderOf(path)).isDir())
        return failed(QString::fromUtf16(kReasonFolderMissing));
    if (IsWriteProtected(path))
        return failed(QString::fromUtf16(kReasonReadOnly));
    QSaveFile out(path);
    // Unbuffered: the one write below is the one write the system sees.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(FileFailureReason(out.errorString(), path));
    ++g_fileWrites;
    // A short write is tried on once more: only a write that takes nothing says why.
    qint64 done = out.write(bytes);
    if (done >= 0 && done < bytes.size()) {
        const qint64 more = out.write(bytes.constData() + done, bytes.size() - done);
        done = more < 0 ? more : done + more;
    }
    if (done != bytes.size()) {
        const QString reason = FileFailureReason(out.errorString(), path);
        out.cancelWriting();
        return failed(reason);
    }
    if (previous == PreviousFile::Trash && QFileInfo(path).isFile()) {
        if (const QString why = trashCopyOf(path); !why.isEmpty()) {
            out.cancelWriting();
            return failed(QStringLiteral("旧文件无法放入回收站：") + why);
        }
    }
    if (beforeCommit && !beforeCommit()) {
        out.cancelWriting();
        return failed(QStringLiteral("已中止"));
    }
    if (!out.commit())
        return failed(FileFailureReason(out.errorString(), path));
    return {true, {}};
}

qint64 FileWriteCount()
{
    return g_fileWrites.load();
}
