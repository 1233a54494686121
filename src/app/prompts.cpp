#include "app/prompts.h"

#include "editor/dialog.h"

#include "schedule/clsdata.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
const QString kFilter = QStringLiteral("ini文件 (*.ini)");

QString withIniSuffix(QString path)
{
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".ini");
    return path;
}
} // namespace

void QtPrompts::message(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, kPromptTitle, text, QMessageBox::Ok);
}

bool QtPrompts::confirm(QWidget *parent, const QString &text)
{
    return QMessageBox::question(parent, kPromptTitle, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
           QMessageBox::Ok;
}

QString QtPrompts::saveFileName(QWidget *parent)
{
    QFileDialog dlg(parent);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(kFilter);
    dlg.setDefaultSuffix(QStringLiteral("ini"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return withIniSuffix(dlg.selectedFiles().constFirst());
}

QString QtPrompts::openFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), kFilter);
}

void QtPrompts::runEditor(Dialog &dialog)
{
    dialog.exec();
}

QList<int> QtPrompts::reportChannels(QWidget *parent, int current)
{
    QDialog dlg(parent);
    dlg.setWindowTitle(QStringLiteral("打印范围"));
    auto *layout = new QVBoxLayout(&dlg);
    auto *one = new QRadioButton(QStringLiteral("当前路（第%1路）").arg(current), &dlg);
    auto *chosen = new QRadioButton(QStringLiteral("选择的路："), &dlg);
    auto *all = new QRadioButton(QStringLiteral("全部"), &dlg);
    one->setChecked(true);
    layout->addWidget(one);
    layout->addWidget(chosen);
    auto *grid = new QGridLayout;
    QList<QCheckBox *> boxes;
    for (int c = 1; c <= kChannelCount; ++c) {
        auto *box = new QCheckBox(QStringLiteral("第%1路").arg(c), &dlg);
        box->setChecked(c == current);
        QObject::connect(box, &QCheckBox::toggled, chosen, [chosen] { chosen->setChecked(true); });
        grid->addWidget(box, (c - 1) / 4, (c - 1) % 4);
        boxes << box;
    }
    layout->addLayout(grid);
    layout->addWidget(all);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);
    if (dlg.exec() != QDialog::Accepted)
        return {};
    QList<int> channels;
    for (int c = 1; c <= kChannelCount; ++c)
        if (all->isChecked() || (chosen->isChecked() && boxes[c - 1]->isChecked()) || (one->isChecked() && c == current))
            channels << c;
    return channels;
}

bool QtPrompts::choosePrinter(QWidget *parent, QPrinter &printer)
{
    QPrintDialog dlg(&printer, parent);
    return dlg.exec() == QDialog::Accepted;
}

QString QtPrompts::pdfFileName(QWidget *parent)
{
    QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("导出PDF"), QStringLiteral("日程.pdf"),
                                                QStringLiteral("PDF (*.pdf)"));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    return path;
}

QString QtPrompts::csvFileName(QWidget *parent, bool save)
{
    const QString filter = QStringLiteral("CSV (*.csv)");
    if (!save)
        return QFileDialog::getOpenFileName(parent, QStringLiteral("导入CSV"), QString(), filter);
    QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("导出CSV"), QStringLiteral("日程.csv"), filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    return path;
}
