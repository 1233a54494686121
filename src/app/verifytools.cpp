// The verify and the clock options of the 工具 menu; see verifytools.h.
#include "app/verifytools.h"

#include "app/edittools.h"

#include "app/frmmain.h"
#include "app/verifywindow.h"
#include "schedule/verifyreport.h"
#include "storage/toolsettings.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>

namespace {

// A verify of what was written: that channel, or all when more were written.
int VerifyScope(const QList<int> &written)
{
    return written.size() == 1 ? written.first() : 0;
}
} // namespace

VerifyTools::VerifyTools(Frmmain &window) : QObject(&window), m_w(window)
{
    QMenu *menu = m_w.toolsMenu();
    menu->addSeparator();
    verifyChannelAction = menu->addAction(QStringLiteral("校验本路"), this, [this] { verify(m_w.nPage()); });
    verifyChannelAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    verifyAllAction = menu->addAction(QStringLiteral("校验全部"), this, [this] { verify(0); });
    verifyAllAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    menu->addSeparator();
    const ToolSettings settings(m_w.store().folder());
    verifyAfterWriteAction = menu->addAction(QStringLiteral("写入后校验"));
    verifyAfterWriteAction->setCheckable(true);
    verifyAfterWriteAction->setChecked(settings.verifyAfterWrite());
    keepOption(verifyAfterWriteAction,
               [](const QString &folder, bool on) { return ToolSettings(folder).setVerifyAfterWrite(on); });
    clockOnConnectAction = menu->addAction(QStringLiteral("连接时自动对时"));
    clockOnConnectAction->setCheckable(true);
    clockOnConnectAction->setChecked(settings.setClockOnConnect());
    keepOption(clockOnConnectAction,
               [](const QString &folder, bool on) { return ToolSettings(folder).setSetClockOnConnect(on); });

    connect(&m_w, &Frmmain::commandsChanged, this, &VerifyTools::updateCommands);
    connect(&m_w, &Frmmain::transferFinished, this, &VerifyTools::transferFinished);
    connect(&m_w, &Frmmain::messageClosed, this, &VerifyTools::messageClosed);
    // The write flow stays as it is; what it writes is only noted.
    connect(m_w.CmdDown, &QPushButton::clicked, this, [this] { noteWrite({m_w.nPage()}); });
    connect(m_w.CmdDownAll, &QPushButton::clicked, this, [this] { noteWrite(VerifyChannels(0)); });
    updateCommands();
}

void VerifyTools::keepOption(QAction *action, bool (*store)(const QString &folder, bool on))
{
    connect(action, &QAction::toggled, this, [this, action, store](bool on) {
        if (store(m_w.store().folder(), on))
            return;
        const QSignalBlocker block(action);
        action->setChecked(!on);
        m_w.prompts().message(&m_w, QStringLiteral("设置无法保存：") + ToolSettings(m_w.store().folder()).path());
    });
}

VerifyWindow *VerifyTools::window() const
{
    return m_window;
}

void VerifyTools::updateCommands()
{
    const bool busy = m_w.driver().transferActive();
    const bool ready = m_w.linkOpen() && !busy;
    verifyChannelAction->setEnabled(ready);
    verifyAllAction->setEnabled(ready);
    if (m_window)
        m_window->setCommandsAvailable(ready, !busy);
}

bool VerifyTools::verify(int channel)
{
    if (!m_w.linkOpen() || !m_w.driver().startVerifyRead(channel, m_board))
        return false;
    m_verifying = channel;
    return true;
}

void VerifyTools::noteWrite(const QList<int> &channels)
{
    // Only a write that started: a click while another transfer runs starts nothing.
    if (m_w.driver().writing())
        m_writing = channels;
}

void VerifyTools::transferFinished(const TransferResult &result)
{
    if (result.kind == TransferKind::Write) {
        const QList<int> written = std::exchange(m_writing, {});
        if (result.success && !written.isEmpty() && ToolSettings(m_w.store().folder()).verifyAfterWrite())
            m_verifyAfterBox = written;
        return;
    }
    if (!result.verify || m_verifying < 0)
        return;
    const QList<int> channels = VerifyChannels(std::exchange(m_verifying, -1));
    const QList<ChannelComparison> comparisons =
        CompareBooks(m_w.book(), m_board, channels, UnreadChannels(channels, result.success, result.channel));
    m_shown.clear();
    for (int c : channels)
        m_shown.insert(c, m_board.channel(c));
    if (!m_window) {
        m_window = new VerifyWindow(&m_w, [this](int c) { return m_w.SSTab2->tabText(c - 1); });
        connect(m_window, &VerifyWindow::writeDifferences, this, &VerifyTools::writeDifferences);
        connect(m_window, &VerifyWindow::takeBoard, this, &VerifyTools::takeBoard);
    }
    m_window->setComparisons(comparisons);
    updateCommands();
    m_window->show();
    m_window->raise();
}

void VerifyTools::messageClosed(const QString &text)
{
    if (text != kWriteOk || m_verifyAfterBox.isEmpty())
        return;
    verify(VerifyScope(std::exchange(m_verifyAfterBox, {})));
}

void VerifyTools::writeDifferences(const QList<int> &channels)
{
    if (!m_w.linkOpen() || !m_w.driver().startWriteChannels(channels))
        return;
    m_writing = channels;
}

void VerifyTools::takeBoard(int channel)
{
    if (m_w.driver().transferActive() || !m_shown.contains(channel))
        return;
    if (!m_w.prompts().confirm(
            &m_w, QStringLiteral("此操作将以设备上的第%1路计划替换软件中的该路信息，继续否？").arg(channel)))
        return;
    m_w.editTools()->nameNextChange(QStringLiteral("采用设备第%1路").arg(channel));
    TakeBoardChannel(m_w.book(), channel, m_shown.value(channel));
    if (m_w.nPage() == channel)
        m_w.showChannel(channel);
    else
        Q_EMIT m_w.bookTouched();
    m_window->replaceComparison(CompareChannel(channel, m_w.book().channel(channel), m_shown.value(channel)));
}
