// The 工具 menu's schedule tools: the picture, the check, copying a channel,
// the findings panel and the rings around the lamps. The window creates one
// and keeps its own code to a few hooks; everything here goes through the
// window's public face and its prompts.
#pragma once

#include "schedule/check.h"
#include "schedule/timeline.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>

class Frmmain;
class PictureWindow;
class FindingsWindow;
class CopyDialog;
class QAction;
class QLabel;

class ScheduleTools final : public QObject {
    Q_OBJECT
public:
    explicit ScheduleTools(Frmmain &window);

    QAction *pictureAction = nullptr;
    QAction *checkAction = nullptr;
    QAction *copyAction = nullptr;

    void openPicture();
    void openCheck();
    void openCopy();
    // The check that runs when a write starts: it only shows the panel.
    void quietCheck();
    // The rings' tick (each second): schedule state now against the lamps.
    void refreshRings();
    // A manual command was given for these channels.
    void manualCommand(const QList<int> &channels);

    PictureWindow *picture() const;
    FindingsWindow *findings() const;
    CopyDialog *copyDialog() const;
    QLabel *panel() const { return m_panel; }

private:
    void bookTouched();
    void goTo(int channel, int number);
    void applyCopy(int source, const QList<int> &targets, bool append);
    QByteArray fingerprint() const;
    QString channelName(int channel) const;
    std::optional<WallSecs> boardNow() const;

    Frmmain &m_w;
    QPointer<PictureWindow> m_picture;
    QPointer<FindingsWindow> m_findings;
    QPointer<CopyDialog> m_copy;
    QLabel *m_panel = nullptr;
    QTimer m_ringTimer;
    QByteArray m_print; // the book as last seen
    // Until when a channel counts as set by hand (its next switching point).
    std::array<std::optional<WallSecs>, 17> m_manualUntil{};
};
