// The 工具 menu's verify and clock options: 校验本路 and 校验全部 read the board
// into a book of their own (the operator's book is never touched) and show the
// comparison; 写入后校验 runs that verify after a successful write once its
// box is closed; 连接时自动对时 is only kept here, the window acts on it.
#pragma once

#include "schedule/bookcompare.h"

#include <QHash>
#include <QObject>
#include <QPointer>

struct TransferResult;
class Frmmain;
class QAction;
class VerifyWindow;

class VerifyTools final : public QObject {
    Q_OBJECT
public:
    explicit VerifyTools(Frmmain &window);

    QAction *verifyChannelAction = nullptr; // 校验本路
    QAction *verifyAllAction = nullptr;     // 校验全部
    QAction *verifyAfterWriteAction = nullptr;
    QAction *clockOnConnectAction = nullptr;

    // Reads `channel` (0: all) into the verify's own book; false if it cannot start now.
    bool verify(int channel);
    VerifyWindow *window() const;

private:
    void updateCommands();
    void transferFinished(const TransferResult &result);
    void messageClosed(const QString &text);
    void noteWrite(const QList<int> &channels);
    void writeDifferences(const QList<int> &channels);
    void takeBoard(int channel);
    void keepOption(QAction *action, bool (*store)(const QString &folder, bool on));

    Frmmain &m_w;
    ScheduleBook m_board;                // what the verify under way reads
    QHash<int, QList<EntryRef>> m_shown; // the board's lists behind the window's rows
    int m_verifying = -1;                // the channel being verified (0: all), -1: none
    QList<int> m_writing;                // the channels of the write under way
    QList<int> m_verifyAfterBox;         // verify these once "写入成功！" is closed
    QPointer<VerifyWindow> m_window;
};
