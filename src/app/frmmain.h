// The main window: controls, start-up, the link's opening and closing, the
// schedule files and the editing commands. Device work is the engine's; the
// window only shows what the engine reports.
#pragma once

#include "app/prompts.h"
#include "bridge/networkboard.h"
#include "device/clockdrift.h"
#include "device/engine.h"
#include "device/engineview.h"
#include "device/framelog.h"
#include "device/seriallink.h"
#include "storage/notestore.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabBar;
class QTreeWidget;
class Lamp;
class ScheduleTools;
class VerifyTools;
class ScanDialog;
class EditTools;

struct FrmmainSetup {
    QString dataFolder; // Note.ini, Name.ini and the ComN port links
    Variant variant = Variant::Standard;
    SerialLink *link = nullptr;
    Prompts *prompts = nullptr;
    DeviceEngine::Clock clock; // empty: the computer's clock
    // Makes the broker's client for a network board (libmosquitto in the program, a fake in tests);
    // empty: the window has no network boards.
    std::function<std::unique_ptr<MqttClient>(const MqttSettings &)> makeMqtt = {};
};


class Frmmain final : public QMainWindow, public EngineView, public LinkListener {
    Q_OBJECT
public:
    explicit Frmmain(const FrmmainSetup &setup, QWidget *parent = nullptr);
    ~Frmmain() override;

    DeviceEngine &engine() { return m_engine; }
    // What the commands go through: the engine on the serial port, or the network board.
    BoardDriver &driver() { return *m_driver; }
    // Leaves whatever is open and opens the network board, as 打开 does a port: the port and
    // address selectors wait, panel "网络：…" names it, and 关闭 leaves it. False without makeMqtt.
    bool openNetworkBoard(const NetworkChoice &choice);
    NetworkBoard *networkBoard() const;
    // Where the network board's frames go (the frame log), and whether they are wanted (通信记录 is open):
    // the bridge sends them while they are, the watch renewed.
    void setFrameSink(std::function<void(const FrameRecord &)> sink) { m_frameSink = std::move(sink); }
    void setFramesWanted(bool wanted);
    // A client of the broker, made as the setup says; null when the window has none.
    std::unique_ptr<MqttClient> newMqttClient(const MqttSettings &settings) const
    {
        return m_makeMqtt ? m_makeMqtt(settings) : nullptr;
    }
    ScheduleBook &book() { return m_book; }
    const NoteStore &store() const { return m_store; }
    uint32_t lampColour(int index) const;
    int16_t nPage() const { return m_engine.nPage; }
    int nComPort() const { return m_nComPort; }
    QString statusText(int panel) const; // 1..3
    QString rowText(int row) const;      // "内容" of a list row
    int rowCount() const;

    // The 工具 menu, made on first use; every tool adds its items here.
    QMenu *toolsMenu();
    ScheduleTools *scheduleTools() const { return m_tools; }
    VerifyTools *verifyTools() const { return m_verify; }
    EditTools *editTools() const { return m_edit; }
    Prompts &prompts() { return m_prompts; }
    bool linkOpen() const;
    // The ring around a lamp (none: no ring) and the note its tooltip adds.
    void setLampRing(int index, std::optional<uint32_t> colour, bool dashed, const QString &note);
    std::optional<uint32_t> lampRing(int index) const;

    // --- Controls, public so tests can click them ---
    QLabel *Label1 = nullptr;
    QLabel *Label6 = nullptr;
    QComboBox *CmbID = nullptr;
    QLabel *Label5 = nullptr;
    QComboBox *CmbCom = nullptr;
    QPushButton *CmdOpen = nullptr;
    QLabel *Label3 = nullptr;
    std::array<Lamp *, 16> Shape1{};
    QLabel *Label4 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label8 = nullptr;
    QTabBar *SSTab2 = nullptr;
    QTreeWidget *List = nullptr;
    QCheckBox *ChkAuto = nullptr;
    QPushButton *CmdAdd = nullptr, *CmdDel = nullptr, *CmdDelAll = nullptr;
    QPushButton *CmdDown = nullptr, *CmdDownAll = nullptr, *CmdUpload = nullptr, *CmdUpLoadAll = nullptr;
    QPushButton *CmdIn = nullptr, *CmdOut = nullptr, *CmdOpenAll = nullptr, *CmdCloseAll = nullptr;
    QPushButton *CmdReadTime = nullptr, *CmdSetTime = nullptr;
    QPushButton *CmdOpenFile = nullptr, *CmdSave = nullptr, *CmdSaveAs = nullptr;
    QPushButton *CmdQuit = nullptr;
    QProgressBar *PB = nullptr;
    QPushButton *CmdStop = nullptr; // 停止, beside PB while a write or read is under way
    QLabel *LabDebug = nullptr;
    std::array<QLabel *, 3> SB{};
    QLabel *SBDrift = nullptr; // the board clock's drift, a panel after the three
    QLabel *SBNet = nullptr;   // "网络：plant@broker.lan" while a network board is open
    QTimer Timer1, Timer2, Timer3, Timer4;

