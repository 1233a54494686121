// Everything modal the window asks of the operator, behind one interface, so
// the logic never opens a box or a file dialog itself and tests script answers.
#pragma once

#include <QString>

#include <QList>

class QWidget;
class QPrinter;
class Dialog;

inline const QString kPromptTitle = QStringLiteral("提示");

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void message(QWidget *parent, const QString &text) = 0; // OK only
    virtual bool confirm(QWidget *parent, const QString &text) = 0; // OK / Cancel; true = OK
    // Empty = cancelled.
    virtual QString saveFileName(QWidget *parent) = 0;
    virtual QString openFileName(QWidget *parent) = 0;
    // Runs the entry editor modally; returns once it is closed.
    virtual void runEditor(Dialog &dialog) = 0;
    // Which channels to print or export: the one on screen, those ticked, or
    // all; empty when cancelled.
    virtual QList<int> reportChannels(QWidget *parent, int current) = 0;
    // The system's print dialog: true, with `printer` set up, to print.
    virtual bool choosePrinter(QWidget *parent, QPrinter &printer) = 0;
    // Where a PDF goes; empty = cancelled.
    virtual QString pdfFileName(QWidget *parent) = 0;
    // A CSV file to write (`save`) or to read; empty = cancelled.
    virtual QString csvFileName(QWidget *parent, bool save) = 0;
};

// The real boxes and dialogs.
class QtPrompts final : public Prompts {
public:
    void message(QWidget *parent, const QString &text) override;
    bool confirm(QWidget *parent, const QString &text) override;
    QString saveFileName(QWidget *parent) override;
    QString openFileName(QWidget *parent) override;
    void runEditor(Dialog &dialog) override;
    QList<int> reportChannels(QWidget *parent, int current) override;
    bool choosePrinter(QWidget *parent, QPrinter &printer) override;
    QString pdfFileName(QWidget *parent) override;
    QString csvFileName(QWidget *parent, bool save) override;
};
