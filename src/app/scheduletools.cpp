// The schedule tools of the 工具 menu; see scheduletools.h.
#include "app/scheduletools.h"

#include "app/edittools.h"

#include "app/copydialog.h"
#include "app/findingswindow.h"
#include "app/frmmain.h"
#include "app/schedulepicture.h"

#include <QAction>
#include <QCryptographicHash>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTreeWidget>

#include <limits>

namespace {
constexpr std::chrono::milliseconds kRingInterval{1000};

// Runs `action` when the watched label is clicked.
class ClickFilter final : public QObject {
public:
    ClickFilter(QObject *parent, std::function<void()> action) : QObject(parent), m_action(std::move(action)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            m_action();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_action;
};
} // namespace

ScheduleTools::ScheduleTools(Frmmain &window) : QObject(&window), m_w(window)
{
    QMenu *menu = m_w.toolsMenu();
    pictureAction = menu->addAction(QStringLiteral("日程图"), this, &ScheduleTools::openPicture);
    pictureAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    checkAction = menu->addAction(QStringLiteral("检查"), this, &ScheduleTools::openCheck);
    checkAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    copyAction = menu->addAction(QStringLiteral("复制到…"), this, &ScheduleTools::openCopy);
    copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    // Copying edits the book, which the window allows only while the link is closed.
    auto followEditing = [this] { copyAction->setEnabled(m_w.CmdAdd->isEnabled()); };
    connect(&m_w, &Frmmain::commandsChanged, this, followEditing);
    followEditing();

    m_panel = new QLabel(&m_w);
    m_panel->setObjectName(QStringLiteral("FindingsPanel"));
    m_panel->setFrameShape(QFrame::StyledPanel);
    m_panel->setFrameShadow(QFrame::Sunken);
    m_panel->setStyleSheet(QStringLiteral("QLabel { color: #b34700; }"));
    m_panel->setCursor(Qt::PointingHandCursor);
    m_panel->setToolTip(QStringLiteral("点击查看检查结果"));
    m_panel->installEventFilter(new ClickFilter(m_panel, [this] { openCheck(); }));
    m_panel->hide();
    m_w.statusBar()->addPermanentWidget(m_panel);

    // The write flow stays as it is; the check only looks on.
    connect(m_w.CmdDown, &QPushButton::clicked, this, &ScheduleTools::quietCheck);
    connect(m_w.CmdDownAll, &QPushButton::clicked, this, &ScheduleTools::quietCheck);
    connect(m_w.CmdIn, &QPushButton::clicked, this, [this] { manualCommand({m_w.nPage()}); });
    connect(m_w.CmdOut, &QPushButton::clicked, this, [this] { manualCommand({m_w.nPage()}); });
    auto all = [this] {
        // With the link closed these commands fire nothing (the board's states replace them).
        if (!m_w.linkOpen())
            return;
        QList<int> channels;
        for (int c = 1; c <= kChannelCount; ++c)
            channels << c;
        manualCommand(channels);
    };
    connect(m_w.CmdOpenAll, &QPushButton::clicked, this, all);
    connect(m_w.CmdCloseAll, &QPushButton::clicked, this, all);

    connect(&m_w, &Frmmain::bookTouched, this, &ScheduleTools::bookTouched);
    m_print = fingerprint();
    m_ringTimer.setInterval(kRingInterval);
    connect(&m_ringTimer, &QTimer::timeout, this, &ScheduleTools::refreshRings);
    m_ringTimer.start();
}

PictureWindow *ScheduleTools::picture() const
{
    return m_picture;
}
FindingsWindow *ScheduleTools::findings() const
{
    return m_findings;
}
CopyDialog *ScheduleTools::copyDialog() const
{
    return m_copy;
}

QString ScheduleTools::channelName(int channel) const
{
    return m_w.SSTab2->tabText(channel - 1);
}

QByteArray ScheduleTools::fingerprint() const
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const auto &item : m_w.book().items()) {
        hash.addData(QByteArrayView(item.key.toUtf8()));
        hash.addData(QByteArrayView(item.entry->GetStr().toUtf8()));
    }
    return hash.result();
}

void ScheduleTools::bookTouched()
{
    const QByteArray print = fingerprint();
    if (print == m_print)
        return;
    m_print = print;
    // The panel speaks of the book as it was when the write started.
    m_panel->hide();
    if (m_picture && m_picture->isVisible())
        m_picture->refresh();
    if (m_findings && m_findings->isVisible())
        m_findings->setFindings(CheckBook(m_w.book(), m_w.driver().now()));
    refreshRings();
}

// ---------------------------------------------------------------- picture

void ScheduleTools::openPicture()
{
    if (!m_picture) {
        PictureWindow::Sources sources;
        sources.book = &m_w.book();
        sources.channelName = [this](int c) { return channelName(c); };
        sources.now = [this] { return m_w.driver().now(); };
        m_picture = new PictureWindow(sources, &m_w);
    }
    m_picture->showWeekOf(m_w.nPage());
    m_picture->show();
    m_picture->raise();
    m_picture->activateWindow();
}

// ---------------------------------------------------------------- check

