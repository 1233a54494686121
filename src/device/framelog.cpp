#include "device/framelog.h"

#include <QDateTime>

#include <algorithm>

FrameWords RecordWords(const FrameRecord &r)
{
    if (r.event == RecordEvent::Stray)
        return {FrameKind::Other, StrayWords(r.length), true};
    const std::optional<uint16_t> before = r.relaysKnown ? std::optional<uint16_t>(r.relaysBefore) : std::nullopt;
    FrameWords w = DescribeFrame(r.bytes, r.direction, before);
    if (r.event == RecordEvent::GivenUp) {
        w.text = GivenUpWords(r.sends, r.damaged) + QStringLiteral("：") + w.text;
        w.fault = true;
    } else if (r.direction == FrameDirection::Sent && r.sends > 1) {
        w.text = ResendWords(r.sends - 1, r.damaged) + QStringLiteral("：") + w.text;
        w.fault = true;
    }
    return w;
}

QString RecordField(const FrameRecord &r, int column)
{
    switch (column) {
    case 0:
        return QDateTime::fromMSecsSinceEpoch(r.atMs).toString(QStringLiteral("hh:mm:ss.zzz"));
    case 1:
        if (r.event == RecordEvent::GivenUp)
            return QStringLiteral("—");
        return r.direction == FrameDirection::Sent ? QStringLiteral("发送") : QStringLiteral("接收");
    case 2:
        return r.event == RecordEvent::GivenUp ? QString() : HexGroups(r.bytes.data(), r.length);
    case 3:
        return RecordWords(r).text;
    case 4:
        return r.gapMs < 0 ? QString() : QStringLiteral("%1 ms").arg(r.gapMs);
    default:
        return {};
    }
}

namespace {
constexpr int kColumns = 5;

QString joined(const QStringList &fields, bool csv)
{
    if (!csv)
        return fields.join(QLatin1Char('\t'));
    QStringList quoted;
    for (QString f : fields) {
        if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) || f.contains(QLatin1Char('\n')))
            f = QLatin1Char('"') + f.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        quoted << f;
    }
    return quoted.join(QLatin1Char(','));
}
} // namespace

QString RecordLine(const FrameRecord &r, bool csv)
{
    QStringList fields;
    for (int c = 0; c < kColumns; ++c)
        fields << RecordField(r, c);
    return joined(fields, csv);
}

QString RecordHeader(bool csv)
{
    return joined({QStringLiteral("时间"), QStringLiteral("方向"), QStringLiteral("字节"), QStringLiteral("含义"),
                   QStringLiteral("间隔")},
                  csv);
}

bool Passes(const FrameRecord &r, const LogFilter &filter)
{
    if (!(r.direction == FrameDirection::Sent ? filter.sent : filter.received))
        return false;
    switch (filter.kind) {
    case KindFilter::All:
        break;
    case KindFilter::Faults:
        if (!r.fault)
            return false;
        break;
    default:
        if (int(r.kind) != int(filter.kind) - int(KindFilter::Status))
            return false;
    }
    return filter.text.isEmpty() || RecordWords(r).text.contains(filter.text, Qt::CaseInsensitive) ||
           HexGroups(r.bytes.data(), r.length).contains(filter.text, Qt::CaseInsensitive);
}

FrameLog::FrameLog(Clock clock, int capacity)
    : m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentMSecsSinceEpoch(); })),
      m_capacity(std::max(capacity, 1))
{
}

void FrameLog::add(FrameRecord r)
{
    const FrameWords words = RecordWords(r);
    r.kind = words.kind;
    r.fault = words.fault;
    const size_t at = size_t(m_end % quint64(m_capacity));
    if (m_ring.size() <= at)
        m_ring.push_back(r);
    else
        m_ring[at] = r;
    // A full ring drops its oldest hundredth at once: a window over it then
    // removes rows a thousand at a time, not one with every frame.
    if (m_size == m_capacity)
        m_size -= std::max(1, m_capacity / 100);
    ++m_size;
    ++m_end;
    if (m_listener)
        m_listener(m_end - 1);
}

void FrameLog::sent(const Frame &frame)
{
    FrameRecord r;
    r.atMs = m_clock();
    r.bytes = frame;
    r.relaysBefore = m_relays.value_or(0);
    r.relaysKnown = m_relays.has_value();
    if (m_request && !m_answered) {
        r.damaged = m_damagedAnswer;
        if (SameRequest(*m_request, frame)) {
            r.sends = uint8_t(std::min(m_sends + 1, 255));
        } else {
            FrameRecord given = r;
            given.event = RecordEvent::GivenUp;
            given.bytes = *m_request;
            given.sends = uint8_t(std::min(m_sends, 255));
            add(given);
            r.damaged = false;
        }
    }
    m_sends = r.sends;
    m_request = frame;
    m_requestAt = r.atMs;
    m_answered = false;
    m_damagedAnswer = false;
    add(r);
}

void FrameLog::received(const Frame &frame)
{
    FrameRecord r;
    r.atMs = m_clock();
    r.bytes = frame;
    r.direction = FrameDirection::Received;
    if (m_request) {
        r.gapMs = int32_t(std::clamp<qint64>(r.atMs - m_requestAt, 0, INT32_MAX));
    }
    const bool taken = frame[0] == wire::kReplyHeader && m_trust.take(frame);
    if (m_request && Answers(*m_request, frame, false)) {
        m_answered = m_answered || taken;
        m_damagedAnswer = !taken;
    }
    const bool status = frame[2] == wire::kStatus || frame[2] == wire::kStatusCompat;
    if (status && taken)
        m_relays = uint16_t(frame[4] | (frame[5] << 8));
    add(r);
}

void FrameLog::stray(const QByteArray &bytes)
{
    for (qsizetype from = 0; from < bytes.size(); from += kFrameSize) {
        FrameRecord r;
        r.atMs = m_clock();
        r.direction = FrameDirection::Received;
        r.event = RecordEvent::Stray;
        r.length = uint8_t(std::min<qsizetype>(kFrameSize, bytes.size() - from));
        std::copy_n(reinterpret_cast<const uint8_t *>(bytes.constData() + from), r.length, r.bytes.begin());
        add(r);
    }
}

void FrameLog::clear()
{
    m_size = 0;
}

LoggedLink::LoggedLink(SerialLink &inner, FrameLog &log) : m_inner(inner), m_log(log)
{
    m_inner.setListener(this);
}

LoggedLink::~LoggedLink()
{
    m_inner.setListener(nullptr);
}

void LoggedLink::write(const QByteArray &bytes)
{
    if (m_inner.isOpen() && bytes.size() == kFrameSize)
        m_log.sent(FromBytes(bytes));
    m_inner.write(bytes);
}

void LoggedLink::onFrame(const Frame &frame)
{
    m_log.received(frame);
    if (m_listener)
        m_listener->onFrame(frame);
}

void LoggedLink::onLinkFailed(const QString &why)
{
    if (m_listener)
        m_listener->onLinkFailed(why);
}

QString LogText(const FrameLog &log, const LogFilter &filter, bool csv)
{
    QString text = RecordHeader(csv) + QLatin1Char('\n');
    for (quint64 s = log.firstSeq(); s < log.endSeq(); ++s)
        if (Passes(log.at(s), filter))
            text += RecordLine(log.at(s), csv) + QLatin1Char('\n');
    return text;
}
