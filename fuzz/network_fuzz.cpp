// Fuzzes what the window and kelmora-cli take from the broker about a network board:
// any sequence of messages on its topics (and its bridge's), with the operator's commands
// and the clock's passing mixed in, and results the harness addresses to the request that is
// out. Whatever arrives, nothing crashes, the lamps show only grey, green or red, and the book
// changes only when a read of ours ended well, into entries that save as 26-digit records.
//
// An input is a run of steps: a control byte (its low four bits the step, its high four a
// channel), then for a message a byte for its topic (low bits) and channel (high four), a length
// byte and that many payload bytes.
#include "bridge/networkboard.h"

#include "support/fakes.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
const char *const kTopics[] = {"k/b/availability", "k/b/info",     "k/b/relay/%1", "k/b/clock",
                               "k/b/schedule/%1",  "k/b/transfer", "k/b/result",   "k/b/frames",
                               "k/_bridge/br/availability"};

// How many reads of ours filled the book, printed when the run ends.
struct Checked {
    long reads = 0;
    ~Checked() { std::fprintf(stderr, "fuzz_network: %ld reads into the book checked\n", reads); }
} g_checked;

QStringList Records(const ScheduleBook &book)
{
    QStringList out;
    for (const auto &item : book.items())
        out << item.entry->GetStr();
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RecordingView view;
    ScriptedMqtt mqtt;
    mqtt.connected = true;
    ScheduleBook book;
    QDateTime now(QDate(2026, 12, 8), QTime(10, 0));
    NetworkBoard board(view, mqtt, book, "k", "b", "fuzz", [&] { return now; });
    board.start();
    mqtt.handlers.connected();
    const auto lastTopic = [&] { return mqtt.sent.isEmpty() ? QString() : mqtt.sent.last().first; };
    board.watchFrames(true);
    for (size_t i = 0; i < size;) {
        const uint8_t control = data[i++];
        const QStringList before = Records(book);
        const int endedBefore = int(view.ended.size());
        const int channel = control >> 4; // 0..15: 0 is every channel where a command takes it
        switch (control & 15) {
        case 0:
        case 1: { // a message (retained when bit 0 is set): a byte for topic and channel, a length, the payload
            const uint8_t which = i < size ? data[i++] : 0;
            const size_t length = i < size ? std::min<size_t>(data[i++], size - i) : 0;
            const QByteArray payload(reinterpret_cast<const char *>(data + i), qsizetype(length));
            i += length;
            mqtt.handlers.message(QString::fromLatin1(kTopics[which % std::size(kTopics)])
                                      .replace("%1", QString::number((which >> 4) + 1)),
                                  payload, control & 1);
            break;
        }
        case 2: // the bridge's result for what went out last, ok or refused; after a read, the channels first
            if (channel & 4)
                for (int c = 1; c <= 16; ++c)
                    mqtt.handlers.message(QStringLiteral("k/b/schedule/%1").arg(c),
                                          QStringLiteral(R"({"entries":[{"mode":"daily","time":"%1:00:00","action":"on"}]})")
                                              .arg(c, 2, 10, QLatin1Char('0'))
                                              .toUtf8(),
                                          false);
            mqtt.handlers.message("k/b/result",
                                  QJsonDocument(QJsonObject{{"request", lastTopic()},
                                                            {"id", QJsonDocument::fromJson(mqtt.sent.isEmpty() ? QByteArray() : mqtt.sent.last().second)["id"]},
                                                            {"ok", bool(channel & 1)},
                                                            {"error", channel & 2 ? "已停止 (第3路第5条)" : ""}})
                                      .toJson(),
                                  false);
            break;
        case 3:
            board.write(channel);
            break;
        case 4:
            view.answer = channel & 1;
            board.read(channel);
            break;
        case 5:
            board.stop();
            break;
        case 6:
            board.setClock(), board.readClock();
            break;
        case 7:
            board.switchRelay(channel, control & 0x80);
            break;
        case 8:
            mqtt.handlers.disconnected("EOF");
            break;
        case 9:
            mqtt.handlers.connected();
            break;
        case 10:
            mqtt.handlers.refused(lastTopic(), "Not authorized");
            break;
        default:
            now = now.addMSecs(200 * (channel + 1) * (channel + 1));
            board.tick();
        }
        const bool readEndedWell = int(view.ended.size()) > endedBefore && view.ended.last().success &&
                                   view.ended.last().kind != TransferKind::Write && !view.ended.last().verify;
        g_checked.reads += readEndedWell;
        if (!readEndedWell && Records(book) != before)
            std::abort(); // the book changed without a read of ours that ended well
        for (const QString &record : Records(book))
            if (record.size() != 26 || !StrToData(record))
                std::abort();
        for (uint32_t lamp : view.lamps)
            if (lamp != kLampGrey && lamp != kLampGreen && lamp != kLampRed && lamp != 0)
                std::abort();
    }
    return 0;
}
