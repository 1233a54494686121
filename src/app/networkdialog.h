// 工具 › 网络设备…: a board that kelmora-bridge holds, chosen from what the broker offers;
// the window then works on it as on a serial port.
#pragma once

#include "bridge/networkboard.h"

#include <QDialog>

#include <memory>
#include <optional>

class Frmmain;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

class NetworkDialog final : public QDialog {
public:
    explicit NetworkDialog(Frmmain &window);
    ~NetworkDialog() override;

    QLineEdit *broker = nullptr, *user = nullptr, *password = nullptr, *baseTopic = nullptr;
    QCheckBox *remember = nullptr;
    QTreeWidget *boards = nullptr;
    QLabel *note = nullptr;

    // Connects with what the fields say and lists the boards the broker offers.
    void find();
    // The chosen board with its login; empty while none is chosen or the fields are wrong.
    std::optional<NetworkChoice> choice(QString *why) const;

private:
    void accept() override;

    Frmmain &m_w;
    std::unique_ptr<MqttClient> m_mqtt;
    std::unique_ptr<BoardDirectory> m_directory;
};

void AddNetworkTool(Frmmain &window);
