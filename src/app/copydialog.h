// 复制到…: which channels receive the current channel's entries, and how.
#pragma once

#include "schedule/copy.h"

#include <QDialog>

#include <array>
#include <functional>

class QCheckBox;
class QPushButton;
class QRadioButton;

class CopyDialog final : public QDialog {
    Q_OBJECT
public:
    // `names(c)` is channel c's tab caption.
    CopyDialog(const ScheduleBook &book, int source, const std::function<QString(int)> &names, QWidget *parent);

    struct Result {
        QList<int> targets;
        CopyMode mode = CopyMode::Replace;
    };
    Result result() const;
    int source() const { return m_source; }

    // Tells the operator why the dialog stays open (through the window's prompts).
    std::function<void(const QString &)> notify;

    // OK: accepts unless nothing is ticked or a target would pass 255 entries.
    void confirm();

    std::array<QCheckBox *, 16> targets{};
    QRadioButton *replace = nullptr;
    QRadioButton *append = nullptr;
    QPushButton *ok = nullptr;

private:
    const ScheduleBook &m_book;
    int m_source = 1;
};
