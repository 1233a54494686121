#include "app/frmmain.h"

#include "app/edittools.h"
#include "app/reporttools.h"

#include "app/scandialog.h"
#include "app/scheduletools.h"
#include "app/verifytools.h"
#include "bridge/topics.h"
#include "device/clockdrift.h"
#include "device/portnames.h"
#include "editor/dialog.h"
#include "editor/picklist.h"
#include "schedule/channelview.h"
#include "storage/toolsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QSysInfo>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

namespace {
const QString kCaption = QStringLiteral("KelmoraV2.4");
const QString kOpen = QStringLiteral("打开");
const QString kClose = QStringLiteral("关闭");
const QString kLinkFailed = QStringLiteral("串口通信错误，连接已关闭");

// A relay lamp: a filled circle in one of the board tool's colour values.
} // namespace

class Lamp final : public QWidget {
public:
    Lamp(QWidget *parent, int size) : QWidget(parent)
    {
        setFixedSize(size, size);
        setAccessibleDescription(stateText(m_colour));
    }
    uint32_t colour() const { return m_colour; }
    void setColour(uint32_t c)
    {
        if (c == m_colour)
            return;
        m_colour = c;
        // Read out by screen readers; setting it raises QAccessible::DescriptionChanged, so they hear of it.
        setAccessibleDescription(stateText(c));
        update();
    }
    // A thin outer ring in the colour the schedule says; dashed while set by hand.
    void setRing(std::optional<uint32_t> colour, bool dashed)
    {
        if (colour == m_ring && dashed == m_dashed)
            return;
        m_ring = colour;
        m_dashed = dashed;
        update();
    }
    std::optional<uint32_t> ring() const { return m_ring; }
    static QString stateText(uint32_t c)
    {
        return c == kLampGreen ? QStringLiteral("吸合")
               : c == kLampRed ? QStringLiteral("断开")
                               : QStringLiteral("未知");
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // Colour values keep red in the low byte.
        auto qcolour = [](uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); };
        QRectF fill(2, 2, width() - 4, height() - 4);
        if (m_ring) {
            QPen pen(qcolour(*m_ring).darker(115), 2.5, m_dashed ? Qt::DashLine : Qt::SolidLine);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(1.25, 1.25, width() - 2.5, height() - 2.5));
            fill.adjust(2.5, 2.5, -2.5, -2.5);
        }
        p.setPen(QPen(QColor(90, 90, 90), 1.2));
        p.setBrush(qcolour(m_colour));
        p.drawEllipse(fill);
    }

private:
    uint32_t m_colour = kLampGrey;
    std::optional<uint32_t> m_ring;
    bool m_dashed = false;
};

