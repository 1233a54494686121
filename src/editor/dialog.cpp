// The entry editor: builds its controls, fills them from an entry and writes them back on "确定".
#include "editor/dialog.h"

#include "editor/picklist.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

constexpr int kHours = 24;
constexpr int kMinutes = 60;
constexpr int kSeconds = 60;

const QDate kFirstDate(kFirstEditableYear, 1, 1);
const QDate kLastDate(kLastEditableYear, 12, 31);

void fillTwoDigits(QComboBox *combo, int count)
{
    combo->clear();
    for (int i = 0; i < count; ++i)
        combo->addItem(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
}

// Out-of-list values select the nearest row rather than leaving the list blank.
void selectClamped(QComboBox *combo, int value)
{
    if (combo->count() > 0)
        combo->setCurrentIndex(std::clamp(value, 0, combo->count() - 1));
}

QDate today()
{
    return std::clamp(QDate::currentDate(), kFirstDate, kLastDate);
}

} // namespace

QDate NearestEditableDate(int year, int month, int day)
{
    if (year < kFirstEditableYear)
        return kFirstDate;
    if (year > kLastEditableYear)
        return kLastDate;
    const int m = std::clamp(month, 1, 12);
    const int d = std::clamp(day, 1, QDate(year, m, 1).daysInMonth());
    return QDate(year, m, d);
}

Dialog::Dialog(ScheduleBook &book, int nPage, QWidget *parent) : QDialog(parent), m_book(book), m_page(nPage)
{
    notify = [this](const QString &text) { QMessageBox::information(this, QStringLiteral("提示"), text); };
    buildControls();
    setAccessibility();
}