void ScheduleTools::openCheck()
{
    if (!m_findings) {
        m_findings = new FindingsWindow(&m_w);
        connect(m_findings, &FindingsWindow::goTo, this, &ScheduleTools::goTo);
        connect(m_findings, &FindingsWindow::recheck, this,
                [this] { m_findings->setFindings(CheckBook(m_w.book(), m_w.driver().now())); });
    }
    m_findings->setFindings(CheckBook(m_w.book(), m_w.driver().now()));
    m_findings->show();
    m_findings->raise();
    m_findings->activateWindow();
}

void ScheduleTools::quietCheck()
{
    const QString text = FindingsPanelText(CheckBook(m_w.book(), m_w.driver().now()));
    m_panel->setText(text);
    m_panel->setVisible(!text.isEmpty());
}

void ScheduleTools::goTo(int channel, int number)
{
    // While a transfer runs the tabs are locked to the channel it works on.
    if (!m_w.SSTab2->isEnabled())
        return;
    if (channel != m_w.nPage())
        m_w.showChannel(channel);
    if (QTreeWidgetItem *item = m_w.List->topLevelItem(number - 1)) {
        m_w.List->clearSelection();
        m_w.List->setCurrentItem(item);
        m_w.List->scrollToItem(item);
    }
    m_w.raise();
    m_w.activateWindow();
}

// ---------------------------------------------------------------- copy

void ScheduleTools::openCopy()
{
    if (!m_w.CmdAdd->isEnabled() || m_copy)
        return;
    auto *dlg = new CopyDialog(
        m_w.book(), m_w.nPage(), [this](int c) { return channelName(c); }, &m_w);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowModality(Qt::WindowModal);
    dlg->notify = [this, dlg](const QString &text) { m_w.prompts().message(dlg, text); };
    connect(dlg, &QDialog::accepted, this, [this, dlg] {
        const CopyDialog::Result r = dlg->result();
        applyCopy(dlg->source(), r.targets, r.mode == CopyMode::Append);
    });
    m_copy = dlg;
    dlg->show();
}

void ScheduleTools::applyCopy(int source, const QList<int> &targets, bool append)
{
    ScheduleBook &book = m_w.book();
    const CopyPlan plan = PlanCopy(book, source, targets, append ? CopyMode::Append : CopyMode::Replace);
    if (plan.refused()) {
        m_w.prompts().message(&m_w, QStringLiteral("%1将超过255条，未复制").arg(ChannelList(plan.tooFull)));
        return;
    }
    if (!plan.replaced.isEmpty() &&
        !m_w.prompts().confirm(&m_w, QStringLiteral("%1已有日程，替换吗？").arg(ChannelList(plan.replaced))))
        return;
    m_w.editTools()->nameNextChange(
        QStringLiteral("复制第%1路到%2").arg(source).arg(ChannelList(plan.targets)));
    CopyEntries(book, plan);
    // The list shows the copy: the first channel that received it.
    m_w.showChannel(plan.targets.isEmpty() ? source : plan.targets.first());
}

// ---------------------------------------------------------------- lamp rings

std::optional<WallSecs> ScheduleTools::boardNow() const
{
    const auto board = m_w.driver().boardClockNow();
    if (!board)
        return std::nullopt;
    return ToWall(*board);
}

void ScheduleTools::manualCommand(const QList<int> &channels)
{
    // The board's clock when known; the mark is only read while it is.
    const WallSecs at = boardNow().value_or(ToWall(m_w.driver().now()));
    for (int c : channels) {
        const auto next = NextFiring(m_w.book().channel(c), at, m_w.driver().boardWeekdayShift());
        m_manualUntil[c] = next ? next->at : std::numeric_limits<WallSecs>::max();
    }
    refreshRings();
}

void ScheduleTools::refreshRings()
{
    const std::optional<WallSecs> now = m_w.linkOpen() ? boardNow() : std::nullopt;
    for (int c = 1; c <= kChannelCount; ++c) {
        const int i = c - 1;
        const QList<EntryRef> entries = now ? m_w.book().channel(c) : QList<EntryRef>();
        if (!now || BoardList(entries).isEmpty()) {
            m_w.setLampRing(i, std::nullopt, false, QString());
            continue;
        }
        if (m_manualUntil[c] && *now >= *m_manualUntil[c])
            m_manualUntil[c].reset();
        const bool manual = m_manualUntil[c].has_value();
        // The board fires weekly entries on the weekday it keeps, not the date's.
        const RelayState should = StateAt(entries, *now, m_w.driver().boardWeekdayShift()).state;
        const uint32_t ring = should == RelayState::On ? kLampGreen : should == RelayState::Off ? kLampRed : kLampGrey;
        const uint32_t lamp = m_w.lampColour(i);
        const bool differs = should != RelayState::Unknown && lamp != kLampGrey && lamp != ring;
        QString note;
        if (differs)
            note = should == RelayState::On ? QStringLiteral("按日程应为吸合") : QStringLiteral("按日程应为断开");
        if (manual) {
            const QString until =
                *m_manualUntil[c] == std::numeric_limits<WallSecs>::max()
                    ? QStringLiteral("手动设定")
                    : QStringLiteral("手动设定，至 %1 恢复日程")
                          .arg(FromWall(*m_manualUntil[c]).toString(QStringLiteral("MM-dd hh:mm:ss")));
            note = note.isEmpty() ? until : note + QStringLiteral("（") + until + QStringLiteral("）");
        }
        m_w.setLampRing(i, ring, manual, note);
    }
}