namespace {
// The port list; its tooltips are made as it opens, so links made since show.
class PortList final : public QComboBox {
public:
    PortList(QWidget *parent, std::function<void()> beforeOpening)
        : QComboBox(parent), m_beforeOpening(std::move(beforeOpening))
    {
    }
    void showPopup() override
    {
        m_beforeOpening();
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_beforeOpening;
};

QPushButton *button(const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setMinimumWidth(84);
    return b;
}
} // namespace

struct Frmmain::Network {
    NetworkChoice choice;
    std::unique_ptr<MqttClient> mqtt;
    std::unique_ptr<NetworkBoard> board;
};

Frmmain::Frmmain(const FrmmainSetup &setup, QWidget *parent)
    : QMainWindow(parent), m_store(setup.dataFolder), m_engine(*this, *setup.link, m_book, setup.variant, setup.clock),
      m_prompts(*setup.prompts), m_link(*setup.link), m_makeMqtt(setup.makeMqtt)
{
    m_link.setListener(this);
    buildUi();
    connectUi();
    Form_Load();
    m_tools = new ScheduleTools(*this);
    QAction *scan = toolsMenu()->addAction(QStringLiteral("搜索设备"), this, &Frmmain::openScan);
    scan->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    m_verify = new VerifyTools(*this);
    m_edit = new EditTools(*this);
    AddReportTools(*this);
}

Frmmain::~Frmmain()
{
    if (m_net)
        m_net->board->leave();
    // The port is released with the window; nothing is saved.
    m_link.setListener(nullptr);
    m_link.close();
}

void Frmmain::buildUi()
{
    setWindowTitle(kCaption);
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *root = new QVBoxLayout(central);

    // Title row: title, port, open/close, address.
    auto *top = new QHBoxLayout;
    Label1 = new QLabel(QStringLiteral("十六路时控继电器"), central);
    QFont titleFont = Label1->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    Label5 = new QLabel(QStringLiteral("串口号"), central);
    CmbCom = new PortList(central, [this] { refreshPortToolTips(); });
    CmbCom->setMinimumWidth(90);
    CmdOpen = button(kOpen, central);
    Label6 = new QLabel(QStringLiteral("地址"), central);
    CmbID = new QComboBox(central);
    CmbID->setMinimumWidth(70);
    top->addWidget(Label1);
    top->addStretch(1);
    top->addWidget(Label5);
    top->addWidget(CmbCom);
    top->addWidget(CmdOpen);
    top->addSpacing(16);
    top->addWidget(Label6);
    top->addWidget(CmbID);
    root->addLayout(top);

    auto *middle = new QHBoxLayout;
    root->addLayout(middle, 1);

    // Left column: lamp grid, all-channel buttons, file buttons.
    auto *left = new QVBoxLayout;
    auto *lampBox = new QGroupBox(central);
    auto *lampGrid = new QGridLayout(lampBox);
    Label3 = new QLabel(QStringLiteral("状态监视"), lampBox);
    Label3->setAlignment(Qt::AlignCenter);
    lampGrid->addWidget(Label3, 0, 0, 1, 4);
    const QString rowCaptions[4] = {QStringLiteral("1  2  3  4"), QStringLiteral("5  6  7  8"),
                                    QStringLiteral("9 10 11 12"), QStringLiteral("13 14 15 16")};
    QLabel **rowLabels[4] = {&Label4, &Label2, &Label7, &Label8};
    // Each row caption is one text, as it always was. In a monospace font every
    // third character column sits over one lamp.
    QFont numberFont(QStringLiteral("monospace"));
    numberFont.setStyleHint(QFont::Monospace);
    numberFont.setPixelSize(15);
    const int charWidth = QFontMetrics(numberFont).horizontalAdvance(QLatin1Char('0'));
    const int pitch = 3 * charWidth;
    lampGrid->setHorizontalSpacing(0);
    lampGrid->setVerticalSpacing(2);
    for (int r = 0; r < 4; ++r) {
        auto *caption = new QLabel(rowCaptions[r], lampBox);
        caption->setFont(numberFont);
        // Two-digit numbers stand half a character further left than one-digit ones.
        caption->setIndent(pitch / 2 - charWidth / 2 - (r == 3 ? charWidth / 2 : r == 2 ? charWidth / 4 : 0));
        caption->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        *rowLabels[r] = caption;
        lampGrid->addWidget(caption, 1 + r * 2, 0, 1, 4);
        for (int c = 0; c < 4; ++c) {
            Lamp *lamp = new Lamp(lampBox, pitch - 2);
            lamp->setToolTip(QStringLiteral("第%1路").arg(r * 4 + c + 1));
            Shape1[r * 4 + c] = lamp;
            lampGrid->addWidget(lamp, 2 + r * 2, c, Qt::AlignCenter);
        }
    }
    for (int c = 0; c < 4; ++c)
        lampGrid->setColumnMinimumWidth(c, pitch);
    lampBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    left->addWidget(lampBox);
    CmdDownAll = button(QStringLiteral("写入所有"), central);
    CmdUpLoadAll = button(QStringLiteral("读取设备"), central);
    CmdOpenAll = button(QStringLiteral("吸合所有"), central);
    CmdCloseAll = button(QStringLiteral("断开所有"), central);
    auto *allGrid = new QGridLayout;
    allGrid->addWidget(CmdDownAll, 0, 0);
    allGrid->addWidget(CmdUpLoadAll, 0, 1);
    allGrid->addWidget(CmdOpenAll, 1, 0);
    allGrid->addWidget(CmdCloseAll, 1, 1);
    left->addLayout(allGrid);
    left->addSpacing(10);
    CmdOpenFile = button(QStringLiteral("打开"), central);
    CmdSave = button(QStringLiteral("保存"), central);
    CmdSaveAs = button(QStringLiteral("另存"), central);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(CmdOpenFile);
    fileRow->addWidget(CmdSave);
    fileRow->addWidget(CmdSaveAs);
    left->addLayout(fileRow);
    left->addStretch(1);
    middle->addLayout(left);

    // Centre: the channel tabs over the entry list.
    auto *centre = new QVBoxLayout;
    centre->setSpacing(0);
    SSTab2 = new QTabBar(central);
    SSTab2->setUsesScrollButtons(true);
    SSTab2->setExpanding(false);
    SSTab2->setDrawBase(true);
    for (int i = 0; i < kChannelCount; ++i)
        SSTab2->addTab(QString());
    List = new QTreeWidget(central);
    List->setColumnCount(2);
    List->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("内容")});
    List->setRootIsDecorated(false);
    List->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List->setUniformRowHeights(true);
    List->header()->resizeSection(0, 60);
    centre->addWidget(SSTab2);
    centre->addWidget(List, 1);
    middle->addLayout(centre, 1);

    // Right column: auto flag, editing, single-channel transfer, manual, clock, quit.
    auto *right = new QVBoxLayout;
    ChkAuto = new QCheckBox(QStringLiteral("自动功能允许"), central);
    right->addWidget(ChkAuto);
    right->addSpacing(8);
    CmdAdd = button(QStringLiteral("添加"), central);
    CmdDel = button(QStringLiteral("删除单条"), central);
    CmdDelAll = button(QStringLiteral("删除当前"), central);
    CmdDown = button(QStringLiteral("写入"), central);
    CmdUpload = button(QStringLiteral("读取"), central);
    CmdIn = button(QStringLiteral("手动吸合"), central);
    CmdOut = button(QStringLiteral("手动断开"), central);
    CmdReadTime = button(QStringLiteral("读时"), central);
    CmdSetTime = button(QStringLiteral("对时"), central);
    CmdQuit = button(QStringLiteral("退出"), central);
    const QList<QList<QPushButton *>> groups = {
        {CmdAdd, CmdDel, CmdDelAll}, {CmdDown, CmdUpload}, {CmdIn, CmdOut}, {CmdReadTime, CmdSetTime}};
    for (const auto &group : groups) {
        for (QPushButton *b : group)
            right->addWidget(b);
        right->addSpacing(10);
    }
    right->addStretch(1);
    right->addWidget(CmdQuit);
    middle->addLayout(right);

    // Bottom: debug label and progress bar, then the status bar.
    LabDebug = new QLabel(central);
    LabDebug->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabDebug->setMinimumHeight(LabDebug->fontMetrics().height() + 4);
    PB = new QProgressBar(central);
    PB->setVisible(false);
    CmdStop = button(QStringLiteral("停止"), central);
    CmdStop->setVisible(false);
    CmdStop->setEnabled(false);
    root->addWidget(LabDebug);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(PB, 1);
    progressRow->addWidget(CmdStop);
    root->addLayout(progressRow);
    for (int i = 0; i < 3; ++i) {
        SB[i] = new QLabel(this);
        SB[i]->setMinimumWidth(i == 2 ? 160 : 60);
        SB[i]->setFrameShape(QFrame::StyledPanel);
        SB[i]->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(SB[i], i == 0 ? 3 : i == 1 ? 2 : 1);
    }
    SBDrift = new QLabel(this);
    SBDrift->setObjectName(QStringLiteral("SBDrift"));
    SBDrift->setMinimumWidth(120);
    SBDrift->setFrameShape(QFrame::StyledPanel);
    SBDrift->setFrameShadow(QFrame::Sunken);
    statusBar()->addWidget(SBDrift, 1);
    SBNet = new QLabel(this);
    SBNet->setObjectName(QStringLiteral("SBNet"));
    SBNet->setFrameShape(QFrame::StyledPanel);
    SBNet->setFrameShadow(QFrame::Sunken);
    SBNet->setVisible(false);
    statusBar()->addWidget(SBNet, 1);
    resize(1180, 640);
    setAccessibility();
}

