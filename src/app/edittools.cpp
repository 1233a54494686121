#include "app/edittools.h"

#include "app/frmmain.h"
#include "storage/notestore.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>

QString DraftPath(const QString &notePath)
{
    return notePath + QStringLiteral(".draft");
}

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

EditTools::EditTools(Frmmain &window) : QObject(&window), m_w(window)
{
    m_history.reset(m_w.book());
    m_saved = Snapshot(m_w.book());
    m_earlierDraft = QFileInfo::exists(DraftPath(m_w.store().notePath()));

    auto *menu = new QMenu(QStringLiteral("编辑"), &m_w);
    m_w.menuBar()->insertMenu(m_w.toolsMenu()->menuAction(), menu);
    undoAction = menu->addAction(QStringLiteral("撤销"), this, &EditTools::undo);
    undoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    redoAction = menu->addAction(QStringLiteral("重做"), this, &EditTools::redo);
    redoAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    restoreAction = m_w.toolsMenu()->addAction(QStringLiteral("恢复上次未保存的编辑"), this, &EditTools::restoreDraft);

    // A touch is looked at once the action that made it is done: clearing a
    // channel and starting its read is one action, and the read's step comes
    // when it ends.
    connect(&m_w, &Frmmain::bookTouched, this, [this] { QTimer::singleShot(0, this, &EditTools::look); });
    connect(&m_w, &Frmmain::transferFinished, this, &EditTools::transferFinished);
    connect(&m_w, &Frmmain::commandsChanged, this, &EditTools::refresh);
    connect(&m_w, &Frmmain::saved, this, &EditTools::saved);
    m_draftTimer.setSingleShot(true);
    m_draftTimer.setInterval(kDraftDelay);
    connect(&m_draftTimer, &QTimer::timeout, this, &EditTools::writeDraft);
    refresh();
}

bool EditTools::busy() const
{
    return m_w.driver().transferActive();
}

void EditTools::look()
{
    if (!busy() && m_history.look(m_w.book(), std::exchange(m_nextName, {})))
        changed();
}

void EditTools::changed()
{
    refresh();
    m_draftTimer.start();
}

void EditTools::transferFinished(const TransferResult &result)
{
    if (result.verify || (result.kind != TransferKind::Read && result.kind != TransferKind::ReadAll))
        return;
    const QString name = result.kind == TransferKind::Read ? QStringLiteral("读取第%1路").arg(m_w.nPage())
                                                            : QStringLiteral("读取所有");
    if (m_history.look(m_w.book(), name))
        changed();
}

void EditTools::undo()
{
    walk(&BookHistory::undo);
}

void EditTools::redo()
{
    walk(&BookHistory::redo);
}

void EditTools::walk(bool (BookHistory::*step)(ScheduleBook &))
{
    if (busy())
        return;
    look(); // a change not yet seen is a step of its own first
    if ((m_history.*step)(m_w.book())) {
        m_w.showChannel(m_w.nPage());
        changed();
    }
}

void EditTools::restoreDraft()
{
    const QString path = DraftPath(m_w.store().notePath());
    if (busy() || !QFileInfo::exists(path))
        return;
    const OpenedSchedules draft = OpenSchedules(path, true);
    if (!draft.ok) {
        m_w.prompts().message(&m_w, OpenRefusal(draft, path));
        return;
    }
    look();
    ScheduleBook &book = m_w.book();
    book.clear();
    for (const EntryRef &e : draft.entries)
        book.append(e);
    m_earlierDraft = false; // it is this run's draft now
    m_history.look(book, QStringLiteral("恢复上次未保存的编辑"));
    m_w.showChannel(m_w.nPage());
    changed();
}

void EditTools::writeDraft()
{
    m_draftTimer.stop();
    const QString path = DraftPath(m_w.store().notePath());
    const bool unsaved = Snapshot(m_w.book()) != m_saved;
    if (m_earlierDraft) {
        if (!unsaved)
            return; // nothing of this run's to keep yet
        ShellDelete(path);
        m_earlierDraft = false;
    }
    if (unsaved)
        ExportSchedules(m_w.book(), path);
    else
        QFile::remove(path);
    refresh();
}

void EditTools::saved()
{
    m_draftTimer.stop();
    m_saved = Snapshot(m_w.book());
    const QString path = DraftPath(m_w.store().notePath());
    if (std::exchange(m_earlierDraft, false))
        ShellDelete(path);
    else
        QFile::remove(path);
    refresh();
}

void EditTools::refresh()
{
    const bool idle = !busy();
    undoAction->setText(m_history.canUndo() ? QStringLiteral("撤销 ") + m_history.undoName() : QStringLiteral("撤销"));
    redoAction->setText(m_history.canRedo() ? QStringLiteral("重做 ") + m_history.redoName() : QStringLiteral("重做"));
    undoAction->setEnabled(idle && m_history.canUndo());
    redoAction->setEnabled(idle && m_history.canRedo());
    const QString draft = DraftPath(m_w.store().notePath());
    restoreAction->setEnabled(idle && m_earlierDraft && fileBytes(draft) != fileBytes(m_w.store().notePath()));
}
