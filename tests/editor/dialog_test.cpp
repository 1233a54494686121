// Tests of the entry editor: opening from an entry, the mode rule, confirm and cancel, typed keys.
#include "editor/dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

EntryRef addEntry(ScheduleBook &book, int channel, int number)
{
    auto e = std::make_shared<Clsdata>();
    e->nRoute = int16_t(channel);
    e->nNo = int16_t(number);
    e->bIsEveryDay = true;
    e->nStartHour = 6;
    EXPECT_TRUE(book.add(EntryKey(channel, number), e));
    return e;
}

void fillChannel(ScheduleBook &book, int channel, int count)
{
    for (int i = 1; i <= count; ++i)
        addEntry(book, channel, i);
}

// Keys, identities and record strings of the whole book, in order.
QStringList snapshot(const ScheduleBook &book)
{
    QStringList out;
    for (const ScheduleBook::Item &item : book.items())
        out << QStringLiteral("%1 %2 %3").arg(item.key).arg(quintptr(item.entry.get())).arg(item.entry->GetStr());
    return out;
}

struct Recorder {
    QStringList messages;
    void attach(Dialog &d)
    {
        d.notify = [this](const QString &text) { messages << text; };
    }
};

QString checkedDays(const Dialog &d)
{
    QString s;
    for (const QCheckBox *box : d.Check1)
        s += box->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

QString record(const QString &flags, const QString &week, int channel, const QString &date, const QString &time)
{
    return flags + week + QStringLiteral("%1").arg(channel, 2, 10, QLatin1Char('0')) + date + time;
}

void sendKey(QObject *target, Qt::Key key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

} // namespace

TEST(EditorAdd, NumbersNewEntryAndKeepsTheLimit)
{
    struct Row {
        const char *name;
        int channel;
        int onChannel;
        int onOtherChannel;
        bool accepted;
        int number;
    };
    const Row rows[] = {
        {"first entry of an empty channel", 3, 0, 0, true, 1},
        {"one past the last", 3, 4, 0, true, 5},
        {"254 entries become 255", 3, 254, 0, true, 255},
        {"255 entries refuse a new one", 3, 255, 0, false, 0},
        {"a full other channel does not count", 3, 1, 255, true, 2},
        {"channel 16", 16, 2, 0, true, 3},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScheduleBook book;
        fillChannel(book, row.channel == 4 ? 5 : 4, row.onOtherChannel);
        fillChannel(book, row.channel, row.onChannel);
        const QStringList before = snapshot(book);

        Dialog d(book, row.channel);
        Recorder rec;
        rec.attach(d);
        d.load();
        EXPECT_EQ(d.confirm(), row.accepted);

        if (!row.accepted) {
            EXPECT_EQ(rec.messages, QStringList{QStringLiteral("最多255条")});
            EXPECT_EQ(snapshot(book), before);
            EXPECT_NE(d.result(), QDialog::Accepted);
            continue;
        }
        EXPECT_TRUE(rec.messages.isEmpty());
        EXPECT_EQ(d.result(), QDialog::Accepted);
        ASSERT_EQ(book.size(), before.size() + 1);
        const ScheduleBook::Item &last = book.items().last();
        EXPECT_EQ(last.entry, d.mydata);
        EXPECT_EQ(last.key, EntryKey(row.channel, row.number));
        EXPECT_EQ(d.mydata->nNo, row.number);
        // Daily, 00:00:00, "吸合", with no date and no weekdays.
        EXPECT_EQ(d.mydata->GetStr(), record(QStringLiteral("110"), QStringLiteral("0000000"), row.channel,
                                             QStringLiteral("00000000"), QStringLiteral("000000")));
    }
}

TEST(EditorAdd, RenumbersWhenTheNextKeyIsTaken)
{
    // One entry on channel 2, numbered and keyed 2: the next number's key is taken.
    ScheduleBook book;
    const EntryRef old = addEntry(book, 2, 2);

    Dialog d(book, 2);
    d.load();
    ASSERT_TRUE(d.confirm());
    EXPECT_EQ(book.size(), 2);
    EXPECT_EQ(book.find(EntryKey(2, 1)), old);
    EXPECT_EQ(book.find(EntryKey(2, 2)), d.mydata);
    EXPECT_EQ(book.items().last().entry, d.mydata);
}

TEST(EditorAdd, WritesTheSelectedModeOnly)
{
    struct Row {
        const char *name;
        std::function<void(Dialog &)> fill;
        QString flags, week, date, time;
    };
    const Row rows[] = {
        {"weekly with no day", [](Dialog &d) { d.Option1[kModeWeekly]->click(); }, "101", "0000000", "00000000",
         "000000"},
        {"weekly Monday and Sunday, 断开, 23:59:59",
         [](Dialog &d) {
             d.Option1[kModeWeekly]->click();
             d.Check1[0]->setChecked(true);
             d.Check1[6]->setChecked(true);
             d.CmbStatus->setCurrentIndex(kStatusOff);
             d.Combo1->setCurrentIndex(23);
             d.Combo2->setCurrentIndex(59);
             d.Combo3->setCurrentIndex(59);
         },
         "001", "1000001", "00000000", "235959"},
        {"fixed date",
         [](Dialog &d) {
             d.Option1[kModeFixedDate]->click();
             d.DT->setDate(QDate(2024, 2, 29));
             d.Combo1->setCurrentIndex(12);
             d.Combo2->setCurrentIndex(34);
             d.Combo3->setCurrentIndex(56);
         },
         "100", "0000000", "20240229", "123456"},
        {"days ticked, then daily",
         [](Dialog &d) {
             d.Option1[kModeWeekly]->click();
             d.Check1[2]->setChecked(true);
             d.Option1[kModeDaily]->click();
         },
         "110", "0000000", "00000000", "000000"},
        {"date picked, then weekly",
         [](Dialog &d) {
             d.Option1[kModeFixedDate]->click();
             d.DT->setDate(QDate(2030, 6, 1));
             d.Option1[kModeWeekly]->click();
             d.Check1[4]->setChecked(true);
         },
         "101", "0000100", "00000000", "000000"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScheduleBook book;
        Dialog d(book, 7);
        d.load();
        row.fill(d);
        ASSERT_TRUE(d.confirm());
        EXPECT_EQ(d.mydata->GetStr(), record(row.flags, row.week, 7, row.date, row.time));
        EXPECT_EQ(d.mydata->nNo, 1);
    }
}

TEST(EditorModes, SelectionAppliesTheRuleAndClearsDays)
{
    ScheduleBook book;
    Dialog d(book, 1);
    d.load();

    // Add mode opens daily with nothing to tick or pick.
    EXPECT_TRUE(d.Option1[kModeDaily]->isChecked());
    EXPECT_EQ(d.DT->date(), std::clamp(QDate::currentDate(), QDate(2001, 1, 1), QDate(2099, 12, 31)));
    EXPECT_EQ(d.DT->minimumDate(), QDate(2001, 1, 1));
    EXPECT_EQ(d.DT->maximumDate(), QDate(2099, 12, 31));
    EXPECT_EQ(d.Combo1->count(), 24);
    EXPECT_EQ(d.Combo2->itemText(59), QStringLiteral("59"));
    EXPECT_EQ(d.Combo3->itemText(7), QStringLiteral("07"));

    struct Row {
        const char *name;
        int mode;
        bool daysEnabled;
        bool dateEnabled;
    };
    const Row rows[] = {
        {"每星期", kModeWeekly, true, false},
        {"固定日期", kModeFixedDate, false, true},
        {"每天", kModeDaily, false, false},
        {"每星期 again", kModeWeekly, true, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        d.Check1[1]->setChecked(true); // ticks left from the previous mode must go
        d.Option1[row.mode]->click();
        EXPECT_EQ(d.selectedMode(), row.mode);
        EXPECT_EQ(checkedDays(d), QStringLiteral("0000000"));
        for (const QCheckBox *box : d.Check1)
            EXPECT_EQ(box->isEnabled(), row.daysEnabled);
        EXPECT_EQ(d.DT->isEnabled(), row.dateEnabled);
        for (const QComboBox *combo : {d.CmbStatus, d.Combo1, d.Combo2, d.Combo3})
            EXPECT_TRUE(combo->isEnabled());
    }

    // Ticked days, away and back to 每星期: the days start empty.
    d.Check1[0]->setChecked(true);
    d.Check1[5]->setChecked(true);
    d.Option1[kModeFixedDate]->click();
    d.Option1[kModeWeekly]->click();
    EXPECT_EQ(checkedDays(d), QStringLiteral("0000000"));
}

TEST(EditorEdit, OpensTheEntry)
{
    struct Row {
        const char *name;
        Clsdata entry;
        int mode;
        QString days;
        QDate date; // null: today
        int hour, minute, second;
        int status;
    };
    const auto make = [](bool open, bool daily, bool weekly, const char *week, int y, int mo, int dd, int h, int mi,
                         int s) {
        Clsdata c;
        c.nRoute = 1;
        c.nNo = 1;
        c.bIsOpen = open;
        c.bIsEveryDay = daily;
        c.bIsWeek = weekly;
        c.strWeek = QString::fromLatin1(week);
        c.nStartYear = int16_t(y);
        c.nStartMonth = int16_t(mo);
        c.nStartDay = int16_t(dd);
        c.nStartHour = int16_t(h);
        c.nStartMin = int16_t(mi);
        c.nStartSecond = int16_t(s);
        return c;
    };
    const Row rows[] = {
        {"daily 吸合",
         make(true, true, false, "0000000", 0, 0, 0, 8, 30, 5),
         kModeDaily,
         "0000000",
         {},
         8,
         30,
         5,
         kStatusOn},
        {"both flags opens daily",
         make(false, true, true, "1111111", 0, 0, 0, 7, 6, 5),
         kModeDaily,
         "0000000",
         {},
         7,
         6,
         5,
         kStatusOff},
        {"weekly ticks its days",
         make(false, false, true, "0101011", 0, 0, 0, 23, 0, 59),
         kModeWeekly,
         "0101011",
         {},
         23,
         0,
         59,
         kStatusOff},
        {"weekly with a short mask",
         make(true, false, true, "11", 0, 0, 0, 1, 2, 3),
         kModeWeekly,
         "1100000",
         {},
         1,
         2,
         3,
         kStatusOn},
        {"fixed date", make(true, false, false, "0000000", 2024, 2, 29, 12, 0, 0), kModeFixedDate, "0000000",
         QDate(2024, 2, 29), 12, 0, 0, kStatusOn},
        {"year 2000", make(true, false, false, "0000000", 2000, 6, 15, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2001, 1, 1), 0, 0, 0, kStatusOn},
        {"year 2100", make(true, false, false, "0000000", 2100, 1, 1, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2099, 12, 31), 0, 0, 0, kStatusOn},
        {"month 0", make(true, false, false, "0000000", 2030, 0, 15, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2030, 1, 15), 0, 0, 0, kStatusOn},
        {"month 13", make(true, false, false, "0000000", 2030, 13, 15, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2030, 12, 15), 0, 0, 0, kStatusOn},
        {"February 30", make(true, false, false, "0000000", 2023, 2, 30, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2023, 2, 28), 0, 0, 0, kStatusOn},
        {"day 0", make(true, false, false, "0000000", 2030, 5, 0, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2030, 5, 1), 0, 0, 0, kStatusOn},
        {"all zero date", make(true, false, false, "0000000", 0, 0, 0, 0, 0, 0), kModeFixedDate, "0000000",
         QDate(2001, 1, 1), 0, 0, 0, kStatusOn},
        {"time beyond the lists",
         make(true, true, false, "0000000", 0, 0, 0, 99, -1, 60),
         kModeDaily,
         "0000000",
         {},
         23,
         0,
         59,
         kStatusOn},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScheduleBook book;
        Dialog d(book, 1);
        d.bIsnew = false;
        d.mydata = std::make_shared<Clsdata>(row.entry);
        const QDate before = QDate::currentDate();
        d.load();
        const QDate after = QDate::currentDate();

        EXPECT_EQ(d.selectedMode(), row.mode);
        EXPECT_EQ(checkedDays(d), row.days);
        for (const QCheckBox *box : d.Check1)
            EXPECT_EQ(box->isEnabled(), row.mode == kModeWeekly);
        EXPECT_EQ(d.DT->isEnabled(), row.mode == kModeFixedDate);
        if (row.date.isValid())
            EXPECT_EQ(d.DT->date(), row.date);
        else
            EXPECT_TRUE(d.DT->date() == before || d.DT->date() == after);
        EXPECT_EQ(d.Combo1->currentIndex(), row.hour);
        EXPECT_EQ(d.Combo2->currentIndex(), row.minute);
        EXPECT_EQ(d.Combo3->currentIndex(), row.second);
        EXPECT_EQ(d.CmbStatus->currentIndex(), row.status);
        // Nothing is written by opening.
        EXPECT_EQ(*d.mydata, row.entry);
    }
}

TEST(EditorEdit, ChangesTheEntryInPlace)
{
    // A full channel: editing is never refused.
    ScheduleBook book;
    fillChannel(book, 2, kMaxEntriesPerChannel);
    const EntryRef target = book.find(EntryKey(2, 2));
    target->bIsEveryDay = false;
    target->bIsWeek = true;
    target->strWeek = QStringLiteral("1010100");
    target->nStartHour = 10;
    const QStringList before = snapshot(book);

    Dialog d(book, 2);
    Recorder rec;
    rec.attach(d);
    d.bIsnew = false;
    d.mydata = target;
    d.load();
    d.Option1[kModeDaily]->click();
    d.Combo1->setCurrentIndex(5);
    d.OKButton->click();

    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(rec.messages.isEmpty());
    EXPECT_EQ(d.mydata, target);
    EXPECT_EQ(book.size(), kMaxEntriesPerChannel);
    EXPECT_EQ(book.items().at(1).key, EntryKey(2, 2));
    EXPECT_EQ(book.items().at(1).entry, target);
    EXPECT_EQ(target->nNo, 2);
    EXPECT_TRUE(target->bIsEveryDay);
    EXPECT_FALSE(target->bIsWeek);
    EXPECT_EQ(target->strWeek, QStringLiteral("1010100")); // the weekly days stay behind
    EXPECT_EQ(target->nStartHour, 5);
    // Every other entry is untouched.
    QStringList after = snapshot(book);
    after.removeAt(1);
    QStringList expected = before;
    expected.removeAt(1);
    EXPECT_EQ(after, expected);
}

TEST(EditorEdit, BothFlagsConfirmAsValidDaily)
{
    ScheduleBook book;
    fillChannel(book, 4, 1);
    const EntryRef target = book.find(EntryKey(4, 1));
    target->bIsWeek = true;
    target->strWeek = QStringLiteral("0110000");
    target->nStartHour = 21;
    target->nStartMin = 15;

    Dialog d(book, 4);
    d.bIsnew = false;
    d.mydata = target;
    d.load();
    ASSERT_TRUE(d.confirm());
    EXPECT_TRUE(target->bIsEveryDay);
    EXPECT_FALSE(target->bIsWeek);
    EXPECT_EQ(target->nStartHour, 21);
    EXPECT_EQ(target->nStartMin, 15);
    EXPECT_TRUE(target->isWithinRanges());
}

TEST(EditorCancel, LeavesTheEntryAsItWas)
{
    ScheduleBook book;
    fillChannel(book, 9, 3);
    const EntryRef target = book.find(EntryKey(9, 3));
    target->bIsEveryDay = false;
    target->nStartYear = 2025;
    target->nStartMonth = 7;
    target->nStartDay = 4;
    target->bIsOpen = true;
    const Clsdata saved = *target;
    const QStringList before = snapshot(book);

    Dialog d(book, 9);
    d.bIsnew = false;
    d.mydata = target;
    d.load();
    d.Option1[kModeWeekly]->click();
    for (QCheckBox *box : d.Check1)
        box->setChecked(true);
    d.Combo1->setCurrentIndex(1);
    d.Combo2->setCurrentIndex(2);
    d.Combo3->setCurrentIndex(3);
    d.CmbStatus->setCurrentIndex(kStatusOff);
    d.DT->setDate(QDate(2050, 1, 1));
    d.CancelButton->click();

    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(*target, saved);
    EXPECT_EQ(snapshot(book), before);
}

TEST(EditorKeys, TypedCharactersDoNotSelect)
{
    ScheduleBook book;
    Dialog d(book, 1);
    d.load();

    struct Row {
        const char *name;
        std::function<QObject *()> target;
        std::function<int()> current;
        Qt::Key key;
        QString text;
        int expected;
    };
    const auto comboIndex = [](QComboBox *c) { return [c] { return c->currentIndex(); }; };
    const auto comboTarget = [](QComboBox *c) { return [c]() -> QObject * { return c; }; };
    const Row rows[] = {
        {"hour digit", comboTarget(d.Combo1), comboIndex(d.Combo1), Qt::Key_2, "2", 0},
        {"minute digit", comboTarget(d.Combo2), comboIndex(d.Combo2), Qt::Key_5, "5", 0},
        {"second digit", comboTarget(d.Combo3), comboIndex(d.Combo3), Qt::Key_3, "3", 0},
        {"status text", comboTarget(d.CmbStatus), comboIndex(d.CmbStatus), Qt::Key_unknown, QStringLiteral("断"), 0},
        {"hour digit in the open list", [&d]() -> QObject * { return d.Combo1->view(); },
         [&d] { return d.Combo1->view()->currentIndex().row(); }, Qt::Key_1, "1", 0},
        {"arrow still moves", comboTarget(d.Combo1), comboIndex(d.Combo1), Qt::Key_Down, QString(), 1},
        {"arrow on status", comboTarget(d.CmbStatus), comboIndex(d.CmbStatus), Qt::Key_Down, QString(), 1},
    };
    d.Combo1->view()->setCurrentIndex(d.Combo1->model()->index(0, 0));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sendKey(row.target(), row.key, row.text);
        EXPECT_EQ(row.current(), row.expected);
    }
}