// Object names as the program calls its controls (for automation and tests), accessible
// names and descriptions for screen readers, tab order along the layout, and the keyboard
// shortcuts of the file and editing commands. Buttons are named by their captions.
void Frmmain::setAccessibility()
{
    setObjectName(QStringLiteral("Frmmain"));
    const std::pair<QWidget *, const char *> named[] = {
        {Label1, "Label1"},
        {Label6, "Label6"},
        {CmbID, "CmbID"},
        {Label5, "Label5"},
        {CmbCom, "CmbCom"},
        {CmdOpen, "CmdOpen"},
        {Label3, "Label3"},
        {Label4, "Label4"},
        {Label2, "Label2"},
        {Label7, "Label7"},
        {Label8, "Label8"},
        {SSTab2, "SSTab2"},
        {List, "List"},
        {ChkAuto, "ChkAuto"},
        {CmdAdd, "CmdAdd"},
        {CmdDel, "CmdDel"},
        {CmdDelAll, "CmdDelAll"},
        {CmdDown, "CmdDown"},
        {CmdDownAll, "CmdDownAll"},
        {CmdUpload, "CmdUpload"},
        {CmdUpLoadAll, "CmdUpLoadAll"},
        {CmdIn, "CmdIn"},
        {CmdOut, "CmdOut"},
        {CmdOpenAll, "CmdOpenAll"},
        {CmdCloseAll, "CmdCloseAll"},
        {CmdReadTime, "CmdReadTime"},
        {CmdSetTime, "CmdSetTime"},
        {CmdOpenFile, "CmdOpenFile"},
        {CmdSave, "CmdSave"},
        {CmdSaveAs, "CmdSaveAs"},
        {CmdQuit, "CmdQuit"},
        {PB, "PB"},
        {LabDebug, "LabDebug"},
    };
    for (const auto &[widget, name] : named)
        widget->setObjectName(QLatin1String(name));
    for (QTimer *t : {&Timer1, &Timer2, &Timer3, &Timer4})
        t->setObjectName(QStringLiteral("Timer%1").arg(t == &Timer1 ? 1 : t == &Timer2 ? 2 : t == &Timer3 ? 3 : 4));
    for (int i = 0; i < kChannelCount; ++i) {
        Shape1[i]->setObjectName(QStringLiteral("Shape1_%1").arg(i));
        Shape1[i]->setAccessibleName(QStringLiteral("第%1路").arg(i + 1));
    }
    // Texts that change (panels, the frame dump) are read as their names; the description says what they are.
    const QString panels[3] = {QStringLiteral("状态栏 1"), QStringLiteral("状态栏 2"),
                               QStringLiteral("状态栏 3：电脑时间")};
    for (int i = 0; i < 3; ++i) {
        SB[i]->setObjectName(QStringLiteral("SB%1").arg(i + 1));
        SB[i]->setAccessibleDescription(panels[i]);
    }
    // Controls without a caption of their own take their label's, or say what they show.
    Label5->setBuddy(CmbCom);
    Label6->setBuddy(CmbID);
    CmbCom->setAccessibleName(Label5->text());
    CmbID->setAccessibleName(Label6->text());
    SSTab2->setAccessibleName(QStringLiteral("通道"));
    List->setAccessibleName(QStringLiteral("定时列表"));
    PB->setAccessibleName(QStringLiteral("进度"));
    LabDebug->setAccessibleDescription(QStringLiteral("最后发送的帧"));
    // Two buttons read "打开": the description tells them apart.
    CmdOpen->setAccessibleDescription(QStringLiteral("打开或关闭串口"));
    CmdOpenFile->setAccessibleDescription(QStringLiteral("打开计划文件"));

    const QList<QWidget *> order = {CmbCom,      CmdOpen,     CmbID,       CmdDownAll, CmdUpLoadAll, CmdOpenAll,
                                    CmdCloseAll, CmdOpenFile, CmdSave,     CmdSaveAs,  SSTab2,       List,
                                    ChkAuto,     CmdAdd,      CmdDel,      CmdDelAll,  CmdDown,      CmdUpload,
                                    CmdIn,       CmdOut,      CmdReadTime, CmdSetTime, CmdQuit};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    // A shortcut works like its button: not at all while the button is disabled.
    const std::pair<QKeySequence, QPushButton *> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_S), CmdSave},
        {QKeySequence(Qt::CTRL | Qt::Key_O), CmdOpenFile},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), CmdSaveAs},
        {QKeySequence(Qt::Key_Insert), CmdAdd},
        {QKeySequence(Qt::Key_Delete), CmdDel},
    };
    for (const auto &[key, target] : keys) {
        new QShortcut(key, this, target, &QPushButton::click);
        target->setToolTip(key.toString(QKeySequence::NativeText));
    }
    // Enter on a row edits it, as a double-click does.
    auto *enter = new QShortcut(QKeySequence(Qt::Key_Return), List, this, &Frmmain::List_DblClick);
    enter->setContext(Qt::WidgetShortcut);
    auto *keypadEnter = new QShortcut(QKeySequence(Qt::Key_Enter), List, this, &Frmmain::List_DblClick);
    keypadEnter->setContext(Qt::WidgetShortcut);
}

