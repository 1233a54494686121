#include "app/scandialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

QString ScanNote(const BusScan &scan)
{
    const QString found = QStringLiteral("找到%1个设备").arg(scan.found().size());
    if (!scan.stoppedAt())
        return found;
    return QStringLiteral("已停止，地址%1至%2未搜索；%3").arg(*scan.stoppedAt()).arg(scan.to()).arg(found);
}

ScanDialog::ScanDialog(SerialLink &link, Hooks hooks, QWidget *parent)
    : QDialog(parent), m_link(link), m_hooks(std::move(hooks))
{
    setWindowTitle(QStringLiteral("搜索设备"));
    setObjectName(QStringLiteral("ScanDialog"));
    From = new QSpinBox(this);
    To = new QSpinBox(this);
    for (QSpinBox *s : {From, To})
        s->setRange(0, 255);
    From->setValue(0);
    To->setValue(255);
    CmdScan = new QPushButton(QStringLiteral("搜索"), this);
    CmdStop = new QPushButton(QStringLiteral("停止"), this);
    CmdUse = new QPushButton(QStringLiteral("使用"), this);
    PB = new QProgressBar(this);
    Found = new QListWidget(this);
    Note = new QLabel(this);
    From->setObjectName(QStringLiteral("From"));
    To->setObjectName(QStringLiteral("To"));
    CmdScan->setObjectName(QStringLiteral("CmdScan"));
    CmdStop->setObjectName(QStringLiteral("CmdStop"));
    CmdUse->setObjectName(QStringLiteral("CmdUse"));
    PB->setObjectName(QStringLiteral("ScanProgress")); // the main window has its own PB
    Found->setObjectName(QStringLiteral("Found"));
    From->setAccessibleName(QStringLiteral("起始地址"));
    To->setAccessibleName(QStringLiteral("结束地址"));
    Found->setAccessibleName(QStringLiteral("应答的地址"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("地址从"), this), 0, 0);
    grid->addWidget(From, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("到"), this), 0, 2, Qt::AlignRight);
    grid->addWidget(To, 0, 3);
    grid->addWidget(PB, 1, 0, 1, 4);
    grid->addWidget(Found, 2, 0, 1, 4);
    grid->addWidget(Note, 4, 0, 1, 4);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CmdScan);
    buttons->addWidget(CmdStop);
    buttons->addStretch();
    buttons->addWidget(CmdUse);
    grid->addLayout(buttons, 3, 0, 1, 4);

    m_timer.setInterval(int(kScanWindow.count()));
    connect(&m_timer, &QTimer::timeout, this, &ScanDialog::stepScan);
    connect(CmdScan, &QPushButton::clicked, this, &ScanDialog::startScan);
    connect(CmdStop, &QPushButton::clicked, this, &ScanDialog::stopScan);
    connect(CmdUse, &QPushButton::clicked, this, &ScanDialog::useSelected);
    connect(Found, &QListWidget::itemDoubleClicked, this, &ScanDialog::useSelected);
    connect(Found, &QListWidget::currentRowChanged, this, &ScanDialog::showState);
    showState();
}

ScanDialog::~ScanDialog()
{
    stopScan();
}

void ScanDialog::startScan()
{
    if (m_scan)
        return;
    if (!m_hooks.mayStart()) {
        Note->setText(QStringLiteral("串口未打开或正在传输，不能搜索"));
        return;
    }
    Note->setText(QString());
    Found->clear();
    m_scan = std::make_unique<BusScan>(m_link, From->value(), std::max(From->value(), To->value()));
    PB->setRange(0, m_scan->total());
    PB->setValue(0);
    m_hooks.lineTaken(true);
    stepScan();
    m_timer.start();
    showState();
}

void ScanDialog::stepScan()
{
    if (!m_scan)
        return;
    const bool more = m_scan->step();
    PB->setValue(m_scan->done());
    if (!more)
        stopScan();
}

void ScanDialog::onFrame(const Frame &frame)
{
    if (!m_scan)
        return;
    const qsizetype before = m_scan->found().size();
    m_scan->onFrame(frame);
    if (m_scan->found().size() > before)
        Found->addItem(QString::number(m_scan->found().last()));
}

void ScanDialog::stopScan()
{
    if (!m_scan)
        return;
    m_timer.stop();
    m_scan->stop();
    PB->setValue(m_scan->done());
    Note->setText(ScanNote(*m_scan));
    m_scan.reset();
    m_hooks.lineTaken(false);
    showState();
}

void ScanDialog::useSelected()
{
    if (QListWidgetItem *item = Found->currentItem())
        m_hooks.useAddress(item->text().toInt());
}

void ScanDialog::showState()
{
    const bool busy = scanning();
    CmdScan->setEnabled(!busy);
    CmdStop->setEnabled(busy);
    From->setEnabled(!busy);
    To->setEnabled(!busy);
    CmdUse->setEnabled(Found->currentItem() != nullptr);
}

void ScanDialog::closeEvent(QCloseEvent *event)
{
    stopScan();
    QDialog::closeEvent(event);
}
