#include "protocol/frames.h"

namespace {
uint8_t twoDigits(QStringView record, int from1)
{
    return uint8_t(record.mid(from1 - 1, 2).toUInt());
}

Frame header(uint8_t address, uint8_t code, uint8_t count)
{
    Frame f{};
    f[0] = wire::kRequestHeader;
    f[1] = address;
    f[2] = code;
    f[3] = count;
    return f;
}

// A frame whose payload is bytes 4 and 5 only.
Frame frameWith(uint8_t address, uint8_t code, uint8_t count, uint8_t byte4, uint8_t byte5)
{
    Frame f = header(address, code, count);
    f[4] = byte4;
    f[5] = byte5;
    SealFrame(f);
    return f;
}
} // namespace

void SealFrame(Frame &f)
{
    unsigned sum = 0;
    uint8_t x = f[0];
    for (int i = 0; i < 20; ++i) {
        sum += f[i];
        if (i > 0)
            x ^= f[i];
    }
    f[20] = uint8_t(sum & 0xFF);
    f[21] = x;
}

uint8_t WeekMaskToWire(QStringView w)
{
    unsigned m = 0;
    for (int k = 0; k < 7 && k < w.size(); ++k)
        if (w[k] == QLatin1Char('1'))
            m |= 1u << k;
    // Rotate the Monday-first field one place left within 7 bits: Sunday to bit 0.
    return uint8_t(m >= 64 ? (m - 64) * 2 + 1 : m * 2);
}

Frame WriteEntryFrame(uint8_t address, uint8_t mode, uint8_t channel, uint8_t number, QStringView r)
{
    Frame f = header(address, wire::kWriteEntry, wire::kWriteEntryCount);
    f[4] = channel;
    f[5] = number;
    f[6] = mode;
    if (r.size() >= 26) {
        f[7] = twoDigits(r, 15);
        f[8] = twoDigits(r, 17);
        f[9] = twoDigits(r, 19);
        f[10] = r[2] == QLatin1Char('1') ? WeekMaskToWire(r.mid(3, 7)) : 0;
        f[11] = twoDigits(r, 21);
        f[12] = twoDigits(r, 23);
        f[13] = twoDigits(r, 25);
        f[14] = r[0] == QLatin1Char('1') ? wire::kActionPullIn : wire::kActionRelease;
    }
    SealFrame(f);
    return f;
}

Frame BlankEntryFrame(uint8_t address, uint8_t channel, uint8_t number)
{
    return frameWith(address, wire::kWriteEntry, wire::kWriteEntryCount, channel, number);
}

Frame ReadEntryFrame(uint8_t address, uint8_t channel, uint8_t number)
{
    return frameWith(address, wire::kReadEntry, wire::kReadEntryCount, channel, number);
}

Frame SetClockFrame(uint8_t address, const QDateTime &now)
{
    Frame f = header(address, wire::kSetClock, wire::kSetClockCount);
    const QDate d = now.date();
    const QTime t = now.time();
    f[4] = uint8_t(d.year() % 100);
    f[5] = uint8_t(d.month());
    f[6] = uint8_t(d.day());
    f[7] = uint8_t(d.dayOfWeek() % 7 + 1); // Qt: Monday 1 .. Sunday 7; wire: Sunday 1 .. Saturday 7
    f[8] = uint8_t(t.hour());
    f[9] = uint8_t(t.minute());
    f[10] = uint8_t(t.second());
    SealFrame(f);
    return f;
}

Frame ReadClockFrame(uint8_t address)
{
    Frame f = header(address, wire::kReadClock, 0);
    SealFrame(f);
    return f;
}

Frame RelayFrame(uint8_t address, uint8_t code, uint8_t count, uint8_t mask1to8, uint8_t mask9to16)
{
    return frameWith(address, code, count, mask1to8, mask9to16);
}

QString HexGroups(const uint8_t *bytes, int count)
{
    QString s;
    for (int i = 0; i < count; ++i)
        s += QStringLiteral(" ,") + QString::number(bytes[i], 16).toUpper();
    return s;
}

QString FrameDebugText(const Frame &f)
{
    return HexGroups(f.data(), kFrameSize);
}

QByteArray ToBytes(const Frame &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.data()), kFrameSize);
}

Frame FromBytes(const QByteArray &bytes)
{
    Frame f{};
    for (int i = 0; i < kFrameSize && i < bytes.size(); ++i)
        f[i] = uint8_t(bytes[i]);
    return f;
}