void Frmmain::connectUi()
{
    MakePickOnly(CmbID);
    MakePickOnly(CmbCom);
    connect(CmbID, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0)
            m_engine.DeviceAddress = uint8_t(i);
    });
    connect(CmbCom, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0)
            m_nComPort = i + 1;
    });
    connect(CmdOpen, &QPushButton::clicked, this, &Frmmain::CmdOpen_Click);
    connect(SSTab2, &QTabBar::tabBarClicked, this, [this](int i) {
        if (i >= 0 && SSTab2->isEnabled())
            SSTab2_Click(i);
    });
    connect(SSTab2, &QTabBar::currentChanged, this, [this](int i) {
        if (i >= 0 && i + 1 != m_engine.nPage)
            SSTab2_Click(i);
    });
    connect(List, &QTreeWidget::itemDoubleClicked, this, [this] { List_DblClick(); });
    connect(CmdAdd, &QPushButton::clicked, this, &Frmmain::CmdAdd_Click);
    connect(CmdDel, &QPushButton::clicked, this, &Frmmain::CmdDel_Click);
    connect(CmdDelAll, &QPushButton::clicked, this, &Frmmain::CmdDelAll_Click);
    connect(CmdSave, &QPushButton::clicked, this, &Frmmain::CmdSave_Click);
    connect(CmdSaveAs, &QPushButton::clicked, this, &Frmmain::CmdSaveAs_Click);
    connect(CmdOpenFile, &QPushButton::clicked, this, &Frmmain::CmdOpenFile_Click);
    connect(CmdQuit, &QPushButton::clicked, this, &QWidget::close);

    connect(CmdDown, &QPushButton::clicked, this, [this] { m_driver->write(m_engine.nPage); });
    connect(CmdDownAll, &QPushButton::clicked, this, [this] { m_driver->write(0); });
    connect(CmdUpload, &QPushButton::clicked, this, [this] { m_driver->read(m_engine.nPage); });
    connect(CmdUpLoadAll, &QPushButton::clicked, this, [this] { m_driver->read(0); });
    connect(CmdReadTime, &QPushButton::clicked, this, [this] { m_driver->readClock(); });
    connect(CmdSetTime, &QPushButton::clicked, this, [this] { m_driver->setClock(); });
    connect(CmdIn, &QPushButton::clicked, this, [this] { m_driver->switchRelay(m_engine.nPage, true); });
    connect(CmdOut, &QPushButton::clicked, this, [this] { m_driver->switchRelay(m_engine.nPage, false); });
    connect(CmdOpenAll, &QPushButton::clicked, this, [this] { m_driver->switchRelay(0, true); });
    connect(CmdCloseAll, &QPushButton::clicked, this, [this] { m_driver->switchRelay(0, false); });
    connect(CmdStop, &QPushButton::clicked, this, [this] { m_driver->stop(); });
    m_pace.setSingleShot(true);
    m_pace.setTimerType(Qt::PreciseTimer);
    connect(&m_pace, &QTimer::timeout, this, [this] { m_engine.pacedStep(); });
    // The automatic function has no behaviour of its own; clearing the flag stops its timer.
    connect(ChkAuto, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            Timer1.stop();
    });

    Timer1.setInterval(1000);
    Timer2.setInterval(int(kTickInterval.count()));
    Timer3.setInterval(1000);
    Timer4.setInterval(int(kClockShownFor.count()));
    Timer4.setSingleShot(true);
    connect(&Timer2, &QTimer::timeout, this, [this] { m_driver->tick(); });
    connect(&Timer3, &QTimer::timeout, this, &Frmmain::Timer3_Timer);
    connect(&Timer4, &QTimer::timeout, this, &Frmmain::Timer4_Timer);
}

