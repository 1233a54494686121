// The result of a verify: one row per channel read (相同 / 不同 / 无法读取) and,
// for the selected channel, its differing entries side by side. The window
// only shows; what its buttons do is the caller's (VerifyTools).
#pragma once

#include "schedule/bookcompare.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;

class VerifyWindow final : public QWidget {
    Q_OBJECT
public:
    // `channelName` gives a channel's name as its tab shows it.
    VerifyWindow(QWidget *parent, std::function<QString(int)> channelName);

    void setComparisons(const QList<ChannelComparison> &comparisons);
    const QList<ChannelComparison> &comparisons() const { return m_comparisons; }
    // Replaces the row of that channel (after the board's version was taken).
    void replaceComparison(const ChannelComparison &comparison);
    // 0 when no row is selected.
    int selectedChannel() const;
    void selectChannel(int channel);
    // Whether the buttons may start anything: a write needs the link open and
    // idle, taking the board's version needs no transfer under way.
    void setCommandsAvailable(bool writeAllowed, bool takeAllowed);
    QString summary() const;

    QTreeWidget *channels() const { return m_channels; }
    QTreeWidget *entries() const { return m_entries; }
    QPushButton *writeButton() const { return m_write; }
    QPushButton *takeButton() const { return m_take; }

Q_SIGNALS:
    void writeDifferences(const QList<int> &channels);
    void takeBoard(int channel);

private:
    void showEntries();
    void updateButtons();

    std::function<QString(int)> m_channelName;
    QList<ChannelComparison> m_comparisons;
    bool m_writeAllowed = false;
    bool m_takeAllowed = false;
    QLabel *m_summary = nullptr;
    QTreeWidget *m_channels = nullptr;
    QTreeWidget *m_entries = nullptr;
    QPushButton *m_write = nullptr;
    QPushButton *m_take = nullptr;
};
