// The schedule picture: a channel's week, or every channel on one day, drawn
// from the rows the timeline computes. The chart only paints and maps points.
#pragma once

#include "schedule/picture.h"

#include <QWidget>

#include <functional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTabWidget;

class DayChart final : public QWidget {
    Q_OBJECT
public:
    explicit DayChart(QWidget *parent = nullptr);
    void setRows(const QList<DayRow> &rows, const QStringList &labels);
    // The moment to mark with a line, when it falls on a row's day.
    void setNow(WallSecs now);
    const QList<DayRow> &rows() const { return m_rows; }
    QRectF plotRect() const;
    QSize sizeHint() const override;

Q_SIGNALS:
    void hovered(const std::optional<PictureHit> &hit);
    void clicked(const std::optional<PictureHit> &hit);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int labelWidth() const;

    QList<DayRow> m_rows;
    QStringList m_labels;
    WallSecs m_now = 0;
    std::optional<PictureHit> m_selected;
};

class PictureWindow final : public QWidget {
    Q_OBJECT
public:
    struct Sources {
        const ScheduleBook *book = nullptr;
        std::function<QString(int)> channelName; // tab caption of a channel
        std::function<QDateTime()> now;          // the computer's clock
    };
    PictureWindow(const Sources &sources, QWidget *parent);

    // Opens the week page on `channel`, at the current week.
    void showWeekOf(int channel);
    // Opens the all-channels page at today.
    void showToday();
    // Recomputes the rows from the book, keeping what is on show.
    void refresh();

    int channel() const;
    QDate monday() const { return m_monday; }
    QDate day() const;
    DayChart *weekChart() const { return m_week; }
    DayChart *dayChart() const { return m_day; }
    QTabWidget *pages() const { return m_pages; }
    QString infoText() const;
    // What a hit names: its entries ("003 第1路, ...") or the state it lies in.
    QString describe(const PictureHit &hit) const;

private:
    void stepWeek(int weeks);
    void stepDay(int days);

    Sources m_sources;
    QDate m_monday;
    QTabWidget *m_pages = nullptr;
    QComboBox *m_channel = nullptr;
    QLabel *m_weekTitle = nullptr;
    DayChart *m_week = nullptr;
    QDateEdit *m_date = nullptr;
    QLabel *m_dayName = nullptr;
    DayChart *m_day = nullptr;
    QLabel *m_info = nullptr;
};