void Frmmain::Form_Load()
{
    CmbID->clear();
    for (int i = 0; i <= 255; ++i)
        CmbID->addItem(QString::number(i));
    CmbID->setCurrentIndex(1);

    CmbCom->clear();
    for (int n = 1; n <= kPortCount; ++n)
        CmbCom->addItem(QStringLiteral("Com%1").arg(n));
    CmbCom->setCurrentIndex(0);

    const QStringList names = m_store.ReadNames();
    for (int i = 0; i < kChannelCount; ++i) {
        Shape1[i]->setColour(kLampGrey);
        SSTab2->setTabText(i, names[i]);
    }

    m_engine.nPage = 1;
    m_engine.DeviceAddress = 1;
    m_nComPort = 1;
    m_engine.bSyncRelay = true;

    const LoadedSchedules loaded = LoadSchedules(m_store.notePath());
    for (const EntryRef &e : loaded.entries)
        m_book.append(e);
    if (loaded.unreadable)
        m_startupNotice = QStringLiteral("Note.ini 无法读取，未载入任何计划（文件未改动）");
    else if (loaded.noSection)
        m_startupNotice = QStringLiteral("Note.ini 中没有[Note]节，未载入任何计划（文件未改动）");
    if (!loaded.skippedKeys.isEmpty())
        m_startupNotice = QStringLiteral("以下记录格式错误，未能载入（文件未改动）：") +
                          loaded.skippedKeys.join(QStringLiteral(", "));
    if (!loaded.overflowKeys.isEmpty())
        m_startupNotice += (m_startupNotice.isEmpty() ? QString() : QStringLiteral("\n")) +
                           QStringLiteral("以下记录超出每路255条，未能载入（文件未改动）：") +
                           loaded.overflowKeys.join(QStringLiteral(", "));

    setAutoFlag();
    m_engine.ClearWriteQueue();
    SSTab2->setCurrentIndex(0);
    FillList(1);
    m_engine.bManualPending = m_engine.bSetTimePending = false;

    applyLinkState(false);
    Timer3_Timer();
    Timer3.start();
}

void Frmmain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_startupNotice.isEmpty())
        return;
    // Told once, after the window is up; the file itself is left as it is.
    QTimer::singleShot(0, this, [this, text = std::exchange(m_startupNotice, {})] { m_prompts.message(this, text); });
}

void Frmmain::setAutoFlag()
{
    ChkAuto->setChecked(!m_book.isEmpty());
}

void Frmmain::FillList(int channel)
{
    List->clear();
    const QList<ListRow> rows = ::FillList(m_book, channel);
    QList<QTreeWidgetItem *> items;
    items.reserve(rows.size());
    for (const ListRow &row : rows) {
        auto *item = new QTreeWidgetItem({row.number, row.text});
        item->setData(0, Qt::UserRole, row.key);
        items.append(item);
    }
    List->addTopLevelItems(items);
    Q_EMIT bookTouched();
}

// ---------------------------------------------------------------- the link

void Frmmain::applyLinkState(bool open)
{
    CmdOpen->setText(open ? kClose : kOpen);
    CmbID->setEnabled(!open);
    CmbCom->setEnabled(!open);
    for (QPushButton *b : {CmdDown, CmdDownAll, CmdUpload, CmdUpLoadAll, CmdSetTime, CmdReadTime, CmdIn, CmdOut})
        b->setEnabled(open);
    for (QPushButton *b : {CmdAdd, CmdDel, CmdDelAll, CmdOpenFile, CmdSave, CmdSaveAs})
        b->setEnabled(!open);
    Q_EMIT commandsChanged();
}

void Frmmain::refreshPortToolTips()
{
    for (int n = 1; n <= CmbCom->count(); ++n)
        CmbCom->setItemData(n - 1, PortToolTip(n, m_store.folder()), Qt::ToolTipRole);
}

