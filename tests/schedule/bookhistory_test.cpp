// Undo and redo over every kind of change to the book, and the names of the steps.
#include "schedule/bookhistory.h"
#include "schedule/channelview.h"
#include "schedule/copy.h"

#include "entries.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace entries;

TEST(BookHistory, EveryChangeIsOneNamedStepThatUndoesAndRedoesToTheSameBook)
{
    ScheduleBook book = Book({Daily(true, "07:00:00"), Daily(false, "19:00:00"), Weekly(true, "1010100", "08:00:00")});
    BookHistory history;
    history.reset(book);
    const struct {
        const char *name;
        std::function<void()> change;
    } steps[] = {
        {"添加第1路第4条", [&] { book.add(std::make_shared<Clsdata>(*Fixed(true, "2027-01-02", "09:00:00"))), book.renumber(1); }},
        {"修改第1路第2条", [&] { book.channel(1)[1]->nStartMin = 30; }}, // the editor changes the entry in place
        {"修改第1路", [&] { book.channel(1)[0]->nStartHour = 1, book.channel(1)[2]->nStartHour = 2; }},
        {"删除第1路第1条", [&] { DeleteRows(book, 1, {1}); }},
        {"删除第1路2条", [&] { DeleteRows(book, 1, {1, 3}); }},
        {"复制到第3路、第16路", [&] { CopyEntries(book, PlanCopy(book, 1, {3, 16}, CopyMode::Replace)); }},
        {"删除第3路全部", [&] { DeleteChannel(book, 3); }},
        {"修改第1路、第16路", [&] { book.clear(); }},
    };
    QList<BookSnapshot> seen{Snapshot(book)};
    for (const auto &step : steps) {
        step.change();
        const QString named = QString::fromUtf8(step.name).startsWith(u"复制") ? QString::fromUtf8(step.name) : QString();
        EXPECT_TRUE(history.look(book, named)) << step.name;
        EXPECT_FALSE(history.look(book)) << "looking again is no step";
        EXPECT_EQ(history.undoName(), step.name);
        seen << Snapshot(book);
    }
    for (qsizetype i = seen.size() - 2; i >= 0; --i) {
        EXPECT_TRUE(history.undo(book));
        EXPECT_EQ(Snapshot(book), seen[i]) << "undo to " << i;
    }
    EXPECT_FALSE(history.undo(book));
    for (qsizetype i = 1; i < seen.size(); ++i) {
        EXPECT_TRUE(history.redo(book));
        EXPECT_EQ(Snapshot(book), seen[i]) << "redo to " << i;
    }
    EXPECT_EQ(std::pair(history.canRedo(), history.undoName()), std::pair(false, QString("修改第1路、第16路")));
    history.undo(book);
    history.undo(book);
    book.add(std::make_shared<Clsdata>(*Daily(true, "03:00:00")));
    history.look(book);
    EXPECT_EQ(std::pair(history.canRedo(), history.undoName()), std::pair(false, QString("添加第1路第2条")))
        << "a new change drops what could be redone";

    // Only the newest hundred steps are kept.
    history.reset(book = ScheduleBook());
    for (int i = 0; i <= BookHistory::kDepth; ++i) {
        book.add(std::make_shared<Clsdata>(*Daily(true, "07:00:00"))), book.renumber(1);
        history.look(book);
    }
    int undone = 0;
    while (history.undo(book))
        ++undone;
    EXPECT_EQ(std::pair(undone, book.size()), std::pair(BookHistory::kDepth, qsizetype(1)));
}

} // namespace
