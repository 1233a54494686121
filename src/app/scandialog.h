// 搜索设备: which addresses on the open line answer, listed in a window of its
// own; 使用 or a double-click hands an address back to the main window.
#pragma once

#include "device/busscan.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;

// What the scan window says at the end: what was found, and where a stopped scan stopped.
QString ScanNote(const BusScan &scan);

class ScanDialog final : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<bool()> mayStart;      // the link is open and no transfer is under way
        std::function<void(bool)> lineTaken; // true: the scan has the line; false: given back
        std::function<void(int)> useAddress; // the operator chose this address
    };
    ScanDialog(SerialLink &link, Hooks hooks, QWidget *parent = nullptr);
    ~ScanDialog() override;

    bool scanning() const { return m_scan != nullptr; }
    void onFrame(const Frame &frame);
    // Ends the scan (the line closed, or the operator pressed 停止).
    void stopScan();
    // One answer window; the dialog's timer calls it, tests may too.
    void stepScan();

    QSpinBox *From = nullptr;
    QSpinBox *To = nullptr;
    QPushButton *CmdScan = nullptr;
    QPushButton *CmdStop = nullptr;
    QPushButton *CmdUse = nullptr;
    QProgressBar *PB = nullptr;
    QListWidget *Found = nullptr;
    QLabel *Note = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void startScan();
    void useSelected();
    void showState();

    SerialLink &m_link;
    Hooks m_hooks;
    std::unique_ptr<BusScan> m_scan;
    QTimer m_timer;
};