// Panel 1 after a refused open: why, where the system can tell.
QString Frmmain::openFailureText(const OpenResult &r) const
{
    if (r.error == OpenError::PermissionDenied)
        return PermissionHint(r.device, AccessOf(r.device));
    if (const QString gone = MissingLinkTarget(r.device); !gone.isEmpty())
        return QStringLiteral("Com%1 指向的 %2 不存在").arg(m_nComPort).arg(gone);
    if (r.device.isEmpty()) // a number that stands for no device: where its link would go
        return QStringLiteral("Com%1").arg(m_nComPort) + PortToolTip(m_nComPort, m_store.folder());
    return {};
}

void Frmmain::CmdOpen_Click()
{
    if (m_net) {
        if (CmdOpen->text() == kClose)
            leaveNetworkBoard();
        return;
    }
    if (CmdOpen->text() == kOpen) {
        if (m_link.isOpen())
            return;
        const OpenResult r = m_link.open(m_nComPort);
        // A hint from an earlier attempt no longer holds.
        SB[0]->setText(r.ok() ? QString() : openFailureText(r));
        if (!r.ok()) {
            m_prompts.message(this, kOpenError);
            return;
        }
        m_linkFailureShown = false;
        const ToolSettings settings(m_store.folder());
        m_setClockOnConnect = settings.setClockOnConnect();
        m_driftThreshold = settings.driftThreshold(kDefaultDriftThreshold);
        m_clockSeenSinceOpen = false;
        m_drift.clear();
        Timer2.start();
        applyLinkState(true);
        return;
    }
    if (m_link.isOpen())
        closeLink();
}

NetworkBoard *Frmmain::networkBoard() const
{
    return m_net ? m_net->board.get() : nullptr;
}

bool Frmmain::openNetworkBoard(const NetworkChoice &choice)
{
    if (!m_makeMqtt)
        return false;
    if (m_net)
        leaveNetworkBoard();
    else if (m_link.isOpen())
        closeLink();
    m_net = std::make_unique<Network>();
    m_net->choice = choice;
    m_net->mqtt = m_makeMqtt(choice.settings);
    m_net->board = std::make_unique<NetworkBoard>(*this, *m_net->mqtt, m_book, choice.baseTopic, choice.board,
                                                  QStringLiteral("kelmora@") + QSysInfo::machineHostName(),
                                                  [this] { return m_engine.now(); });
    m_net->board->setOnChange([this] {
        QStringList names;
        for (const QJsonValue &n : m_net->board->info().value(QStringLiteral("channels")).toArray())
            names << (n.toString().isEmpty() ? kDefaultChannelName : n.toString()); // the bridge has no name
        if (names.size() == kChannelCount)
            showTabNames(names);
    });
    m_net->board->setFrameObserver([this](const QJsonObject &o) {
        if (const auto r = FrameFromPayload(o); r && m_frameSink)
            m_frameSink(*r);
    });
    m_net->board->watchFrames(m_framesWanted);
    m_driver = m_net->board.get();
    SBNet->setText(QStringLiteral("网络：") + choice.label());
    SBNet->setVisible(true);
    const ToolSettings settings(m_store.folder());
    m_setClockOnConnect = settings.setClockOnConnect();
    m_driftThreshold = settings.driftThreshold(kDefaultDriftThreshold);
    m_clockSeenSinceOpen = false;
    m_drift.clear();
    applyLinkState(true);
    m_net->board->start();
    Timer2.start();
    return true;
}

void Frmmain::setFramesWanted(bool wanted)
{
    m_framesWanted = wanted;
    if (m_net)
        m_net->board->watchFrames(wanted);
}

void Frmmain::leaveNetworkBoard()
{
    Timer2.stop();
    Timer4.stop();
    m_net->board->leave();
    m_driver = &m_engine;
    m_net.reset();
    SB[0]->setText(QString());
    SB[1]->setText(QString());
    SBNet->clear();
    SBNet->setVisible(false);
    showTabNames(m_store.ReadNames());
    applyLinkState(false);
    SBDrift->clear();
    SBDrift->setStyleSheet(QString());
    SBDrift->setToolTip(QString());
}

void Frmmain::showTabNames(const QStringList &names)
{
    for (int i = 0; i < kChannelCount && i < names.size(); ++i)
        SSTab2->setTabText(i, names[i]);
}

void Frmmain::requestRefused(const QString &why)
{
    (void)why; // shown by the board in the box or panel the request has
}

void Frmmain::closeLink()
{
    m_link.close();
    if (m_scan)
        m_scan->stopScan();
    Timer2.stop();
    m_pace.stop();
    // The board's last time would pass for a live one.
    Timer4.stop();
    SB[0]->setText(QString());
    // The engine ends a transfer under way first; the link's state then decides the buttons.
    m_engine.linkClosed();
    applyLinkState(false);
    SBDrift->clear();
    SBDrift->setStyleSheet(QString());
    SBDrift->setToolTip(QString());
}

