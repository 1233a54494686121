// The copy dialog; see copydialog.h.
#include "app/copydialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CopyDialog::CopyDialog(const ScheduleBook &book, int source, const std::function<QString(int)> &names, QWidget *parent)
    : QDialog(parent), m_book(book), m_source(source)
{
    setWindowTitle(QStringLiteral("复制到…"));
    setObjectName(QStringLiteral("CopyDialog"));
    auto *root = new QVBoxLayout(this);
    root->addWidget(new QLabel(
        QStringLiteral("把第%1路（%2）的%3条日程复制到：").arg(source).arg(names(source)).arg(book.countOf(source)),
        this));
    auto *grid = new QGridLayout;
    for (int c = 1; c <= kChannelCount; ++c) {
        auto *box = new QCheckBox(QStringLiteral("%1 %2").arg(c).arg(names(c)), this);
        box->setEnabled(c != source);
        targets[c - 1] = box;
        grid->addWidget(box, (c - 1) / 4, (c - 1) % 4);
    }
    root->addLayout(grid);
    auto *how = new QGroupBox(this);
    auto *howLayout = new QVBoxLayout(how);
    replace = new QRadioButton(QStringLiteral("替换：先删除目标路原有的日程"), how);
    append = new QRadioButton(QStringLiteral("追加：接在目标路最后一条之后"), how);
    replace->setChecked(true);
    howLayout->addWidget(replace);
    howLayout->addWidget(append);
    root->addWidget(how);
    auto *buttons = new QHBoxLayout;
    ok = new QPushButton(QStringLiteral("复制"), this);
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    ok->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    root->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &CopyDialog::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CopyDialog::Result CopyDialog::result() const
{
    Result r;
    for (int c = 1; c <= kChannelCount; ++c)
        if (c != m_source && targets[c - 1]->isChecked())
            r.targets.append(c);
    r.mode = append->isChecked() ? CopyMode::Append : CopyMode::Replace;
    return r;
}

void CopyDialog::confirm()
{
    const Result r = result();
    QString why;
    if (r.targets.isEmpty()) {
        why = QStringLiteral("请选择要复制到的通道");
    } else {
        const CopyPlan plan = PlanCopy(m_book, m_source, r.targets, r.mode);
        if (plan.refused())
            why = QStringLiteral("%1将超过255条，未复制").arg(ChannelList(plan.tooFull));
    }
    if (why.isEmpty()) {
        accept();
        return;
    }
    if (notify)
        notify(why);
}
