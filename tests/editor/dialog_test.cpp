// The entry editor: adding and numbering, the mode rule, opening, confirm and cancel, typed keys.
#include "editor/dialog.h"
#include "support/printers.h"

#include <QtWidgets>

#include <gtest/gtest.h>

static void fill(ScheduleBook &book, int channel, int count, int firstNo = 1)
{
    for (int no = firstNo; no < firstNo + count; ++no)
        book.add(std::make_shared<Clsdata>(Clsdata{.nRoute = int16_t(channel), .nNo = int16_t(no)}));
}

static QString rec(const char *spaced)
{
    return QString::fromLatin1(spaced).remove(u' ');
}

// "key object number record" of every entry, in book order.
static QStringList snapshot(const ScheduleBook &book)
{
    QStringList out;
    for (const auto &[key, e] : book.items())
        out << QStringLiteral("%1 %2 %3 ").arg(key).arg(quintptr(e.get())).arg(e->nNo) + e->GetStr();
    return out;
}

// "mode days date hh:mm:ss status"; a disabled day box shows as '-', a disabled date picker as "-".
static QString state(const Dialog &d)
{
    QString days;
    for (const QCheckBox *box : d.Check1)
        days += !box->isEnabled() ? u'-' : box->isChecked() ? u'1' : u'0';
    const QString date = d.DT->isEnabled() ? d.DT->date().toString(Qt::ISODate) : QStringLiteral("-");
    return QStringLiteral("%1 %2 %3 %4:%5:%6 %7")
        .arg(QString::number(d.selectedMode()), days, date, d.Combo1->currentText(), d.Combo2->currentText(),
             d.Combo3->currentText(), d.CmbStatus->currentText());
}

static std::unique_ptr<Dialog> editor(ScheduleBook &book, int page, EntryRef entry = nullptr)
{
    auto d = std::make_unique<Dialog>(book, page);
    d->bIsnew = !entry;
    d->mydata = std::move(entry);
    d->load();
    return d;
}

TEST(EditorAdd, NumbersOnePastTheLastUpTo255ModesApplyTheirRuleAndTypedCharactersDoNotSelect)
{
    const std::tuple<const char *, int, int, int> rows[] = {
        // name, entries on the channel, first of their numbers, new entry's number (0: refused)
        {"one past the last", 4, 1, 5},
        {"254 entries become 255", 254, 1, 255},
        {"255 entries refuse a new one", 255, 1, 0},
        {"next key taken: renumbered, still added", 1, 2, 2},
    };
    for (const auto &[name, count, firstNo, number] : rows) {
        SCOPED_TRACE(name);
        ScheduleBook book;
        fill(book, 4, kMaxEntriesPerChannel); // a full neighbour must not count
        fill(book, 3, count, firstNo);
        const QStringList before = snapshot(book);
        auto d = editor(book, 3);
        QStringList messages;
        d->notify = [&messages](const QString &text) { messages << text; };
        EXPECT_EQ((std::pair{d->confirm(), d->result() == QDialog::Accepted}), std::pair(number > 0, number > 0));
        EXPECT_EQ(messages, number ? QStringList() : QStringList{QStringLiteral("最多255条")});
        if (number == 0)
            EXPECT_EQ(snapshot(book), before);
        else // daily, 00:00:00, "吸合", no date, no days, appended under its key
            EXPECT_EQ(snapshot(book).last(),
                      QStringLiteral("%1 %2 %3 ").arg(EntryKey(3, number)).arg(quintptr(d->mydata.get())).arg(number) +
                          rec("110 0000000 03 00000000 000000"));
    }

    ScheduleBook book;
    auto d = editor(book, 1);
    EXPECT_EQ(state(*d), "0 ------- - 00:00:00 吸合");
    d->DT->setDate(QDate(2100, 6, 1)); // past the picker's last day
    const std::pair<int, const char *> modes[] = {
        {kModeWeekly, "1 0000000 - 00:00:00 吸合"},
        {kModeFixedDate, "2 ------- 2099-12-31 00:00:00 吸合"},
        {kModeDaily, "0 ------- - 00:00:00 吸合"},
        {kModeWeekly, "1 0000000 - 00:00:00 吸合"}, // back to 每星期: the old ticks are gone
    };
    for (const auto &[mode, expected] : modes) {
        d->Check1[1]->setChecked(true);
        d->Option1[mode]->click();
        EXPECT_EQ(state(*d), expected);
    }
    ASSERT_TRUE(d->confirm()); // weekly with no day
    EXPECT_EQ(d->mydata->GetStr(), rec("101 0000000 01 00000000 000000"));

    QAbstractItemView *hourList = d->Combo1->view();
    const std::tuple<const char *, QWidget *, int, const char *, int> keys[] = {
        // name, receiver, key, typed text, row selected afterwards
        {"digit on the hour", d->Combo1, Qt::Key_2, "2", 0},
        {"text on the status", d->CmbStatus, Qt::Key_unknown, "断", 0},
        {"digit in the open hour list", hourList, Qt::Key_1, "1", -1},
        {"arrow still moves the hour", d->Combo1, Qt::Key_Down, "", 1},
    };
    for (const auto &[name, target, key, text, expected] : keys) {
        SCOPED_TRACE(name);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString::fromUtf8(text));
        QApplication::sendEvent(target, &press);
        auto *combo = qobject_cast<QComboBox *>(target);
        EXPECT_EQ(combo ? combo->currentIndex() : hourList->currentIndex().row(), expected);
    }
    // Text an input method commits searches the box and its list like typing does.
    for (QWidget *target : std::initializer_list<QWidget *>{d->Combo2, d->Combo3->view()}) {
        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("4"));
        QApplication::sendEvent(target, &composed);
    }
    EXPECT_EQ(std::pair(d->Combo2->currentIndex(), d->Combo3->view()->currentIndex().row()), std::pair(0, -1));
}

