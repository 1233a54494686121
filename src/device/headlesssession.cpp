#include "device/headlesssession.h"

#include <QEventLoop>

HeadlessSession::HeadlessSession(SerialLink &link, ScheduleBook &book, Variant variant, uint8_t address,
                                 DeviceEngine::Clock clock)
    : m_link(link), m_engine(*this, link, book, variant, std::move(clock))
{
    m_lamps.fill(kLampGrey);
    m_engine.DeviceAddress = address;
    m_link.setListener(this);
    m_pace.setSingleShot(true);
    m_pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pace, &QTimer::timeout, [this] { pacedStep(); });
    m_tick.setInterval(int(kTickInterval.count()));
    QObject::connect(&m_tick, &QTimer::timeout, [this] { tick(); });
}

HeadlessSession::~HeadlessSession()
{
    m_link.setListener(nullptr);
    m_link.close();
}

OpenResult HeadlessSession::open(const std::function<OpenResult()> &open)
{
    const OpenResult r = open();
    if (r.ok())
        m_linkLost.clear();
    return r;
}

void HeadlessSession::close()
{
    m_link.close();
    m_engine.linkClosed();
}

void HeadlessSession::tick()
{
    m_driver->tick();
    changed();
}

void HeadlessSession::pacedStep()
{
    m_engine.pacedStep();
    changed();
}

void HeadlessSession::startTicking()
{
    m_tick.start();
}

void HeadlessSession::stopTicking()
{
    m_tick.stop();
}

bool HeadlessSession::schedulePacedStep(std::chrono::milliseconds after)
{
    if (m_pacer)
        m_pacer(after);
    else
        m_pace.start(after);
    return true;
}

void HeadlessSession::changed()
{
    if (m_onChange)
        m_onChange();
}

void HeadlessSession::onFrame(const Frame &frame)
{
    if (m_frameObserver)
        m_frameObserver(frame);
    const int rejected = m_engine.counters().repliesRejected;
    m_engine.MSCommDown_OnComm(frame);
    if (m_replyObserver)
        m_replyObserver(frame, m_engine.counters().repliesRejected == rejected);
    changed();
}

void HeadlessSession::onLinkFailed(const QString &why)
{
    m_linkLost = why.isEmpty() ? QStringLiteral("串口通信错误，连接已关闭") : why;
    m_engine.linkClosed();
    changed();
}

std::optional<uint16_t> HeadlessSession::relayStates() const
{
    uint16_t states = 0;
    for (int i = 0; i < 16; ++i) {
        if (m_lamps[size_t(i)] == kLampGrey)
            return std::nullopt;
        if (m_lamps[size_t(i)] == kLampGreen)
            states |= uint16_t(1u << i);
    }
    return states;
}

std::optional<qint64> HeadlessSession::drift() const
{
    return m_driver->boardDrift();
}

void HeadlessSession::setActivityText(const QString &text)
{
    if (m_progress && text.startsWith(QStringLiteral("正在")))
        m_progress(text);
}

void HeadlessSession::setProgressVisible(bool visible)
{
    if (m_progress && !visible)
        m_progress(QString());
}

void HeadlessSession::setProgressValue(int value)
{
    if (m_progress && m_progressMax > 0)
        m_progress(QStringLiteral("%1/%2").arg(value).arg(m_progressMax));
}

bool HeadlessSession::runUntil(const std::function<bool()> &done, int maxTicks)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(int(kTickInterval.count()));
    int ticks = 0;
    bool ok = false;
    const auto check = [&] {
        if (!linkLost().isEmpty()) {
            loop.quit();
        } else if (done()) {
            ok = true;
            loop.quit();
        }
    };
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        m_driver->tick();
        if (++ticks >= maxTicks && !done())
            loop.quit();
        check();
    });
    auto previous = std::exchange(m_onChange, [&] { check(); });
    tick.start();
    loop.exec();
    m_onChange = std::move(previous);
    return ok;
}

bool HeadlessSession::runTransfer(int maxTicks, const std::function<bool()> &stopWhen)
{
    m_result.reset();
    bool stopped = false;
    const bool ended = runUntil(
        [&] {
            if (stopWhen && !stopped && m_driver->transferActive() && stopWhen()) {
                stopped = true;
                m_driver->stop();
            }
            return m_result.has_value();
        },
        maxTicks);
    return ended && m_result->success;
}

QString IsoSeconds(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}
