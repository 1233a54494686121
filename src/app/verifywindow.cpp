// The verify result window; see verifywindow.h.
#include "app/verifywindow.h"

#include "schedule/verifyreport.h"
#include "storage/notestore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QColor kDiffers(179, 0, 0);
const QColor kUnread(179, 71, 0);
} // namespace

VerifyWindow::VerifyWindow(QWidget *parent, std::function<QString(int)> channelName)
    : QWidget(parent, Qt::Window), m_channelName(std::move(channelName))
{
    setWindowTitle(QStringLiteral("校验结果"));
    setObjectName(QStringLiteral("VerifyWindow"));
    auto *root = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("VerifySummary"));
    root->addWidget(m_summary);

    auto *split = new QSplitter(Qt::Horizontal, this);
    m_channels = new QTreeWidget(split);
    m_channels->setObjectName(QStringLiteral("VerifyChannels"));
    m_channels->setAccessibleName(QStringLiteral("各路校验结果"));
    m_channels->setColumnCount(2);
    m_channels->setHeaderLabels({QStringLiteral("路"), QStringLiteral("结果")});
    m_channels->setRootIsDecorated(false);
    m_channels->setUniformRowHeights(true);
    m_entries = new QTreeWidget(split);
    m_entries->setObjectName(QStringLiteral("VerifyEntries"));
    m_entries->setAccessibleName(QStringLiteral("该路不同的条目"));
    m_entries->setColumnCount(4);
    m_entries->setHeaderLabels(
        {QStringLiteral("序号"), QStringLiteral("软件中"), QStringLiteral("设备上"), QStringLiteral("差别")});
    m_entries->setRootIsDecorated(false);
    m_entries->setUniformRowHeights(true);
    m_entries->header()->resizeSection(0, 50);
    m_entries->header()->resizeSection(1, 250);
    m_entries->header()->resizeSection(2, 250);
    split->addWidget(m_channels);
    split->addWidget(m_entries);
    split->setStretchFactor(1, 1);
    split->setSizes({200, 800});
    root->addWidget(split, 1);

    auto *bar = new QHBoxLayout;
    m_write = new QPushButton(QStringLiteral("写入差异"), this);
    m_write->setObjectName(QStringLiteral("VerifyWrite"));
    m_write->setToolTip(QStringLiteral("只把不同的各路写入设备"));
    m_take = new QPushButton(QStringLiteral("采用设备"), this);
    m_take->setObjectName(QStringLiteral("VerifyTake"));
    m_take->setToolTip(QStringLiteral("以设备上的计划替换软件中所选的这一路"));
    bar->addStretch(1);
    bar->addWidget(m_write);
    bar->addWidget(m_take);
    root->addLayout(bar);

    connect(m_channels, &QTreeWidget::currentItemChanged, this, [this] {
        showEntries();
        updateButtons();
    });
    connect(m_write, &QPushButton::clicked, this,
            [this] { Q_EMIT writeDifferences(DifferingChannels(m_comparisons)); });
    connect(m_take, &QPushButton::clicked, this, [this] {
        if (const int c = selectedChannel())
            Q_EMIT takeBoard(c);
    });
    resize(1040, 460);
    updateButtons();
}

void VerifyWindow::setComparisons(const QList<ChannelComparison> &comparisons)
{
    m_comparisons = comparisons;
    const QSignalBlocker block(m_channels);
    m_channels->clear();
    QTreeWidgetItem *first = nullptr;
    for (const ChannelComparison &c : comparisons) {
        const QString name = m_channelName ? m_channelName(c.channel) : QString();
        QString label = QStringLiteral("第%1路").arg(c.channel);
        if (!name.isEmpty() && name != kDefaultChannelName) // sixteen "未命名" say nothing
            label += u' ' + name;
        auto *item = new QTreeWidgetItem({label, VerdictText(c.verdict)});
        item->setData(0, Qt::UserRole, c.channel);
        if (c.verdict != ChannelVerdict::Same)
            item->setForeground(1, c.verdict == ChannelVerdict::Differs ? kDiffers : kUnread);
        m_channels->addTopLevelItem(item);
        if (!first && c.verdict == ChannelVerdict::Differs)
            first = item;
    }
    if (!first)
        first = m_channels->topLevelItem(0);
    m_channels->setCurrentItem(first);
    m_channels->resizeColumnToContents(0);
    m_summary->setText(summary());
    showEntries();
    updateButtons();
}

void VerifyWindow::replaceComparison(const ChannelComparison &comparison)
{
    for (int i = 0; i < m_comparisons.size(); ++i)
        if (m_comparisons[i].channel == comparison.channel) {
            m_comparisons[i] = comparison;
            QTreeWidgetItem *item = m_channels->topLevelItem(i);
            item->setText(1, VerdictText(comparison.verdict));
            item->setForeground(1, comparison.verdict == ChannelVerdict::Same ? m_channels->palette().text().color()
                                   : comparison.verdict == ChannelVerdict::Differs ? kDiffers
                                                                                   : kUnread);
        }
    m_summary->setText(summary());
    showEntries();
    updateButtons();
}

int VerifyWindow::selectedChannel() const
{
    const QTreeWidgetItem *item = m_channels->currentItem();
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

void VerifyWindow::selectChannel(int channel)
{
    for (int i = 0; i < m_channels->topLevelItemCount(); ++i)
        if (m_channels->topLevelItem(i)->data(0, Qt::UserRole).toInt() == channel)
            m_channels->setCurrentItem(m_channels->topLevelItem(i));
}

void VerifyWindow::setCommandsAvailable(bool writeAllowed, bool takeAllowed)
{
    m_writeAllowed = writeAllowed;
    m_takeAllowed = takeAllowed;
    updateButtons();
}

QString VerifyWindow::summary() const
{
    int differ = 0;
    int unread = 0;
    for (const ChannelComparison &c : m_comparisons) {
        differ += c.verdict == ChannelVerdict::Differs;
        unread += c.verdict == ChannelVerdict::Unread;
    }
    if (differ == 0 && unread == 0)
        return QStringLiteral("校验%1路，全部相同").arg(m_comparisons.size());
    QStringList parts;
    if (differ > 0)
        parts << QStringLiteral("%1路不同").arg(differ);
    if (unread > 0)
        parts << QStringLiteral("%1路无法读取").arg(unread);
    return QStringLiteral("校验%1路：").arg(m_comparisons.size()) + parts.join(QStringLiteral("，"));
}

void VerifyWindow::showEntries()
{
    m_entries->clear();
    const int channel = selectedChannel();
    for (const ChannelComparison &c : m_comparisons) {
        if (c.channel != channel)
            continue;
        for (const DifferenceRow &row : DifferenceRows(c)) {
            auto *item = new QTreeWidgetItem({row.number, row.program, row.board, row.note});
            item->setToolTip(1, row.program);
            item->setToolTip(2, row.board);
            m_entries->addTopLevelItem(item);
        }
    }
}

void VerifyWindow::updateButtons()
{
    m_write->setEnabled(m_writeAllowed && !DifferingChannels(m_comparisons).isEmpty());
    bool differs = false;
    for (const ChannelComparison &c : m_comparisons)
        if (c.channel == selectedChannel())
            differs = c.verdict == ChannelVerdict::Differs;
    m_take->setEnabled(m_takeAllowed && differs);
}