    // --- Handlers (the buttons call these; tests may too) ---
    void CmdOpen_Click();
    void CmdAdd_Click();
    void List_DblClick();
    void CmdDel_Click();
    void CmdDelAll_Click();
    void CmdSave_Click();
    void CmdSaveAs_Click();
    void CmdOpenFile_Click();
    void SSTab2_Click(int index);
    void Timer3_Timer();
    void Timer4_Timer();

    // --- EngineView ---
    void setActivityText(const QString &text) override;
    void setProgressVisible(bool visible) override;
    void setProgressMax(int max) override;
    void setProgressValue(int value) override;
    void setTabsEnabled(bool enabled) override;
    void setWriteCommandsEnabled(bool enabled) override;
    void setReadCommandsEnabled(bool enabled) override;
    void setLamp(int index, uint32_t colour) override;
    void setDebugText(const QString &text) override;
    void showChannel(int channel) override;
    void showMessage(const QString &text) override;
    bool ask(const QString &text) override;
    void startClockClearTimer() override;
    bool schedulePacedStep(std::chrono::milliseconds after) override;
    void setTransferRunning(bool running) override;
    void setTransferNote(const QString &text) override;
    void boardClockSeen(const QDateTime &board, std::optional<qint64> drift) override;
    void transferEnded(const TransferResult &result) override;
    void requestRefused(const QString &why) override;

    // --- LinkListener ---
    void onFrame(const Frame &frame) override;
    void onLinkFailed(const QString &why) override;

Q_SIGNALS:
    // The book may have changed: the list was refilled or a channel deleted.
    void bookTouched();
    // The link opened or closed, or a transfer started or ended.
    void commandsChanged();
    void transferFinished(const TransferResult &result);
    // The operator closed a box the engine had the window show.
    void messageClosed(const QString &text);
    // 保存 wrote the book into Note.ini.
    void saved();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildUi();
    void setAccessibility();
    void connectUi();
    void Form_Load();
    void FillList(int channel);
    void setAutoFlag();
    void closeLink();
    void applyLinkState(bool open);
    void refreshPortToolTips();
    QString openFailureText(const OpenResult &result) const;

    NoteStore m_store;
    ScheduleBook m_book;
    DeviceEngine m_engine;
    Prompts &m_prompts;
    SerialLink &m_link;
    int m_nComPort = 1;
    // What start-up could not load, told once after the window is first shown.
    QString m_startupNotice;
    bool m_linkFailureShown = false;
    // Runs the engine's paced step a guard after each reply of a transfer.
    QTimer m_pace;
    bool m_transferRunning = false;
    // Clock drift: options read when the link opens, and whether its clock was seen since.
    bool m_clockSeenSinceOpen = false;
    bool m_setClockOnConnect = false;
    std::chrono::seconds m_driftThreshold{};
    SteadyDrift m_drift; // what panel 4 shows
    QMenu *m_toolsMenu = nullptr;
    ScheduleTools *m_tools = nullptr;
    VerifyTools *m_verify = nullptr;
    EditTools *m_edit = nullptr;
    ScanDialog *m_scan = nullptr; // 搜索设备, made on first use
    void openScan();
    std::function<std::unique_ptr<MqttClient>(const MqttSettings &)> m_makeMqtt;
    struct Network;
    std::unique_ptr<Network> m_net; // the network board while it is open
    BoardDriver *m_driver = &m_engine;
    std::function<void(const FrameRecord &)> m_frameSink;
    bool m_framesWanted = false;
    void leaveNetworkBoard();
    void showTabNames(const QStringList &names);
};
