// Fuzzes what kelmora-bridge takes from the network: a topic (the input's first
// line) and a payload (the rest), routed as the bridge routes them. Whatever
// arrives, nothing crashes, and a schedule that is accepted is one the board
// can hold: at most 255 entries, each a valid 26-digit record that reads back
// as itself, and its JSON parses again to the same records.
#include "bridge/schedulejson.h"
#include "bridge/topics.h"

#include <cstdint>
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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QString topic = QString::fromUtf8(newline < 0 ? input : input.left(newline));
    const QByteArray payload = newline < 0 ? QByteArray() : input.mid(newline + 1);
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
    return 0;
}