void Dialog::buildControls()
{
    setWindowTitle(QStringLiteral("添加动作"));

    CmbStatus = new QComboBox(this);
    CmbStatus->addItems({QStringLiteral("吸合"), QStringLiteral("断开")});

    m_modes = new QButtonGroup(this);
    m_modes->setExclusive(true);
    const std::array<QString, kModeCount> modeTexts{QStringLiteral("每天"), QStringLiteral("每星期"),
                                                    QStringLiteral("固定日期")};
    for (int i = 0; i < kModeCount; ++i) {
        Option1[i] = new QRadioButton(modeTexts[i], this);
        m_modes->addButton(Option1[i], i);
        // A user click and selectMode() both land here; toggling off is the other option's business.
        connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                applyMode(i);
        });
    }

    const std::array<QString, kWeekDays> dayTexts{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                                  QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                                  QStringLiteral("日")};
    for (int i = 0; i < kWeekDays; ++i)
        Check1[i] = new QCheckBox(dayTexts[i], this);

    DT = new QDateEdit(this);
    DT->setCalendarPopup(true);
    DT->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    DT->setDateRange(kFirstDate, kLastDate);

    Combo1 = new QComboBox(this);
    Combo2 = new QComboBox(this);
    Combo3 = new QComboBox(this);
    Label4 = new QLabel(QStringLiteral("时"), this);
    Label5 = new QLabel(QStringLiteral("分"), this);
    Label6 = new QLabel(QStringLiteral("秒"), this);

    for (QComboBox *combo : {CmbStatus, Combo1, Combo2, Combo3}) {
        combo->setEditable(false);
        MakePickOnly(combo);
    }

    OKButton = new QPushButton(QStringLiteral("确定"), this);
    CancelButton = new QPushButton(QStringLiteral("取消"), this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { confirm(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *actionRow = new QHBoxLayout;
    actionRow->addWidget(CmbStatus);
    actionRow->addStretch();

    auto *modeFrame = new QFrame(this);
    modeFrame->setFrameShape(QFrame::StyledPanel);
    auto *modeGrid = new QGridLayout(modeFrame);
    modeGrid->addWidget(Option1[kModeDaily], 0, 0);
    modeGrid->addWidget(Option1[kModeWeekly], 1, 0);
    auto *days = new QHBoxLayout;
    for (QCheckBox *box : Check1)
        days->addWidget(box);
    days->addStretch();
    modeGrid->addLayout(days, 1, 1);
    modeGrid->addWidget(Option1[kModeFixedDate], 2, 0);
    auto *dateRow = new QHBoxLayout;
    dateRow->addWidget(DT);
    dateRow->addStretch();
    modeGrid->addLayout(dateRow, 2, 1);
    modeGrid->setColumnStretch(1, 1);

    auto *timeRow = new QHBoxLayout;
    timeRow->addWidget(Combo1);
    timeRow->addWidget(Label4);
    timeRow->addWidget(Combo2);
    timeRow->addWidget(Label5);
    timeRow->addWidget(Combo3);
    timeRow->addWidget(Label6);
    timeRow->addStretch();

    LabChanged = new QLabel(this);
    LabChanged->setWordWrap(true);
    LabChanged->setStyleSheet(QStringLiteral("color: #b00000;"));
    LabChanged->hide();

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(OKButton);
    buttonRow->addWidget(CancelButton);

    auto *top = new QVBoxLayout(this);
    top->addLayout(actionRow);
    top->addWidget(modeFrame);
    top->addLayout(timeRow);
    top->addWidget(LabChanged);
    top->addLayout(buttonRow);
}

// Object names as the program calls its controls, accessible names for screen readers
// (a control without a caption of its own takes its label's), and tab order along the layout.
void Dialog::setAccessibility()
{
    setObjectName(QStringLiteral("Dialog"));
    const std::pair<QWidget *, const char *> named[] = {
        {CmbStatus, "CmbStatus"}, {DT, "DT"},
        {Combo1, "Combo1"},       {Combo2, "Combo2"},
        {Combo3, "Combo3"},       {Label4, "Label4"},
        {Label5, "Label5"},       {Label6, "Label6"},
        {OKButton, "OKButton"},   {CancelButton, "CancelButton"},
    };
    for (const auto &[widget, name] : named)
        widget->setObjectName(QLatin1String(name));
    for (int i = 0; i < kModeCount; ++i)
        Option1[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
    // The day boxes read "1".."日"; a reader says the whole day.
    const std::array<QString, kWeekDays> days{
        QStringLiteral("星期一"), QStringLiteral("星期二"), QStringLiteral("星期三"), QStringLiteral("星期四"),
        QStringLiteral("星期五"), QStringLiteral("星期六"), QStringLiteral("星期日")};
    for (int i = 0; i < kWeekDays; ++i) {
        Check1[i]->setObjectName(QStringLiteral("Check1_%1").arg(i));
        Check1[i]->setAccessibleName(days[i]);
    }
    CmbStatus->setAccessibleName(QStringLiteral("动作"));
    DT->setAccessibleName(Option1[kModeFixedDate]->text());
    const std::pair<QComboBox *, QLabel *> timeLists[] = {{Combo1, Label4}, {Combo2, Label5}, {Combo3, Label6}};
    for (const auto &[combo, label] : timeLists) {
        label->setBuddy(combo);
        combo->setAccessibleName(label->text());
    }

    QList<QWidget *> order = {CmbStatus, Option1[kModeDaily], Option1[kModeWeekly]};
    order.append(QList<QWidget *>(Check1.begin(), Check1.end()));
    order << Option1[kModeFixedDate] << DT << Combo1 << Combo2 << Combo3 << OKButton << CancelButton;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Dialog::applyMode(int mode)
{
    for (QCheckBox *box : Check1) {
        box->setChecked(false);
        box->setEnabled(mode == kModeWeekly);
    }
    DT->setEnabled(mode == kModeFixedDate);
    for (QComboBox *combo : {CmbStatus, Combo1, Combo2, Combo3})
        combo->setEnabled(true);
}

void Dialog::selectMode(int mode)
{
    if (mode < 0 || mode >= kModeCount)
        return;
    Option1[mode]->setChecked(true);
    // Already selected: no toggled signal, but opening still wants the rule applied.
    applyMode(mode);
}

int Dialog::selectedMode() const
{
    return m_modes->checkedId();
}

void Dialog::showTime(int hour, int minute, int second)
{
    selectClamped(Combo1, hour);
    selectClamped(Combo2, minute);
    selectClamped(Combo3, second);
}

void Dialog::load()
{
    fillTwoDigits(Combo1, kHours);
    fillTwoDigits(Combo2, kMinutes);
    fillTwoDigits(Combo3, kSeconds);
    DT->setDate(today());

    if (bIsnew || !mydata) {
        selectMode(kModeDaily);
        showTime(0, 0, 0);
        CmbStatus->setCurrentIndex(kStatusOn);
        return;
    }

    const Clsdata &d = *mydata;
    // A stored value the controls cannot hold is shown as the nearest one they can; the
    // operator is told, since "确定" writes what is shown.
    QStringList changed;
    const auto note = [&changed](const QString &field, const QString &stored, const QString &shown) {
        changed << QStringLiteral("%1 %2 无法显示，已改为 %3").arg(field, stored, shown);
    };
    // Daily wins when both flags are set, so confirming writes a consistent entry.
    if (d.bIsEveryDay) {
        selectMode(kModeDaily);
        if (d.bIsWeek)
            note(QStringLiteral("方式"), QStringLiteral("每天+每星期"), QStringLiteral("每天"));
    } else if (d.bIsWeek) {
        selectMode(kModeWeekly);
        QString shown;
        for (int i = 0; i < kWeekDays; ++i) {
            Check1[i]->setChecked(i < d.strWeek.size() && d.strWeek[i] == QLatin1Char('1'));
            shown += Check1[i]->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
        }
        if (shown != d.strWeek)
            note(QStringLiteral("星期"), d.strWeek, shown);
    } else {
        selectMode(kModeFixedDate);
        DT->setDate(NearestEditableDate(d.nStartYear, d.nStartMonth, d.nStartDay));
        if (DT->date() != QDate(d.nStartYear, d.nStartMonth, d.nStartDay))
            note(QStringLiteral("日期"), QString::asprintf("%04d-%02d-%02d", d.nStartYear, d.nStartMonth, d.nStartDay),
                 DT->date().toString(QStringLiteral("yyyy-MM-dd")));
    }
    showTime(d.nStartHour, d.nStartMin, d.nStartSecond);
    if (Combo1->currentIndex() != d.nStartHour || Combo2->currentIndex() != d.nStartMin ||
        Combo3->currentIndex() != d.nStartSecond)
        note(QStringLiteral("时间"), QString::asprintf("%02d:%02d:%02d", d.nStartHour, d.nStartMin, d.nStartSecond),
             QStringLiteral("%1:%2:%3").arg(Combo1->currentText(), Combo2->currentText(), Combo3->currentText()));
    CmbStatus->setCurrentIndex(d.bIsOpen ? kStatusOn : kStatusOff);
    LabChanged->setText(changed.join(QLatin1Char('\n')));
    LabChanged->setVisible(!changed.isEmpty());
}

bool Dialog::confirm()
{
    if (!bIsnew && !mydata)
        return false;

    const int n = GetCount(m_book, m_page);
    if (bIsnew && n >= kMaxEntriesPerChannel) {
        if (notify)
            notify(QStringLiteral("最多255条"));
        return false;
    }
    if (bIsnew)
        mydata = std::make_shared<Clsdata>();

    Clsdata &d = *mydata;
    d.nStartHour = int16_t(Combo1->currentIndex());
    d.nStartMin = int16_t(Combo2->currentIndex());
    d.nStartSecond = int16_t(Combo3->currentIndex());
    d.nRoute = int16_t(m_page);
    d.bIsOpen = CmbStatus->currentIndex() == kStatusOn;
    // Only the selected mode's fields change; the others keep what they held.
    switch (selectedMode()) {
    case kModeDaily:
        d.bIsEveryDay = true;
        d.bIsWeek = false;
        break;
    case kModeWeekly: {
        d.bIsEveryDay = false;
        d.bIsWeek = true;
        QString week;
        for (const QCheckBox *box : Check1)
            week += box->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
        d.strWeek = week;
        break;
    }
    case kModeFixedDate: {
        d.bIsEveryDay = false;
        d.bIsWeek = false;
        const QDate date = DT->date();
        d.nStartYear = int16_t(date.year());
        d.nStartMonth = int16_t(date.month());
        d.nStartDay = int16_t(date.day());
        break;
    }
    default:
        break;
    }

    if (bIsnew) {
        d.nNo = int16_t(n + 1);
        if (!m_book.add(EntryKey(d.nRoute, d.nNo), mydata)) {
            // Keys out of step with numbers: renumber the channel so the next number's key is free.
            m_book.renumber(m_page);
            d.nNo = int16_t(GetCount(m_book, m_page) + 1);
            if (!m_book.add(EntryKey(d.nRoute, d.nNo), mydata))
                return false;
        }
    }

    accept();
    return true;
}
