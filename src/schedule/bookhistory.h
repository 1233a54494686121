// Undo and redo for the schedule book. Each change is one step holding the
// book as it was before; a step is named for the operator ("删除第1路第2条").
// The history sees the book after each change and compares it with what it
// saw last, so every path that changes the book (the editor, a delete, a copy,
// a file opened, a read from the board) is a step without telling it how.
#pragma once

#include "schedule/schedulebook.h"

#include <QList>
#include <QString>

#include <deque>

// The book as values: entries are shared objects that the editor changes in place.
struct BookSnapshot {
    QList<QPair<QString, Clsdata>> items;
    bool operator==(const BookSnapshot &) const = default;
};
BookSnapshot Snapshot(const ScheduleBook &book);
void Restore(ScheduleBook &book, const BookSnapshot &snapshot);

// What changed from `before` to `after`, in the operator's words: "添加第1路第3条",
// "修改第2路第1条", "删除第1路第2条", "删除第1路3条", "删除第4路全部", "修改第1路、第3路".
QString ChangeName(const BookSnapshot &before, const BookSnapshot &after);

class BookHistory {
public:
    static constexpr int kDepth = 100; // steps kept; the oldest go first

    // Starts afresh from `book` (nothing to undo).
    void reset(const ScheduleBook &book);
    // The book as it is now. A change since the last look becomes a step,
    // named `name` or, when that is empty, for what changed; redo is cleared.
    // False when nothing changed.
    bool look(const ScheduleBook &book, const QString &name = {});

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    QString undoName() const { return canUndo() ? m_undo.back().name : QString(); }
    QString redoName() const { return canRedo() ? m_redo.back().name : QString(); }
    // Put the book back before the last step, or forward again; false when
    // there is none.
    bool undo(ScheduleBook &book);
    bool redo(ScheduleBook &book);

private:
    struct Step {
        QString name;
        BookSnapshot book; // undo: the book before the step; redo: after it
    };
    static bool move(std::deque<Step> &from, std::deque<Step> &to, ScheduleBook &book, BookSnapshot &current);

    BookSnapshot m_current;
    std::deque<Step> m_undo, m_redo;
};
