// Private-profile (.ini) files read and written the way the Win32 profile functions do,
// plus the whole-file read and atomic-write helpers the schedule store is built on.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// One .ini file held as its bytes, parsed once. Lookups follow GetPrivateProfileString:
// ASCII case-insensitive names, lines trimmed of space, tab and vertical tab, a section name
// ending at the first ']' (or the line end when there is none), first section and first key win, one pair of
// surrounding quotes dropped. Writes follow WritePrivateProfileString: only the written
// line changes, new keys go to the end of their section, new sections to the end of the file.
class IniFile {
public:
    IniFile() = default;
    explicit IniFile(QByteArray bytes);

    bool hasSection(QByteArrayView section) const;
    // The value (trimmed, unquoted, cut at its first NUL) or nothing when the section or key is absent.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;
    // False (and nothing changed) for names that could not be read back: empty, with line
    // breaks, a section with ']', a key with '=' or starting like a comment or section; values
    // with line breaks or NUL bytes.
    bool setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    const QByteArray &toBytes() const { return m_data; }
    bool hasUtf8Bom() const { return m_bodyStart > 0; }

private:
    struct KeyLine {
        qsizetype keyFrom, keyTo;
        qsizetype valueFrom, valueTo; // trimmed, quotes still on
        qsizetype next;               // first byte after the line break
    };
    struct Section {
        qsizetype nameFrom, nameTo;
        qsizetype appendAt;           // just after the section's last non-blank line
        bool appendNeedsBreak;        // that line ends the file without a line break
        qsizetype firstKey, keyCount; // range in m_keys (and m_keyOrder)
    };

    void parse();
    const Section *findSection(QByteArrayView name) const;
    const KeyLine *findKey(const Section &section, QByteArrayView key) const;
    QByteArrayView span(qsizetype from, qsizetype to) const;

    QByteArray m_data;
    qsizetype m_bodyStart = 0; // past a UTF-8 byte-order mark
    std::vector<Section> m_sections;
    std::vector<qsizetype> m_sectionOrder; // by name, file order among equals
    std::vector<KeyLine> m_keys;
    std::vector<qsizetype> m_keyOrder; // per section by key, file order among equals
};

// Channel names: 8 bytes of GBK (code page 936), or the same width of UTF-8 when the file
// starts with a UTF-8 byte-order mark. A character the cut would split is dropped whole.
inline constexpr qsizetype kNameByteWidth = 8;
enum class NameEncoding { Gbk, Utf8 };
QString DecodeName(QByteArrayView value, NameEncoding encoding);
// The name under `channelKey` in a Name.ini's bytes; nothing when the section or key is absent.
std::optional<QString> NameFromIni(const QByteArray &fileBytes, QByteArrayView channelKey);

// Whole-file reads: a missing file is not an error, an unreadable one is, and so is one
// above kMaxReadBytes (a full schedule file is about 140 KB).
inline constexpr qint64 kMaxReadBytes = 16 * 1024 * 1024;
enum class ReadStatus { Ok, Missing, Unreadable };
struct FileBytes {
    ReadStatus status = ReadStatus::Missing;
    QByteArray bytes;
};
FileBytes ReadWholeFile(const QString &path);
// Files ReadWholeFile has opened since the program started.
qint64 FileReadCount();

// What becomes of the file a write replaces.
enum class PreviousFile { Replace, Trash };

// Why a file operation failed, as the operator reads it.
inline constexpr char16_t kReasonDiskFull[] = u"磁盘空间不足（清空回收站可腾出空间）";
inline constexpr char16_t kReasonFolderMissing[] = u"文件夹不存在";
inline constexpr char16_t kReasonNotWritable[] = u"文件夹不可写";
inline constexpr char16_t kReasonReadOnly[] = u"文件为只读";
inline constexpr char16_t kReasonInUse[] = u"文件正被占用";
// The reason for the system's error text about `path`; the text itself when it names none of them.
QString FileFailureReason(const QString &systemText, const QString &path);

// A file that is there and marked read-only (no write permission for anyone) or that this
// user may not write. Saves leave such a file alone, whoever runs the program.
bool IsWriteProtected(const QString &path);

struct WriteResult {
    bool ok = false;
    QString reason; // why not, when not
    explicit operator bool() const { return ok; }
};

// Writes `bytes` to `path` with a single write into a temporary file that takes the name
// only when everything is on disk, so `path` always holds either the old or the new bytes.
// A write-protected `path` is refused. With PreviousFile::Trash the old file also goes to the
// trash first, as a hard link where it can, so no room for a copy is needed (skipped where
// there is no trash; the write fails when the old file can go neither way). `beforeCommit`
// runs last, just before the rename; returning false abandons the new file.
WriteResult WriteFileAtomically(const QString &path, const QByteArray &bytes,
                                PreviousFile previous = PreviousFile::Replace,
                                const std::function<bool()> &beforeCommit = {});

// Write calls made by WriteFileAtomically since the program started (for the benchmark).
qint64 FileWriteCount();

// The desktop trash without asking; false when it cannot be used (no trash, other device).
bool MoveToTrash(const QString &path);