void Frmmain::onFrame(const Frame &frame)
{
    if (m_scan && m_scan->scanning())
        m_scan->onFrame(frame);
    else
        m_engine.MSCommDown_OnComm(frame);
}

void Frmmain::openScan()
{
    if (!m_scan) {
        ScanDialog::Hooks hooks;
        hooks.mayStart = [this] { return !m_net && m_link.isOpen() && !m_engine.transferUnderWay(); };
        hooks.lineTaken = [this](bool taken) {
            // The poll and the transfers stay off the line while the scan has it.
            if (taken) {
                Timer2.stop();
                m_pace.stop();
                m_engine.lineTakenElsewhere();
            } else if (m_link.isOpen()) {
                Timer2.start();
            }
        };
        hooks.useAddress = [this](int address) {
            if (address == CmbID->currentIndex())
                return;
            CmbID->setCurrentIndex(address);
            // Another board: its states are learned before a relay command may go.
            m_engine.lineTakenElsewhere();
        };
        m_scan = new ScanDialog(m_link, hooks, this);
        // The main window waits while the scan window is open: no transfer or
        // relay command can start beside a scan.
        m_scan->setWindowModality(Qt::WindowModal);
    }
    m_scan->show();
    m_scan->raise();
}

void Frmmain::onLinkFailed(const QString &)
{
    if (CmdOpen->text() == kClose)
        closeLink();
    if (m_linkFailureShown)
        return;
    m_linkFailureShown = true;
    m_prompts.message(this, kLinkFailed);
}

// ---------------------------------------------------------------- EngineView

void Frmmain::setActivityText(const QString &text)
{
    SB[0]->setText(text);
}
void Frmmain::setProgressVisible(bool visible)
{
    PB->setVisible(visible);
}
void Frmmain::setProgressMax(int max)
{
    PB->setMaximum(max);
}
void Frmmain::setProgressValue(int value)
{
    PB->setValue(value);
}
void Frmmain::setTabsEnabled(bool enabled)
{
    SSTab2->setEnabled(enabled);
}

void Frmmain::setWriteCommandsEnabled(bool enabled)
{
    CmdDown->setEnabled(enabled);
    CmdDownAll->setEnabled(enabled);
}

void Frmmain::setReadCommandsEnabled(bool enabled)
{
    CmdUpload->setEnabled(enabled);
    CmdUpLoadAll->setEnabled(enabled);
}

void Frmmain::setLamp(int index, uint32_t colour)
{
    if (index >= 0 && index < kChannelCount)
        Shape1[index]->setColour(colour);
}

uint32_t Frmmain::lampColour(int index) const
{
    return Shape1.at(index)->colour();
}

void Frmmain::setDebugText(const QString &text)
{
    LabDebug->setText(text);
}

void Frmmain::showChannel(int channel)
{
    m_engine.nPage = int16_t(channel);
    {
        const QSignalBlocker block(SSTab2);
        SSTab2->setCurrentIndex(channel - 1);
    }
    FillList(channel);
}

void Frmmain::showMessage(const QString &text)
{
    // The box opens from the event loop, not from inside a tick or a reply: its
    // nested loop then never holds up the decoding of the replies behind it.
    QTimer::singleShot(0, this, [this, text] {
        m_prompts.message(this, text);
        Q_EMIT messageClosed(text);
    });
}
bool Frmmain::ask(const QString &text)
{
    return m_prompts.confirm(this, text);
}
void Frmmain::startClockClearTimer()
{
    Timer4.start();
}
bool Frmmain::schedulePacedStep(std::chrono::milliseconds after)
{
    m_pace.start(after);
    return true;
}
void Frmmain::setTransferRunning(bool running)
{
    m_transferRunning = running;
    CmdStop->setVisible(running);
    CmdStop->setEnabled(running);
    if (!running)
        m_pace.stop();
    Q_EMIT commandsChanged();
}
void Frmmain::transferEnded(const TransferResult &result)
{
    Q_EMIT transferFinished(result);
}
void Frmmain::setTransferNote(const QString &text)
{
    SB[1]->setText(text);
    // The panel is narrow; the whole note (why other commands wait) shows on hover.
    SB[1]->setToolTip(text);
}

void Frmmain::boardClockSeen(const QDateTime &board, std::optional<qint64> drift)
{
    (void)board; // panel 1 shows the reading itself, as the reply's own text
    if (CmdOpen->text() != kClose)
        return; // a reply that came in as the link closed
    m_drift.add(drift, m_driftThreshold);
    const bool alarming = m_drift.alarming();
    SBDrift->setText(ClockDriftText(m_drift.drift()));
    const QString style = alarming ? QStringLiteral("QLabel { color: red; }") : QString();
    if (SBDrift->styleSheet() != style) // restyling is not free, and status replies come five times a second
        SBDrift->setStyleSheet(style);
    SBDrift->setToolTip(alarming ? ClockDriftHint() : QString());
    const bool first = !m_clockSeenSinceOpen;
    m_clockSeenSinceOpen = true;
    if (ShouldSetClockOnConnect(drift, m_driftThreshold, m_setClockOnConnect, first))
        CmdSetTime->click(); // the operator's own 对时, with its "设置成功！"
}

