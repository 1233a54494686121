// The list of the check's findings; a double-click goes to the entry.
#pragma once

#include "schedule/check.h"

#include <QWidget>

class QLabel;
class QTreeWidget;

class FindingsWindow final : public QWidget {
    Q_OBJECT
public:
    explicit FindingsWindow(QWidget *parent);
    void setFindings(const QList<Finding> &findings);
    const QList<Finding> &findings() const { return m_findings; }
    QTreeWidget *list() const { return m_list; }
    QString summary() const;

Q_SIGNALS:
    void goTo(int channel, int number);
    void recheck();

private:
    QList<Finding> m_findings;
    QLabel *m_summary = nullptr;
    QTreeWidget *m_list = nullptr;
};
