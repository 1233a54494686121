#include "app/prompts.h"

#include "editor/dialog.h"

#include <QFileDialog>
#include <QMessageBox>

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