QString Frmmain::statusText(int panel) const
{
    return SB.at(panel - 1)->text();
}
QString Frmmain::rowText(int row) const
{
    return List->topLevelItem(row)->text(1);
}
int Frmmain::rowCount() const
{
    return List->topLevelItemCount();
}

// ---------------------------------------------------------------- tabs and timers

void Frmmain::SSTab2_Click(int index)
{
    m_engine.nPage = int16_t(index + 1);
    FillList(m_engine.nPage);
}

void Frmmain::Timer3_Timer()
{
    SB[2]->setText(m_engine.now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

void Frmmain::Timer4_Timer()
{
    SB[0]->setText(QString());
    Timer4.stop();
}

// ---------------------------------------------------------------- editing

void Frmmain::CmdAdd_Click()
{
    Dialog dlg(m_book, m_engine.nPage, this);
    dlg.bIsnew = true;
    dlg.notify = [this, &dlg](const QString &text) { m_prompts.message(&dlg, text); };
    dlg.load();
    m_prompts.runEditor(dlg);
    FillList(m_engine.nPage);
}

void Frmmain::List_DblClick()
{
    const QTreeWidgetItem *item = List->currentItem();
    // An entry may be on its way to or from the board: it is not edited meanwhile.
    if (!item || m_transferRunning)
        return;
    const int number = item->data(0, Qt::UserRole).toString().mid(5).toInt();
    EntryRef target;
    for (const EntryRef &e : m_book.channel(m_engine.nPage))
        if (e->nNo == number) {
            target = e;
            break;
        }
    if (!target)
        return;
    Dialog dlg(m_book, m_engine.nPage, this);
    dlg.bIsnew = false;
    dlg.mydata = target;
    dlg.notify = [this, &dlg](const QString &text) { m_prompts.message(&dlg, text); };
    dlg.load();
    m_prompts.runEditor(dlg);
    FillList(target->nRoute);
}

void Frmmain::CmdDel_Click()
{
    if (!m_prompts.confirm(this, QStringLiteral("删除当前信息吗？")))
        return;
    QList<int> rows;
    for (int i = 0; i < List->topLevelItemCount(); ++i)
        if (List->topLevelItem(i)->isSelected())
            rows.append(i + 1);
    DeleteRows(m_book, m_engine.nPage, rows);
    FillList(m_engine.nPage);
}

void Frmmain::CmdDelAll_Click()
{
    if (!m_prompts.confirm(this, QStringLiteral("删除所有信息吗？")))
        return;
    List->clear();
    DeleteChannel(m_book, m_engine.nPage);
    Q_EMIT bookTouched();
}

// ---------------------------------------------------------------- files

void Frmmain::CmdSave_Click()
{
    const SaveResult r = SaveSchedules(m_book, m_store.notePath());
    const bool ok = r == SaveOutcome::Saved;
    SB[0]->setText(ok ? QString() : QStringLiteral("保存失败：") + r.reason);
    if (ok)
        Q_EMIT saved();
    m_prompts.message(this, ok ? QStringLiteral("保存成功！") : QStringLiteral("保存失败！"));
}

void Frmmain::CmdSaveAs_Click()
{
    const QString path = m_prompts.saveFileName(this);
    if (path.isEmpty())
        return;
    const SaveResult r = ExportSchedules(m_book, path);
    const bool ok = r == SaveOutcome::Saved;
    SB[0]->setText(ok ? QString() : QStringLiteral("另存失败：") + r.reason);
    m_prompts.message(this, ok ? QStringLiteral("文件已另存为") + path : QStringLiteral("另存失败！"));
}

void Frmmain::CmdOpenFile_Click()
{
    const QString path = m_prompts.openFileName(this);
    if (path.isEmpty())
        return;
    const OpenedSchedules opened = OpenSchedules(path);
    if (!opened.ok) {
        m_prompts.message(this, OpenRefusal(opened, path));
        return;
    }
    m_edit->nameNextChange(QStringLiteral("打开 ") + QFileInfo(path).fileName());
    m_book.clear();
    for (const EntryRef &e : opened.entries)
        m_book.append(e);
    setAutoFlag();
    showChannel(1);
}

// ---------------------------------------------------------------- tools

QMenu *Frmmain::toolsMenu()
{
    if (!m_toolsMenu)
        m_toolsMenu = menuBar()->addMenu(QStringLiteral("工具"));
    return m_toolsMenu;
}

bool Frmmain::linkOpen() const
{
    return m_link.isOpen() || m_net;
}

void Frmmain::setLampRing(int index, std::optional<uint32_t> colour, bool dashed, const QString &note)
{
    Lamp *lamp = Shape1.at(index);
    lamp->setRing(colour, dashed);
    const QString base = QStringLiteral("第%1路").arg(index + 1);
    lamp->setToolTip(note.isEmpty() ? base : base + u'\n' + note);
}

std::optional<uint32_t> Frmmain::lampRing(int index) const
{
    return Shape1.at(index)->ring();
}
