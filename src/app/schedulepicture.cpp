// The schedule picture; see schedulepicture.h.
#include "app/schedulepicture.h"

#include "schedule/channelview.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QToolTip>
#include <QVBoxLayout>

namespace {
constexpr int kRulerHeight = 22;
constexpr int kMargin = 8;
constexpr double kHitTolerance = 4.0;
const QColor kOnColour(46, 160, 67);
const QColor kOffColour(246, 246, 246);
const QColor kUnknownColour(150, 150, 150);
const QColor kPointColour(30, 30, 30);
const QColor kNowColour(214, 40, 40);
const QString kWeekdays[7] = {QStringLiteral("星期一"), QStringLiteral("星期二"), QStringLiteral("星期三"),
                              QStringLiteral("星期四"), QStringLiteral("星期五"), QStringLiteral("星期六"),
                              QStringLiteral("星期日")};
} // namespace

DayChart::DayChart(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(560, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize DayChart::sizeHint() const
{
    return {900, kRulerHeight + kMargin * 2 + int(std::max<qsizetype>(m_rows.size(), 7)) * 30};
}

void DayChart::setRows(const QList<DayRow> &rows, const QStringList &labels)
{
    m_rows = rows;
    m_labels = labels;
    m_selected.reset();
    update();
}

void DayChart::setNow(WallSecs now)
{
    m_now = now;
    update();
}

int DayChart::labelWidth() const
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    int w = 0;
    for (const QString &l : m_labels)
        w = std::max(w, metrics.horizontalAdvance(l));
    return w + 2 * kMargin;
}

QRectF DayChart::plotRect() const
{
    return QRectF(labelWidth(), kRulerHeight + kMargin, width() - labelWidth() - 2 * kMargin,
                  height() - kRulerHeight - 2 * kMargin);
}

void DayChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QRectF plot = plotRect();
    if (m_rows.isEmpty() || plot.width() <= 0 || plot.height() <= 0)
        return;
    const double rowHeight = plot.height() / double(m_rows.size());
    const double perSecond = plot.width() / double(kSecsPerDay);

    // Hours: a light line each hour, a number every two.
    p.setPen(palette().text().color());
    for (int h = 0; h <= 24; ++h) {
        const double x = plot.left() + h * 3600 * perSecond;
        p.setPen(QColor(h % 6 == 0 ? 170 : 215, h % 6 == 0 ? 170 : 215, h % 6 == 0 ? 170 : 215));
        p.drawLine(QPointF(x, plot.top() - 4), QPointF(x, plot.bottom()));
        if (h % 2 == 0) {
            p.setPen(palette().text().color());
            p.drawText(QRectF(x - 20, kMargin - 4, 40, kRulerHeight), Qt::AlignCenter, QString::number(h));
        }
    }

    QBrush hatch(kUnknownColour, Qt::BDiagPattern);
    const qint64 today = m_now / kSecsPerDay;
    for (int r = 0; r < m_rows.size(); ++r) {
        const DayRow &row = m_rows[r];
        const QRectF band(plot.left(), plot.top() + r * rowHeight, plot.width(), rowHeight);
        const QRectF bar = band.adjusted(0, rowHeight * 0.2, 0, -rowHeight * 0.2);
        const WallSecs start = ToWall(row.day);
        const bool isToday = start / kSecsPerDay == today;
        QFont labelFont = font();
        labelFont.setBold(isToday && m_rows.first().day != m_rows.last().day); // today's row of a week
        p.setFont(labelFont);
        p.setPen(palette().text().color());
        p.drawText(QRectF(kMargin, band.top(), labelWidth() - 2 * kMargin, band.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, m_labels.value(r));
        p.setFont(font());
        // The track: off is the empty track, on a filled bar, unknown hatched.
        p.fillRect(bar, kOffColour);
        for (const StateSpan &s : row.line.spans) {
            const QRectF piece(plot.left() + double(s.from - start) * perSecond, bar.top(),
                               double(s.to - s.from) * perSecond, bar.height());
            if (s.state == RelayState::On)
                p.fillRect(piece, kOnColour);
            else if (s.state == RelayState::Unknown)
                p.fillRect(piece, hatch);
        }
        p.setPen(QColor(205, 205, 205));
        p.setBrush(Qt::NoBrush);
        p.drawRect(bar);
        // Switching points: a line through the band with a small mark on top,
        // pointing down for a pull-in and up for a release.
        for (const SwitchPoint &s : row.line.points) {
            const double x = plot.left() + double(s.at - start) * perSecond;
            const bool selected = m_selected && m_selected->onPoint && m_selected->row == r && m_selected->at == s.at;
            const QColor colour = selected ? kNowColour : kPointColour;
            p.setPen(QPen(colour, selected ? 2.5 : 1.3));
            p.drawLine(QPointF(x, band.top() + 2), QPointF(x, band.bottom() - 2));
            const double m = std::min(4.0, rowHeight * 0.18);
            const double y = band.top() + 2;
            const QPointF tip = s.on ? QPointF(x, y + m) : QPointF(x, y);
            const double base = s.on ? y : y + m;
            const QPointF mark[3] = {tip, QPointF(x - m, base), QPointF(x + m, base)};
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawPolygon(mark, 3);
        }
        if (isToday && m_now >= start) {
            const double x = plot.left() + double(m_now - start) * perSecond;
            p.setPen(QPen(kNowColour, 1.5, Qt::DashLine));
            p.drawLine(QPointF(x, band.top()), QPointF(x, band.bottom()));
        }
    }
    p.setPen(QColor(150, 150, 150));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
}

void DayChart::mouseMoveEvent(QMouseEvent *event)
{
    Q_EMIT hovered(HitTest(m_rows, plotRect(), event->position(), kHitTolerance));
}

void DayChart::mousePressEvent(QMouseEvent *event)
{
    m_selected = HitTest(m_rows, plotRect(), event->position(), kHitTolerance);
    update();
    Q_EMIT clicked(m_selected);
}

void DayChart::leaveEvent(QEvent *)
{
    Q_EMIT hovered(std::nullopt);
}

PictureWindow::PictureWindow(const Sources &sources, QWidget *parent) : QWidget(parent, Qt::Window), m_sources(sources)
{
    setWindowTitle(QStringLiteral("日程图"));
    setObjectName(QStringLiteral("PictureWindow"));
    auto *root = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    root->addWidget(m_pages, 1);

    // One channel's week.
    auto *weekPage = new QWidget(m_pages);
    auto *weekLayout = new QVBoxLayout(weekPage);
    auto *weekBar = new QHBoxLayout;
    m_channel = new QComboBox(weekPage);
    for (int c = 1; c <= kChannelCount; ++c)
        m_channel->addItem(QStringLiteral("第%1路 %2").arg(c).arg(m_sources.channelName(c)), c);
    auto *back = new QPushButton(QStringLiteral("上一周"), weekPage);
    auto *current = new QPushButton(QStringLiteral("本周"), weekPage);
    auto *forward = new QPushButton(QStringLiteral("下一周"), weekPage);
    back->setObjectName(QStringLiteral("WeekBack"));
    forward->setObjectName(QStringLiteral("WeekForward"));
    m_weekTitle = new QLabel(weekPage);
    weekBar->addWidget(m_channel);
    weekBar->addSpacing(12);
    weekBar->addWidget(back);
    weekBar->addWidget(current);
    weekBar->addWidget(forward);
    weekBar->addSpacing(12);
    weekBar->addWidget(m_weekTitle);
    weekBar->addStretch(1);
    weekLayout->addLayout(weekBar);
    m_week = new DayChart(weekPage);
    weekLayout->addWidget(m_week, 1);
    m_pages->addTab(weekPage, QStringLiteral("一周"));

    // Every channel on one day.
    auto *dayPage = new QWidget(m_pages);
    auto *dayLayout = new QVBoxLayout(dayPage);
    auto *dayBar = new QHBoxLayout;
    auto *dayBack = new QPushButton(QStringLiteral("前一天"), dayPage);
    m_date = new QDateEdit(dayPage);
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setCalendarPopup(true);
    auto *today = new QPushButton(QStringLiteral("今天"), dayPage);
    auto *dayForward = new QPushButton(QStringLiteral("后一天"), dayPage);
    dayBar->addWidget(dayBack);
    dayBar->addWidget(m_date);
    m_dayName = new QLabel(dayPage);
    dayBar->addWidget(m_dayName);
    dayBar->addWidget(dayForward);
    dayBar->addWidget(today);
    dayBar->addStretch(1);
    dayLayout->addLayout(dayBar);
    m_day = new DayChart(dayPage);
    dayLayout->addWidget(m_day, 1);
    m_pages->addTab(dayPage, QStringLiteral("全部通道"));

    auto *legend = new QLabel(
        QStringLiteral("绿色：吸合　空白：断开　斜线：尚无切换，状态未知　竖线：切换点（▼吸合 ▲断开）　红色虚线：现在"),
        this);
    m_info = new QLabel(QStringLiteral("指向或点击切换点，显示它的条目"), this);
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_info->setMinimumHeight(2 * fontMetrics().height() + 6);
    m_info->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    root->addWidget(legend);
    root->addWidget(m_info);

    connect(m_channel, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(back, &QPushButton::clicked, this, [this] { stepWeek(-1); });
    connect(forward, &QPushButton::clicked, this, [this] { stepWeek(1); });
    connect(current, &QPushButton::clicked, this, [this] {
        m_monday = MondayOf(m_sources.now().date());
        refresh();
    });
    connect(dayBack, &QPushButton::clicked, this, [this] { stepDay(-1); });
    connect(dayForward, &QPushButton::clicked, this, [this] { stepDay(1); });
    connect(today, &QPushButton::clicked, this, [this] { m_date->setDate(m_sources.now().date()); });
    connect(m_date, &QDateEdit::dateChanged, this, [this] { refresh(); });
    for (DayChart *chart : {m_week, m_day}) {
        connect(chart, &DayChart::hovered, this, [this](const std::optional<PictureHit> &hit) {
            if (hit && hit->onPoint)
                QToolTip::showText(QCursor::pos(), describe(*hit));
            else
                QToolTip::hideText();
        });
        connect(chart, &DayChart::clicked, this,
                [this](const std::optional<PictureHit> &hit) { m_info->setText(hit ? describe(*hit) : QString()); });
    }

    m_monday = MondayOf(m_sources.now().date());
    {
        const QSignalBlocker block(m_date);
        m_date->setDate(m_sources.now().date());
    }
    resize(1000, 520);
}

void PictureWindow::showWeekOf(int channel)
{
    m_monday = MondayOf(m_sources.now().date());
    m_pages->setCurrentIndex(0);
    const QSignalBlocker block(m_channel);
    m_channel->setCurrentIndex(channel - 1);
    refresh();
}

void PictureWindow::showToday()
{
    m_pages->setCurrentIndex(1);
    const QSignalBlocker block(m_date);
    m_date->setDate(m_sources.now().date());
    refresh();
}

int PictureWindow::channel() const
{
    return m_channel->currentIndex() + 1;
}

QDate PictureWindow::day() const
{
    return m_date->date();
}

QString PictureWindow::infoText() const
{
    return m_info->text();
}

void PictureWindow::stepWeek(int weeks)
{
    m_monday = m_monday.addDays(7 * weeks);
    refresh();
}

void PictureWindow::stepDay(int days)
{
    m_date->setDate(m_date->date().addDays(days));
}

void PictureWindow::refresh()
{
    const ScheduleBook &book = *m_sources.book;
    const QList<DayRow> week = WeekRows(book, channel(), m_monday);
    QStringList weekLabels;
    for (const DayRow &row : week)
        weekLabels << kWeekdays[row.day.dayOfWeek() - 1] + row.day.toString(QStringLiteral(" MM-dd"));
    m_week->setRows(week, weekLabels);
    m_weekTitle->setText(QStringLiteral("%1 至 %2")
                             .arg(m_monday.toString(QStringLiteral("yyyy-MM-dd")),
                                  m_monday.addDays(6).toString(QStringLiteral("yyyy-MM-dd"))));

    QStringList dayLabels;
    for (int c = 1; c <= kChannelCount; ++c) {
        dayLabels << QStringLiteral("%1 %2").arg(c, 2).arg(m_sources.channelName(c));
        m_channel->setItemText(c - 1, QStringLiteral("第%1路 %2").arg(c).arg(m_sources.channelName(c)));
    }
    m_day->setRows(DayRows(book, m_date->date()), dayLabels);
    m_dayName->setText(kWeekdays[m_date->date().dayOfWeek() - 1]);
    const WallSecs now = ToWall(m_sources.now());
    m_week->setNow(now);
    m_day->setNow(now);
}

QString PictureWindow::describe(const PictureHit &hit) const
{
    const QList<EntryRef> entries = m_sources.book->channel(hit.channel);
    auto entryLine = [&](int number) {
        if (number < 1 || number > entries.size())
            return QString();
        return QStringLiteral("%1 %2").arg(number, 3, 10, QLatin1Char('0')).arg(DataToText(*entries[number - 1]));
    };
    QStringList lines;
    if (hit.onPoint) {
        for (int n : hit.numbers)
            lines << entryLine(n).trimmed();
        if (hit.numbers.size() > 1)
            lines << QStringLiteral("同一秒多条：按顺序最后一条生效");
        return lines.join(u'\n');
    }
    const QString state = hit.state == RelayState::On    ? QStringLiteral("吸合")
                          : hit.state == RelayState::Off ? QStringLiteral("断开")
                                                         : QStringLiteral("未知（此前没有切换）");
    lines << QStringLiteral("%1 状态：%2").arg(FromWall(hit.at).toString(QStringLiteral("MM-dd hh:mm:ss")), state);
    if (!hit.numbers.isEmpty())
        lines << QStringLiteral("由 ") + entryLine(hit.numbers.first()).trimmed();
    return lines.join(u'\n');
}
