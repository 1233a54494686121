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
// ASCII case-insensitive names, trimmed lines, first section and first key win, one pair of
// surrounding quotes dropped. Writes follow WritePrivateProfileString: only the written
// line changes, new keys go to the end of their section, new sections to the end of the file.
class IniFile {
public:
    IniFile() = default;
    explicit IniFile(QByteArray bytes);

    // The value (trimmed, unquoted) or nothing when the section or key is absent.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;
    // False (and nothing changed) for names that could not be read back: empty, with line
    // breaks, a key with '=' or starting like a comment or section; values with line breaks.
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

// Whole-file reads: a missing file is not an error, an unreadable one is.
enum class ReadStatus { Ok, Missing, Unreadable };
struct FileBytes {
    ReadStatus status = ReadStatus::Missing;
    QByteArray bytes;
};
FileBytes ReadWholeFile(const QString &path);

// What becomes of the file a write replaces.
enum class PreviousFile { Replace, Trash };

// Writes `bytes` to `path` with a single write into a temporary file that takes the name
// only when everything is on disk, so `path` always holds either the old or the new bytes.
// With PreviousFile::Trash a copy of the old file goes to the trash first (skipped where
// there is no trash). `beforeCommit` runs last, just before the rename; returning false
// abandons the new file. False on any failure, with `path` untouched.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, PreviousFile previous = PreviousFile::Replace,
                         const std::function<bool()> &beforeCommit = {});

// Write calls made by WriteFileAtomically since the program started (for the benchmark).
qint64 FileWriteCount();

// The desktop trash without asking; false when it cannot be used (no trash, other device).
bool MoveToTrash(const QString &path);
