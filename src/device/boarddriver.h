// What a face (the window, kelmora-cli) drives a board through, whether the
// board is on a serial line of this computer (DeviceEngine) or behind the
// broker, held by kelmora-bridge (NetworkBoard). Both report through the same
// EngineView, with the same texts, so what the operator sees does not depend
// on which.
#pragma once

#include "device/engineview.h"
#include "schedule/schedulebook.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// How transfers and the clock set end, in the words the operator reads.
inline const QString kWriteOk = QStringLiteral("写入成功！");
inline const QString kWriteFailed = QStringLiteral("写入失败！");
inline const QString kReadOk = QStringLiteral("读取成功！");
inline const QString kReadFailed = QStringLiteral("读取失败！");
inline const QString kClockSet = QStringLiteral("设置成功！");
// 读取 and 读取设备 ask before the book's entries go.
inline const QString kAskReadOne = QStringLiteral("此操作将清除软件显示当前路信息，继续否？");
inline const QString kAskReadAll = QStringLiteral("此操作将清除软件显示所有路信息，继续否？");

enum class TransferKind { None, Write, Read, ReadAll };

// How a transfer ended; the engine keeps the last one for faces without a window.
struct TransferResult {
    TransferKind kind = TransferKind::None;
    bool success = false;
    bool stopped = false;  // by CmdStop
    bool linkLost = false; // the link closed under it
    bool verify = false;   // a read into a separate book
    int channel = 0;       // where it ended: the frame that was out or next
    int number = 0;
    int framesDone = 0;
    int retries = 0;
};

class BoardDriver {
public:
    virtual ~BoardDriver() = default;

    // The window's 200 ms tick (faces without a window call it as often).
    virtual void tick() = 0;

    // --- The commands, as the window's buttons give them ---
    // 写入 one channel (1..16) or 写入所有 (0): the book's entries, with the closing box.
    virtual void write(int channel) = 0;
    // 读取 one channel or 读取设备 (0) into the book, once the operator said yes.
    virtual void read(int channel) = 0;
    virtual void readClock() = 0; // 读时
    virtual void setClock() = 0;  // 对时
    // 手动吸合 / 手动断开 one channel, or 吸合所有 / 断开所有 (0).
    virtual void switchRelay(int channel, bool on) = 0;
    virtual void stop() = 0; // 停止
    // Reads one channel (1..16) or all (0) into `target`, leaving the operator's
    // book and screen alone and asking nothing; false if none may start now.
    // The outcome is the view's transferEnded, never a box.
    virtual bool startVerifyRead(int channel, ScheduleBook &target) = 0;
    // Writes the given channels as 写入所有 writes each; false if none may start now.
    virtual bool startWriteChannels(const QList<int> &channels) = 0;

    // --- What the faces ask ---
    // A write or read of this face is under way (a clock set is not one).
    virtual bool transferActive() const = 0;
    // That, or a clock set.
    virtual bool transferUnderWay() const = 0;
    // A write of this face is under way (not a read).
    virtual bool writing() const = 0;
    // A relay command has gone and its outcome is not known yet.
    virtual bool relayCommandPending() const = 0;
    // The board's clock now, and how far it was off the computer's at its last reading.
    virtual std::optional<QDateTime> boardClockNow() const = 0;
    virtual std::optional<qint64> boardDrift() const = 0;
    virtual int boardWeekdayShift() const = 0;
    // The computer's clock as the driver sees it (fixed in tests).
    virtual QDateTime now() const = 0;
    virtual const std::optional<TransferResult> &lastResult() const = 0;
};