TEST(EditorEdit, OpensTheEntryCancelKeepsItConfirmWritesWhatItShows)
{
    // name, stored record, what the editor shows, record after confirm ("": as stored), what it says it changed
    const std::tuple<const char *, const char *, const char *, const char *, const char *> rows[] = {
        {"both flags: daily", "011 1111111 01 00000000 070605", "0 ------- - 07:06:05 断开",
         "010 1111111 01 00000000 070605", "方式 每天+每星期 无法显示，已改为 每天"},
        {"weekly ticks its days", "001 0101011 01 00000000 230059", "1 0101011 - 23:00:59 断开", "", ""},
        {"weekly mask with a stray character", "001 01x1011 01 00000000 230059", "1 0101011 - 23:00:59 断开",
         "001 0101011 01 00000000 230059", "星期 01x1011 无法显示，已改为 0101011"},
        {"fixed date in the first year shown", "100 0000000 01 20010615 120000", "2 ------- 2001-06-15 12:00:00 吸合",
         "", ""},
        {"year 2000", "100 0000000 01 20000615 000000", "2 ------- 2001-01-01 00:00:00 吸合",
         "100 0000000 01 20010101 000000", "日期 2000-06-15 无法显示，已改为 2001-01-01"},
        {"month 0 in the last year shown", "100 0000000 01 20990015 000000", "2 ------- 2099-01-15 00:00:00 吸合",
         "100 0000000 01 20990115 000000", "日期 2099-00-15 无法显示，已改为 2099-01-15"},
        {"February 30 of a leap year and time 99:60:99", "100 0000000 01 20240230 996099",
         "2 ------- 2024-02-29 23:59:59 吸合", "100 0000000 01 20240229 235959",
         "日期 2024-02-30 无法显示，已改为 2024-02-29\n时间 99:60:99 无法显示，已改为 23:59:59"},
        {"daily with a date it does not use", "110 0000000 01 20000015 000000", "0 ------- - 00:00:00 吸合", "", ""},
    };
    for (const auto &[name, record, shown, written, changed] : rows) {
        SCOPED_TRACE(name);
        ScheduleBook book;
        fill(book, 1, kMaxEntriesPerChannel); // full: editing is never refused
        const EntryRef entry = book.items().at(1).entry;
        *entry = *StrToData(rec(record));
        entry->nNo = 2;
        const Clsdata stored = *entry;
        QStringList expected = snapshot(book);
        auto cancelled = editor(book, 1, entry);
        EXPECT_EQ(state(*cancelled), shown);
        EXPECT_EQ(std::pair(cancelled->LabChanged->text(), cancelled->LabChanged->isVisibleTo(cancelled.get())),
                  std::pair(QString::fromUtf8(changed), *changed != 0));
        cancelled->Option1[(cancelled->selectedMode() + 1) % kModeCount]->click();
        for (QCheckBox *box : cancelled->Check1)
            box->setChecked(true);
        cancelled->DT->setDate(QDate(2050, 1, 1));
        for (QComboBox *combo : {cancelled->CmbStatus, cancelled->Combo1, cancelled->Combo2, cancelled->Combo3})
            combo->setCurrentIndex(combo->currentIndex() ^ 1);
        cancelled->CancelButton->click();
        EXPECT_EQ(*entry, stored);
        auto confirmed = editor(book, 1, entry);
        confirmed->OKButton->click();
        // Same object, key and number; weekly days stay behind under another mode.
        expected[1] = QStringLiteral("key01002 %1 2 ").arg(quintptr(entry.get())) + rec(*written ? written : record);
        EXPECT_EQ(std::pair(snapshot(book), confirmed->result()), std::pair(expected, int(QDialog::Accepted)));
    }
}

TEST(EditorAccess, ControlsAreNamedReadableAndInLayoutOrder)
{
    ScheduleBook book;
    auto d = editor(book, 1);
    const QStringList order{"CmbStatus", "Option1_0", "Option1_1", "Check1_0", "Check1_1",    "Check1_2",
                            "Check1_3",  "Check1_4",  "Check1_5",  "Check1_6", "Option1_2",   "DT",
                            "Combo1",    "Combo2",    "Combo3",    "OKButton", "CancelButton"};
    QStringList focusOrder, spoken;
    for (QWidget *c = d->CmbStatus; focusOrder.size() < order.size(); c = c->nextInFocusChain())
        if (c->focusPolicy() & Qt::TabFocus && !c->objectName().startsWith("qt_")) // not the picker's own field
            focusOrder << c->objectName();
    EXPECT_EQ(focusOrder, order);
    for (const QString &name : order + QStringList{"Label4", "Label5", "Label6"})
        if (const QWidget *c = d->findChild<QWidget *>(name); c) // on Linux a list reads its label through the buddy
            spoken << (c->accessibleName().isEmpty()
                           ? QAccessible::queryAccessibleInterface(const_cast<QWidget *>(c))->text(QAccessible::Name)
                           : c->accessibleName());
    EXPECT_EQ(spoken.join(u' '),
              "动作 每天 每星期 星期一 星期二 星期三 星期四 星期五 星期六 星期日 固定日期 固定日期 时 分 "
              "秒 确定 取消 时 分 秒");
}
