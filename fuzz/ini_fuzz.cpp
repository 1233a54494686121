// libFuzzer target: arbitrary bytes through the .ini parser and writer and the name decoder.
#include "storage/inifile.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr QByteArrayView kRecord = "11000000000100000000083000";

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Values whose read-back must equal what was written (no blanks or quotes around them).
bool readsBackAsWritten(QByteArrayView v)
{
    if (v.isEmpty())
        return true;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v'; };
    const bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    return !blank(v.front()) && !blank(v.back()) && !quoted;
}

QByteArrayView take(QByteArrayView &rest, qsizetype n)
{
    n = std::min(n, rest.size());
    const QByteArrayView head = rest.first(n);
    rest = rest.sliced(n);
    return head;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // The whole input as a file: lookups, a record write, and a re-parse of the result.
    IniFile ini(bytes);
    const auto before16255 = ini.value("Note", "16255");
    ini.value("note", " 01001 ");
    IniFile written = ini;
    check(written.setValue("Note", "01001", kRecord));
    const IniFile reread(written.toBytes());
    check(reread.value("Note", "01001") == kRecord.toByteArray());
    check(reread.value("Note", "16255") == before16255);

    // Names: both decoders keep to 8 bytes' width whatever they are given.
    check(DecodeName(bytes, NameEncoding::Gbk).size() <= kNameByteWidth);
    check(DecodeName(bytes, NameEncoding::Utf8).size() <= kNameByteWidth);
    NameFromIni(bytes, "01");

    // The input also as names and a value to write into a small file.
    if (size >= 3) {
        QByteArrayView rest(bytes);
        const qsizetype sectionLen = static_cast<unsigned char>(rest[0]) % 8;
        const qsizetype keyLen = static_cast<unsigned char>(rest[1]) % 8;
        rest = rest.sliced(2);
        const QByteArrayView section = take(rest, sectionLen);
        const QByteArrayView key = take(rest, keyLen);
        const QByteArrayView value = rest;
        IniFile small("[Note]\r\n01001=x\r\n[Other]\r\nk=v");
        if (small.setValue(section, key, value)) {
            const IniFile back(small.toBytes());
            if (readsBackAsWritten(value))
                check(back.value(section, key) == value.toByteArray());
            check(back.value("Note", "01001").has_value());
        }
    }
    return 0;
}
