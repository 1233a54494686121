// The findings window; see findingswindow.h.
#include "app/findingswindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

FindingsWindow::FindingsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("检查"));
    setObjectName(QStringLiteral("FindingsWindow"));
    auto *root = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    m_summary = new QLabel(this);
    auto *again = new QPushButton(QStringLiteral("重新检查"), this);
    bar->addWidget(m_summary, 1);
    bar->addWidget(again);
    root->addLayout(bar);
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(4);
    m_list->setHeaderLabels(
        {QStringLiteral("路"), QStringLiteral("序号"), QStringLiteral("内容"), QStringLiteral("问题")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->header()->resizeSection(0, 44);
    m_list->header()->resizeSection(1, 50);
    m_list->header()->resizeSection(2, 330);
    root->addWidget(m_list, 1);
    root->addWidget(new QLabel(QStringLiteral("双击一行，主窗口转到该路该条"), this));
    connect(again, &QPushButton::clicked, this, &FindingsWindow::recheck);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        const int i = m_list->indexOfTopLevelItem(item);
        if (i >= 0 && i < m_findings.size())
            Q_EMIT goTo(m_findings[i].channel, m_findings[i].number);
    });
    resize(860, 420);
}

void FindingsWindow::setFindings(const QList<Finding> &findings)
{
    m_findings = findings;
    m_list->clear();
    QList<QTreeWidgetItem *> items;
    for (const Finding &f : findings) {
        auto *item = new QTreeWidgetItem(
            {QString::number(f.channel), QStringLiteral("%1").arg(f.number, 3, 10, QLatin1Char('0')),
             f.entryText.trimmed(), f.informational() ? QStringLiteral("（提示）") + f.message : f.message});
        if (f.informational())
            for (int c = 0; c < 4; ++c)
                item->setForeground(c, QColor(120, 120, 120));
        items.append(item);
    }
    m_list->addTopLevelItems(items);
    m_summary->setText(summary());
}

QString FindingsWindow::summary() const
{
    return CheckSummary(m_findings);
}
