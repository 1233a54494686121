// Note.ini and Name.ini read and written key by key the way the profile functions do.
#include "storage/notestore.h"
#include "storage_testing.h"

namespace {

TEST(IniFile, ReadsAndWritesFollowTheProfileFunctions)
{
    // A row reads `key` of Note.ini, or with `write` set writes it and expects the whole file.
    // A null `file` is no file at all; a null read result is the empty record.
    struct Row {
        const char *name, *file, *key, *write, *expected;
    };
    const Row rows[] = {
        {"section and key ignore case", "[nOTE]\nKey=v\n", "KEY", nullptr, "v"},
        {"blanks around '=' trimmed", "[Note]\n \t k \t=\t v v \t\n", "k", nullptr, "v v"},
        {"quotes stripped", "[Note]\nk=\"a b\"\n", "k", nullptr, "a b"},
        {"first of duplicate keys wins", "[Note]\nk=1\nK=2\n", "k", nullptr, "1"},
        {"first of duplicate sections wins", "[Note]\na=1\n[NOTE]\na=2\nb=3\n", "a", nullptr, "1"},
        {"later duplicate section ignored", "[Note]\na=1\n[NOTE]\na=2\nb=3\n", "b", nullptr, nullptr},
        {"';' comment skipped", "[Note]\n;k=1\n  ; k=2\nk=3\n", "k", nullptr, "3"},
        {"line without '=' is no key", "[Note]\nk\n", "k", nullptr, nullptr},
        {"header without ']' names a section", "[Note\nk=1", "k", nullptr, "1"},
        {"section name ends at the first ']'", "[Note]x]\nk=1", "k", nullptr, "1"},
        {"vertical tab is a blank", "[\vNote\v]\n\vk\v=\v1\v\n", "k", nullptr, "1"},
        {"CR file", "[Note]\rk=1\rj=2", "j", nullptr, "2"},
        {"in place, other lines byte-for-byte", "; top\n[Note]\n01001 = old  \n01002=x\r\n\n[B]\rk=v", "01001", "new",
         "; top\n[Note]\n01001 = new\r\n01002=x\r\n\n[B]\rk=v"},
        {"new key at the end of its section", "[Note]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "01001", "v",
         "[Note]\r\nx=1\r\n01001=v\r\n\r\n[b]\r\ny=2\r\n"},
        {"new section at the end", "[a]\nx=1", "01001", "v", "[a]\nx=1\r\n[Note]\r\n01001=v\r\n"},
        {"missing file created", nullptr, "01001", "v", "[Note]\r\n01001=v\r\n"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const NoteStore store(dir.path());
        const QString key = QString::fromLatin1(r.key);
        ASSERT_TRUE(!r.file || writeBytes(store.notePath(), r.file));
        ASSERT_TRUE(!r.write || store.WriteNote(key, QString::fromLatin1(r.write)));
        const QByteArray got = r.write ? readBytes(store.notePath()) : store.ReadNote(key).toLatin1();
        EXPECT_EQ(got, r.expected ? QByteArray(r.expected) : kEmptyRecord.toLatin1());
    }
}

// The same bytes as Note.ini and as Name.ini: the record under 01001, the name under 01, and
// Load and Open, which must come back from anything.
TEST(Readers, RecordsNamesAndHostileBytes)
{
    const QByteArray record = "11000000000100000000083000", gbk = "\xB5\xDA\xC8\xFD\xC2\xB7\xCB\xAE\xB1\xC3";
    // name, file ("": none), record, name
    const std::tuple<const char *, QByteArray, QString, QString> rows[] = {
        {"exact 26 digits", "[Note]\n01001=" + record, record, kDefaultChannelName},
        {"absent key", "[Note]\n01002=" + record, kEmptyRecord, kDefaultChannelName},
        {"absent file", "", kEmptyRecord, kDefaultChannelName},
        {"GBK name", "[Note]\r\n01=" + gbk.first(6) + "\r\n", kEmptyRecord, "第三路"},
        {"GBK name cut to 8 bytes", "[Note]\r\n01=" + gbk + "\r\n", kEmptyRecord, "第三路水"},
        {"cut inside a character drops its half", "[Note]\n01=A" + gbk, kEmptyRecord, "A第三路"},
        {"UTF-8 file with byte-order mark", "\xEF\xBB\xBF[Note]\n01=第三路水泵", kEmptyRecord, "第三路水"},
        {"10 MB of binary", noise(), kEmptyRecord, kDefaultChannelName},
        {"10 MB line", "[Note]\n01001=" + QByteArray(kTenMegabytes, '1'), QString(26, u'1'), kDefaultChannelName},
        {"a value ends at its first NUL", QByteArray("[Note]\n01001=1\0", 15) + record, "1", kDefaultChannelName},
        {"GBK-extension lead byte", "[Note]\n01=\x81\xA1" + gbk.first(6), kEmptyRecord, "仭第三路"},
        {"truncated GBK character", "[Note]\n01=AB\xB5\n01001=\xC8", QStringLiteral("\u00C8"), "AB"},
    };
    for (const auto &[name, file, note, channelName] : rows) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const NoteStore store(dir.path());
        ASSERT_TRUE(file.isEmpty() || (writeBytes(store.notePath(), file) && writeBytes(store.namePath(), file)));
        EXPECT_EQ(store.ReadNote(QStringLiteral("01001")), note);
        EXPECT_EQ(store.ReadName(QStringLiteral("01")), channelName);
        const LoadedSchedules l = LoadSchedules(store.notePath());
        EXPECT_EQ(OpenSchedules(store.notePath()).ok, l.skippedKeys.isEmpty() && !l.noSection);
    }
}

} // namespace
