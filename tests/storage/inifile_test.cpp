// The .ini layer: profile-function lookups and writes, channel names, hostile bytes.
#include "storage/inifile.h"
#include "storage/notestore.h"
#include "storage_testing.h"

#include <QStringEncoder>

#include <random>

namespace {

QByteArray gbk(const QString &s)
{
    QStringEncoder enc("GBK");
    EXPECT_TRUE(enc.isValid());
    return enc.encode(s);
}

// A section of many keys with one repeated late, in another case.
QByteArray manyKeys()
{
    QByteArray file = "[s]\n";
    for (int i = 0; i < 200; ++i)
        file += "k" + QByteArray::number(i) + "=first\n";
    for (int i = 0; i < 200; i += 7)
        file += "K" + QByteArray::number(i) + "=later\n";
    return file;
}

TEST(IniFile, LookupsAndWritesFollowTheProfileFunctions)
{
    struct Lookup {
        const char *name;
        QByteArray file;
        const char *section;
        const char *key;
        std::optional<QByteArray> expected;
    };
    const Lookup lookups[] = {
        {"plain key", "[Note]\r\n01001=abc\r\n", "Note", "01001", "abc"},
        {"section name ignores case", "[nOTE]\r\nk=v\r\n", "Note", "k", "v"},
        {"key ignores case", "[Note]\nKey=v\n", "note", "KEY", "v"},
        {"line and both sides of = trimmed", "  [Note]  \n \t k \t=\t v v \t\n", "Note", "k", "v v"},
        {"blanks inside brackets trimmed", "[ Note\t]\nk=v\n", "Note", "k", "v"},
        {"double quotes dropped", "[s]\nk=\"a b\"\n", "s", "k", "a b"},
        {"single quotes dropped", "[s]\nk= 'x' \n", "s", "k", "x"},
        {"mismatched quotes kept", "[s]\nk=\"x'\n", "s", "k", "\"x'"},
        {"a lone quote kept", "[s]\nk=\"\n", "s", "k", "\""},
        {"quotes inside kept", "[s]\nk=a\"b\"\n", "s", "k", "a\"b\""},
        {"= inside the value kept", "[s]\nk=a=b\n", "s", "k", "a=b"},
        {"empty value is still a value", "[s]\nk=\n", "s", "k", ""},
        {"first of duplicate keys wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
        {"first of duplicate keys wins in a long section", manyKeys(), "s", "k98", "first"},
        {"first of duplicate sections wins", "[s]\na=1\n[t]\n[S]\na=2\nb=3\n", "s", "a", "1"},
        {"later duplicate section not merged", "[s]\na=1\n[t]\n[S]\na=2\nb=3\n", "s", "b", std::nullopt},
        {"comment line skipped", "[s]\n;k=1\n  ; k=2\nk=3\n", "s", "k", "3"},
        {"line without = has no value", "[s]\nk\n", "s", "k", std::nullopt},
        {"'[' without ']' is no header", "[s]\n[t\nk=1\n", "s", "k", "1"},
        {"name runs to the last ']'", "[a]b]\nk=1\n", "a]b", "k", "1"},
        {"CR line ends", "[s]\rk=1\rj=2", "s", "j", "2"},
        {"LF line ends", "[s]\nk=1\nj=2", "s", "j", "2"},
        {"CRLF line ends", "[s]\r\nk=1\r\nj=2\r\n", "s", "j", "2"},
        {"mixed line ends", "[s]\rk=1\nj=2\r\n\ri=3", "s", "i", "3"},
        {"keys before any header belong nowhere", "k=1\n[s]\nj=2\n", "s", "k", std::nullopt},
        {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k", "1"},
        {"missing section", "[s]\nk=1\n", "t", "k", std::nullopt},
        {"missing key", "[s]\nk=1\n", "s", "j", std::nullopt},
        {"empty file", "", "s", "k", std::nullopt},
    };
    for (const Lookup &c : lookups) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IniFile(c.file).value(c.section, c.key), c.expected);
    }

    struct Write {
        const char *name;
        QByteArray before;
        const char *section;
        const char *key;
        const char *value;
        QByteArray after;
    };
    const Write writes[] = {
        {"value replaced in place, every other line untouched", "; top\n[Note]\n01001 = old  \n01002=x\r\n\n[B]\rk=v",
         "Note", "01001", "new", "; top\n[Note]\n01001 = new\r\n01002=x\r\n\n[B]\rk=v"},
        {"first key of first section replaced", "[n]\r\nk=1\r\nk=2\r\n[N]\r\nk=3\r\n", "N", "K", "9",
         "[n]\r\nk=9\r\nk=2\r\n[N]\r\nk=3\r\n"},
        {"quoted value replaced whole", "[n]\nk=\"a\"\n", "n", "k", "b", "[n]\nk=b\r\n"},
        {"last line without break replaced", "[n]\nk=1", "n", "k", "2", "[n]\nk=2\r\n"},
        {"new key after the section's last line", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "a", "z", "3",
         "[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n"},
        {"new key after a trailing comment", "[a]\nx=1\n; end\n\n", "a", "z", "3", "[a]\nx=1\n; end\nz=3\r\n\n"},
        {"new key after a last line without break", "[a]\nx=1", "a", "z", "3", "[a]\nx=1\r\nz=3\r\n"},
        {"new key in a bare header", "[a]", "a", "z", "3", "[a]\r\nz=3\r\n"},
        {"new key goes to the first of duplicate sections", "[a]\nx=1\n[A]\ny=2\n", "a", "z", "3",
         "[a]\nx=1\nz=3\r\n[A]\ny=2\n"},
        {"new section at the end", "[a]\nx=1\n", "b", "k", "v", "[a]\nx=1\n[b]\r\nk=v\r\n"},
        {"new section after a last line without break", "[a]\nx=1", "b", "k", "v", "[a]\nx=1\r\n[b]\r\nk=v\r\n"},
        {"keys before any header are not a section", "k=1\n", "s", "k", "9", "k=1\n[s]\r\nk=9\r\n"},
        {"file made from nothing", "", "Note", "01001", "11000000000100000000083000",
         "[Note]\r\n01001=11000000000100000000083000\r\n"},
        {"byte-order mark kept", "\xEF\xBB\xBF", "s", "k", "v", "\xEF\xBB\xBF[s]\r\nk=v\r\n"},
    };
    for (const Write &c : writes) {
        SCOPED_TRACE(c.name);
        IniFile ini(c.before);
        ASSERT_TRUE(ini.setValue(c.section, c.key, c.value));
        EXPECT_EQ(ini.toBytes(), c.after);
        EXPECT_EQ(ini.value(c.section, c.key), QByteArray(c.value));
        EXPECT_EQ(IniFile(ini.toBytes()).value(c.section, c.key), QByteArray(c.value));
    }

    struct Refused {
        const char *name;
        const char *section;
        const char *key;
        const char *value;
    };
    const Refused refused[] = {
        {"empty key", "s", " ", "v"},          {"empty section", "", "k", "v"},
        {"= in key", "s", "a=b", "v"},         {"comment-like key", "s", ";k", "v"},
        {"header-like key", "s", "[k]", "v"},  {"break in value", "s", "k", "a\nb"},
        {"break in section", "s\r", "k", "v"},
    };
    for (const Refused &c : refused) {
        SCOPED_TRACE(c.name);
        const QByteArray before = "[s]\nk=1\n";
        IniFile ini(before);
        EXPECT_FALSE(ini.setValue(c.section, c.key, c.value));
        EXPECT_EQ(ini.toBytes(), before);
    }
}

TEST(ChannelName, CutToEightBytesWithoutSplittingCharacters)
{
    const QByteArray bom = "\xEF\xBB\xBF";
    struct Case {
        const char *name;
        QByteArray file; // empty: no Name.ini at all
        QString expected;
    };
    const Case cases[] = {
        {"GBK name", "[Note]\r\n01=\xB5\xDA\xC8\xFD\xC2\xB7\r\n", QStringLiteral("第三路")},
        {"GBK cut at four characters", "[Note]\r\n01=" + gbk(QStringLiteral("第三路水泵")), QStringLiteral("第三路水")},
        {"GBK cut inside a character drops its half", "[Note]\n01=" + gbk(QStringLiteral("A第三路水")),
         QStringLiteral("A第三路")},
        {"GBK truncated character at the end dropped", "[Note]\n01=AB\xB5\n", QStringLiteral("AB")},
        {"ASCII cut at eight", "[Note]\n01=ABCDEFGHIJ\n", QStringLiteral("ABCDEFGH")},
        {"quoted GBK", "[Note]\n01 = \"" + gbk(QStringLiteral("第三")) + "\"\n", QStringLiteral("第三")},
        {"UTF-8 with byte-order mark", bom + "[Note]\n01=" + QStringLiteral("第三路").toUtf8(),
         QStringLiteral("第三路")},
        {"UTF-8 cut at four characters", bom + "[Note]\n01=" + QStringLiteral("第三路水泵").toUtf8(),
         QStringLiteral("第三路水")},
        {"UTF-8 cut at the same width", bom + "[Note]\n01=" + QStringLiteral("A第三路水").toUtf8(),
         QStringLiteral("A第三路")},
        {"UTF-8 ASCII cut at eight", bom + "[Note]\n01=ABCDEFGHIJ\n", QStringLiteral("ABCDEFGH")},
        {"missing key", "[Note]\n02=x\n", kDefaultChannelName},
        {"missing section", "[Name]\n01=x\n", kDefaultChannelName},
        {"missing file", "", kDefaultChannelName},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        if (!c.file.isEmpty())
            writeBytes(dir.filePath(QStringLiteral("Name.ini")), c.file);
        EXPECT_EQ(NoteStore(dir.path()).ReadName(QStringLiteral("01")), c.expected);
    }
}

// Hostile files: every reader must come back (no crash, no hang) and agree with the others.
TEST(HostileInput, EveryReaderCopes)
{
    constexpr qsizetype kTenMegabytes = 10 * 1024 * 1024;
    std::mt19937 random(7);
    QByteArray noise(kTenMegabytes, Qt::Uninitialized);
    for (char &c : noise)
        c = char(random());
    const QByteArray oneLine = "[Note]\n01001=" + QByteArray(kTenMegabytes, '1');
    const QByteArray record = "11000000000100000000083000";

    struct Case {
        const char *name;
        QByteArray file;
        QString note01001;
    };
    const Case cases[] = {
        {"10 MB of random bytes", noise, kEmptyRecord},
        {"10 MB line is cut to 26", oneLine, QString(kRecordLength, QLatin1Char('1'))},
        {"NUL bytes before a header hide it", QByteArray("\0\0[Note]\n01001=", 15) + record, kEmptyRecord},
        {"NUL bytes inside a value stay in it", QByteArray("[Note]\n01001=11\0", 16) + record,
         QString::fromLatin1(QByteArray("11\0", 3) + record.left(23))},
        {"truncated GBK character", "[Note]\n01=\xB5\n01001=\xC8", QStringLiteral("\u00C8")},
        {"only line breaks", QByteArray(kTenMegabytes / 10, '\n'), kEmptyRecord},
        {"only brackets", QByteArray(kTenMegabytes / 10, '['), kEmptyRecord},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Note.ini"));
        writeBytes(path, c.file);
        EXPECT_EQ(ReadNoteFrom(QStringLiteral("01001"), path), c.note01001);
        const LoadedSchedules loaded = LoadSchedules(path);
        const OpenedSchedules opened = OpenSchedules(path);
        EXPECT_EQ(opened.ok, loaded.skippedKeys.isEmpty());
        if (opened.ok) {
            EXPECT_EQ(opened.entries.size(), loaded.entries.size());
        }
        EXPECT_EQ(NameFromIni(c.file, "01").has_value(), IniFile(c.file).value("Note", "01").has_value());

        IniFile ini(c.file);
        ASSERT_TRUE(ini.setValue("Note", "16255", record));
        EXPECT_EQ(IniFile(ini.toBytes()).value("Note", "16255"), record);
    }
}

} // namespace
