// The 编辑 menu's undo and redo, and the draft that keeps unsaved work: the
// book's unsaved state is written beside Note.ini shortly after each change
// and removed by 保存, so 退出, a crash or a power cut loses nothing. The
// window's own flows stay as they are; this only looks on and adds its items.
#pragma once

#include "schedule/bookhistory.h"

#include <QObject>
#include <QTimer>

class Frmmain;
class QAction;
struct TransferResult;

inline constexpr std::chrono::milliseconds kDraftDelay{500};

// Where the draft of a Note.ini lives.
QString DraftPath(const QString &notePath);

class EditTools final : public QObject {
    Q_OBJECT
public:
    explicit EditTools(Frmmain &window);

    QAction *undoAction = nullptr;
    QAction *redoAction = nullptr;
    QAction *restoreAction = nullptr; // 工具 › 恢复上次未保存的编辑

    // The next change of the book is one step of this name ("打开 site.ini").
    void nameNextChange(const QString &name) { m_nextName = name; }
    void undo();
    void redo();
    void restoreDraft();
    // The book as it is now becomes a step if it changed (the window's touches
    // come here a moment later, so one action is one step).
    void look();
    // Writes the draft now (its timer does it kDraftDelay after a change).
    void writeDraft();
    // Enables the items for what there is to undo, redo and restore.
    void refresh();
    const BookHistory &history() const { return m_history; }

private:
    void transferFinished(const TransferResult &result);
    void saved();
    void changed();
    bool busy() const;
    void walk(bool (BookHistory::*step)(ScheduleBook &));

    Frmmain &m_w;
    BookHistory m_history;
    BookSnapshot m_saved; // the book as Note.ini holds it
    QString m_nextName;
    QTimer m_draftTimer;
    // A draft left by an earlier run stays until it is restored or this run
    // writes one of its own; then it goes to the trash, not away.
    bool m_earlierDraft = false;
};
