// Fuzzes the reply decoder the way the port feeds it: arbitrary bytes cut into
// 22-byte groups, with engine ticks and commands mixed in by the input itself.
// Whatever arrives, nothing crashes and every entry in the book stays within
// the schedule model's ranges (so it saves as a 26-digit record under its key).
#include "device/engine.h"
#include "protocol/replies.h"

#include "support/fakes.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FakeLink link;
    link.opened = true;
    RecordingView view;
    ScheduleBook book;
    DeviceEngine engine(view, link, book, size % 2 ? Variant::Compat : Variant::Standard,
                        [] { return QDateTime(QDate(2026, 12, 6), QTime(12, 0)); });
    ReplyFramer framer;

    size_t i = 0;
    while (i < size) {
        // A control byte chooses what happens next; then a chunk of line bytes.
        const uint8_t control = data[i++];
        switch (control % 8) {
        case 0:
            engine.Timer2_Timer();
            break;
        case 1:
            engine.CmdUpload();
            break;
        case 2:
            engine.CmdUpLoadAll();
            break;
        case 3:
            engine.CmdDown();
            break;
        case 4:
            engine.CmdIn();
            break;
        case 5:
            engine.CmdSetTime();
            break;
        default:
            break;
        }
        const size_t chunk = std::min<size_t>(control / 8 + 1, size - i);
        framer.feed(QByteArray(reinterpret_cast<const char *>(data + i), qsizetype(chunk)));
        i += chunk;
        while (auto frame = framer.next())
            engine.MSCommDown_OnComm(*frame);
    }
    for (const auto &item : book.items()) {
        if (!item.entry->isWithinRanges() || item.entry->GetStr().size() != kRecordLength ||
            item.key != EntryKey(item.entry->nRoute, item.entry->nNo))
            std::abort();
    }
    return 0;
}
