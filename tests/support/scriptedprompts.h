// Scripted answers for every box and dialog the window opens.
#pragma once

#include "app/prompts.h"
#include "editor/dialog.h"

#include <QStringList>

#include <functional>

class ScriptedPrompts final : public Prompts {
public:
    void message(QWidget *, const QString &text) override
    {
        messages << text;
        if (onMessage)
            onMessage(text);
    }
    bool confirm(QWidget *, const QString &text) override
    {
        questions << text;
        return confirmAnswer;
    }
    QString saveFileName(QWidget *) override { return savePath; }
    QString openFileName(QWidget *) override { return openPath; }
    void runEditor(Dialog &dialog) override { editor ? editor(dialog) : void(dialog.confirm()); }

    QList<int> reportChannels(QWidget *, int) override { return reportChoice; }
    bool choosePrinter(QWidget *, QPrinter &) override { return false; }
    QString pdfFileName(QWidget *) override { return pdfPath; }
    QString csvFileName(QWidget *, bool) override { return csvPath; }

    QStringList messages, questions;
    bool confirmAnswer = true;
    QString savePath, openPath;
    QList<int> reportChoice;  // empty: the choice is cancelled
    QString pdfPath, csvPath; // empty: cancelled
    std::function<void(Dialog &)> editor;
    std::function<void(const QString &)> onMessage; // while the box is open
};
