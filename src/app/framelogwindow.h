// 工具 › 通信记录: the frame log in a window of its own. The model shows the
// ring through the filter and holds rows back while paused; the window only
// lays out the filter, the buttons and the table.
#pragma once

#include "device/framelog.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include <chrono>

#include <deque>

class Frmmain;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

class FrameLogModel final : public QAbstractTableModel {
public:
    explicit FrameLogModel(FrameLog &log, QObject *parent = nullptr);
    ~FrameLogModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setFilter(const LogFilter &filter);
    const LogFilter &filter() const { return m_filter; }
    // Paused: new records are kept in the log, and shown once it resumes.
    void setPaused(bool paused);
    void clear();
    int heldBack() const { return int(m_log.endSeq() - m_shownEnd); }
    // Takes the records added since the last refresh into the rows. Runs every
    // kRefresh while records come; the view then repaints once for all of them.
    void refresh();
    static constexpr std::chrono::milliseconds kRefresh{500};

private:
    void added();
    void dropOld();

    FrameLog &m_log;
    LogFilter m_filter;
    std::deque<quint64> m_rows; // record numbers shown, oldest first
    quint64 m_shownEnd = 0;     // records before this have been looked at
    bool m_paused = false;
    QTimer m_refresh;
};

// Where 保存… writes: the real file dialog, or a test's answer. Empty = cancelled.
class LogFileDialog {
public:
    virtual ~LogFileDialog() = default;
    virtual QString saveFileName(QWidget *parent) = 0;
};

class FrameLogWindow final : public QWidget {
public:
    FrameLogWindow(FrameLog &log, LogFileDialog &dialog, QWidget *parent = nullptr);

    FrameLogModel &model() { return m_model; }
    QComboBox *directionBox = nullptr; // 全部 / 发送 / 接收
    QComboBox *kindBox = nullptr;      // 全部 / 状态 / 继电器 / 写入 / 读取 / 时钟 / 仅故障
    QLineEdit *searchEdit = nullptr;
    QPushButton *pauseButton = nullptr; // 暂停, checkable
    QPushButton *clearButton = nullptr;
    QPushButton *saveButton = nullptr;
    QTableView *table = nullptr;
    QLabel *note = nullptr; // rows shown, held back, what 保存 did

private:
    void filterChanged();
    void save();
    void followNewest();
    void updateNote();

    FrameLog &m_log;
    LogFileDialog &m_dialog;
    FrameLogModel m_model;
    QString m_saved;
};

// Adds 工具 › 通信记录 (Ctrl+L) to the main window; the window is made on first use.
void AddFrameLogTool(Frmmain &window, FrameLog &log, LogFileDialog &dialog);

class QtLogFileDialog final : public LogFileDialog {
public:
    QString saveFileName(QWidget *parent) override;
};
