#include "app/networkdialog.h"

#include "app/frmmain.h"
#include "storage/toolsettings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

NetworkDialog::NetworkDialog(Frmmain &window) : QDialog(&window), m_w(window)
{
    setWindowTitle(QStringLiteral("网络设备"));
    auto *root = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    const ToolSettings settings(window.store().folder());
    const ToolSettings::Broker last = settings.broker();
    broker = new QLineEdit(last.url.isEmpty() ? QStringLiteral("mqtt://") : last.url, this);
    broker->setPlaceholderText(QStringLiteral("mqtt://broker.lan 或 mqtts://broker.lan:8883"));
    user = new QLineEdit(last.user, this);
    password = new QLineEdit(settings.brokerPassword(), this);
    password->setEchoMode(QLineEdit::Password);
    remember = new QCheckBox(QStringLiteral("记住密码（仅本用户可读）"), this);
    remember->setChecked(!password->text().isEmpty());
    baseTopic = new QLineEdit(last.baseTopic, this);
    form->addRow(QStringLiteral("代理服务器"), broker);
    form->addRow(QStringLiteral("用户"), user);
    form->addRow(QStringLiteral("密码"), password);
    form->addRow(QString(), remember);
    form->addRow(QStringLiteral("主题前缀"), baseTopic);
    root->addLayout(form);
    auto *findButton = new QPushButton(QStringLiteral("查找设备"), this);
    root->addWidget(findButton);
    boards = new QTreeWidget(this);
    boards->setHeaderLabels({QStringLiteral("设备"), QStringLiteral("名称"), QStringLiteral("状态"),
                             QStringLiteral("桥接程序")});
    boards->setRootIsDecorated(false);
    boards->header()->setStretchLastSection(true);
    root->addWidget(boards, 1);
    note = new QLabel(this);
    note->setWordWrap(true);
    root->addWidget(note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("打开"));
    root->addWidget(buttons);
    connect(findButton, &QPushButton::clicked, this, &NetworkDialog::find);
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(boards, &QTreeWidget::itemDoubleClicked, this, &NetworkDialog::accept);
    resize(560, 420);
}

NetworkDialog::~NetworkDialog() = default;

std::optional<NetworkChoice> NetworkDialog::choice(QString *why) const
{
    std::optional<MqttSettings> s =
        ClientSettings(broker->text().trimmed(), {}, {}, NetworkClientId(QStringLiteral("kelmora")), why);
    if (!s)
        return std::nullopt;
    if (!user->text().trimmed().isEmpty())
        s->username = user->text().trimmed();
    s->password = password->text();
    NetworkChoice c{*s, baseTopic->text().trimmed(), {}};
    if (const QTreeWidgetItem *item = boards->currentItem())
        c.board = item->text(0);
    return c;
}

void NetworkDialog::find()
{
    QString why;
    const std::optional<NetworkChoice> c = choice(&why);
    boards->clear();
    if (!c) {
        note->setText(why);
        return;
    }
    note->setText(QStringLiteral("正在连接 %1 …").arg(c->settings.host));
    m_mqtt.reset();
    m_directory = std::make_unique<BoardDirectory>(c->baseTopic.isEmpty() ? QStringLiteral("kelmora") : c->baseTopic);
    m_mqtt = m_w.newMqttClient(c->settings);
    if (!m_mqtt)
        return;
    const auto refill = [this] {
        const QString chosen = boards->currentItem() ? boards->currentItem()->text(0) : QString();
        boards->clear();
        for (const KnownBoard &b : m_directory->boards()) {
            auto *item = new QTreeWidgetItem(
                {b.id, b.name, b.online ? QStringLiteral("在线") : QStringLiteral("离线"), b.bridge});
            boards->addTopLevelItem(item);
            if (b.id == chosen || (chosen.isEmpty() && boards->topLevelItemCount() == 1))
                boards->setCurrentItem(item);
        }
        note->setText(boards->topLevelItemCount() ? QString() : QStringLiteral("代理服务器上没有设备"));
    };
    m_mqtt->setHandlers({[this, refill] {
                             for (const QString &f : m_directory->filters())
                                 m_mqtt->subscribe(f);
                             refill();
                         },
                         [this](const QString &reason) { note->setText(QStringLiteral("无法连接代理服务器：") + reason); },
                         [this, refill](const QString &t, const QByteArray &p, bool) {
                             m_directory->take(t, p);
                             refill();
                         }});
    m_mqtt->start();
}

void NetworkDialog::accept()
{
    QString why;
    const std::optional<NetworkChoice> c = choice(&why);
    if (!c || c->board.isEmpty()) {
        note->setText(c ? QStringLiteral("请先查找并选择设备") : why);
        return;
    }
    const ToolSettings settings(m_w.store().folder());
    settings.setBroker({broker->text().trimmed(), user->text().trimmed(), c->baseTopic});
    if (!settings.setBrokerPassword(remember->isChecked() ? password->text() : QString()))
        note->setText(QStringLiteral("密码无法保存：") + settings.brokerPasswordPath());
    m_mqtt.reset();
    QDialog::accept();
    m_w.openNetworkBoard(*c);
}

void AddNetworkTool(Frmmain &window)
{
    if (!window.newMqttClient({}))
        return; // no broker client in this window
    window.toolsMenu()->addAction(QStringLiteral("网络设备…"), &window, [&window] {
        auto *dialog = new NetworkDialog(window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    });
}
