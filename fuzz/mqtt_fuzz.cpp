// Fuzzes what kelmora-bridge takes from the network: a topic and a payload, routed
// as the bridge routes them. Whatever arrives, nothing crashes, and a schedule that
// is accepted is one the board can hold: at most 255 entries, each a valid 26-digit
// record that reads back as itself, and its JSON parses again to the same records.
//
// An input is a topic line and the payload after it; or, when its first byte is below
// 0x20, that byte picks a request topic (kind and board) and the next one its channel,
// so that every mutation of the payload still reaches the payload's parser. On a schedule
// set with bit 3 set as well, the JSON is built from the rest, 7 bytes an entry, so that most
// inputs are well-formed schedules whose values the parser has to judge.
#include "bridge/schedulejson.h"
#include "bridge/topics.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
QStringList Records(const QList<Clsdata> &entries)
{
    QStringList out;
    for (const Clsdata &e : entries)
        out << e.GetStr();
    return out;
}

// How many accepted schedules the property was checked on, printed when the run ends.
struct Checked {
    long schedules = 0;
    ~Checked() { std::fprintf(stderr, "fuzz_mqtt: %ld accepted schedules checked\n", schedules); }
} g_checked;

const char *const kSelected[] = {"relay/%1/set", "clock/set", "schedule/%1/set", "schedule/get"};

// Mode, action, hour, minute, second, days or day of month, month and year per entry;
// the byte ranges reach past the valid values (hour 31, month 15, year 2127).
QByteArray ScheduleFromBytes(const uint8_t *data, size_t size)
{
    static const char *const kModes[] = {"daily", "weekly", "date", "once"};
    static const char *const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun", "mon"}; // a day twice
    QByteArray json = "{\"entries\":[";
    for (size_t i = 0; i + 7 <= size; i += 7) {
        const uint8_t *e = data + i;
        json += (i ? ",{" : "{") + QByteArray("\"mode\":\"") + kModes[e[0] & 3] + "\",\"action\":\"" +
                (e[0] & 4 ? "on" : "off") +
                QString::asprintf("\",\"time\":\"%02d:%02d:%02d\"", e[1] % 32, e[2] % 64, e[3] % 64).toLatin1();
        if ((e[0] & 3) == 1) {
            json += ",\"days\":[";
            for (int d = 0, n = 0; d < 8; ++d)
                if (e[4] & (1 << d))
                    json += QByteArray(n++ ? ",\"" : "\"") + kDays[d] + '"';
            json += ']';
        } else if ((e[0] & 3) == 2) {
            json +=
                QString::asprintf(",\"date\":\"%04d-%02d-%02d\"", 2000 + e[6] % 128, e[5] % 16, e[4] % 32).toLatin1();
        }
        json += '}';
    }
    return json + "]}";
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QString topic;
    QByteArray payload;
    if (size >= 2 && data[0] < 0x20 && data[0] != '\n') {
        topic = QLatin1String(data[0] & 4 ? "k/b/" : "k/a/") +
                QString::fromLatin1(kSelected[data[0] & 3]).replace(QStringLiteral("%1"), QString::number(data[1]));
        payload = (data[0] & 0xB) == 0xA ? ScheduleFromBytes(data + 2, size - 2) : input.mid(2);
    } else {
        const qsizetype newline = input.indexOf('\n');
        topic = QString::fromUtf8(newline < 0 ? input : input.left(newline));
        payload = newline < 0 ? QByteArray() : input.mid(newline + 1);
    }
    const std::optional<RoutedMessage> routed = RouteMessage(QStringLiteral("k"), {"a", "b"}, topic, payload);
    if (!routed || !routed->request || routed->request->kind != RequestKind::ScheduleSet)
        return 0;
    const BridgeRequest &r = *routed->request;
    if (r.channel < 1 || r.channel > 16 || r.entries.size() > 255)
        std::abort();
    QList<EntryRef> refs;
    for (const Clsdata &e : r.entries) {
        const QString record = e.GetStr();
        const std::optional<Clsdata> back = StrToData(record);
        if (record.size() != 26 || !back || back->GetStr() != record)
            std::abort();
        refs << std::make_shared<Clsdata>(e);
    }
    const ScheduleParse again = ParseScheduleJson(ScheduleJson(refs), r.channel);
    if (!again.error.isEmpty() || Records(again.entries) != Records(r.entries))
        std::abort();
    ++g_checked.schedules;
    return 0;
}
