// The entry editor: the one place where an operator composes or changes a schedule entry.
// The caller sets bIsnew/mydata, calls load(), then exec(); tests call confirm() instead of exec().
#pragma once

#include "schedule/schedulebook.h"

#include <QDate>
#include <QDialog>
#include <QString>

#include <array>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QRadioButton;

inline constexpr int kModeDaily = 0;
inline constexpr int kModeWeekly = 1;
inline constexpr int kModeFixedDate = 2;
inline constexpr int kModeCount = 3;
inline constexpr int kWeekDays = 7;

// CmbStatus rows: "吸合" (relay closed, bIsOpen true) and "断开".
inline constexpr int kStatusOn = 0;
inline constexpr int kStatusOff = 1;

inline constexpr int kFirstEditableYear = 2001;
inline constexpr int kLastEditableYear = 2099;

// The date the picker shows for a stored date. A year before 2001 gives 2001-01-01 and a year after 2099 gives
// 2099-12-31 (the nearest dates the picker accepts); inside those years month is clamped to 1..12 and then the
// day to 1..the last day of that month (month 0 -> January, Feb 30 -> Feb 28/29).
QDate NearestEditableDate(int year, int month, int day);

class Dialog : public QDialog {
    Q_OBJECT

public:
    Dialog(ScheduleBook &book, int nPage, QWidget *parent = nullptr);

    bool bIsnew = true; // true: add a new entry; false: edit `mydata`
    EntryRef mydata;    // the entry being edited: the book's own object, changed in place on confirm
    // Shows a message to the operator. Defaults to a box titled "提示"; the window or a test may replace it.
    std::function<void(const QString &)> notify;

    // Fills the controls from bIsnew/mydata. Call once, after setting those and before exec().
    void load();
    // The "确定" logic. true: entry written, dialog accepted; false: refused, the dialog stays open.
    // Editing without an entry to edit is refused without a message.
    bool confirm();

    // Selects a mode option and applies its rule to the day boxes and the date picker.
    void selectMode(int mode);
    // The selected mode option, or -1 when none is.
    int selectedMode() const;

    QComboBox *CmbStatus = nullptr;
    std::array<QRadioButton *, kModeCount> Option1{};
    std::array<QCheckBox *, kWeekDays> Check1{}; // Monday .. Sunday
    QDateEdit *DT = nullptr;
    QComboBox *Combo1 = nullptr; // hour
    QComboBox *Combo2 = nullptr; // minute
    QComboBox *Combo3 = nullptr; // second
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    // What the editor shows differently from the stored entry (and so writes on "确定"), one
    // field a line; hidden when it shows the entry as stored.
    QLabel *LabChanged = nullptr;
    QPushButton *OKButton = nullptr;
    QPushButton *CancelButton = nullptr;

private:
    void buildControls();
    void setAccessibility();
    void applyMode(int mode);
    void showTime(int hour, int minute, int second);

    ScheduleBook &m_book;
    int m_page = 0;
    QButtonGroup *m_modes = nullptr;
};
