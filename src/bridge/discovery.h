// Home Assistant discovery: retained configs that list a board's sixteen
// switches, its clock drift and its clock-set button as one device, and the
// bridge as a device of its own that every board is connected through.
#pragma once

#include "bridge/bridgeconfig.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>

using Publication = QPair<QString, QByteArray>; // topic, payload

// `names`: the channel names, channel 1 first; "第N路" for one missing or empty. `bridgeAvailability`:
// the bridge's own availability topic (its last will), listed beside the board's.
QList<Publication> DiscoveryConfigs(const MqttSettings &mqtt, const BoardSettings &board, const QStringList &names,
                                    const QString &bridgeAvailability);
// The bridge's own device: a connectivity sensor on its availability topic.
Publication BridgeDiscoveryConfig(const MqttSettings &mqtt, const QString &bridgeAvailability);
// Where the bridge with `clientId` has its config, so that one under a client_id given up can be cleared.
QString BridgeDiscoveryTopic(const MqttSettings &mqtt, const QString &clientId);
// A filter for every config of board `id`, whatever its component or object.
QString DiscoveryFilter(const MqttSettings &mqtt, const QString &id);
// An entity id's object part from any text: a-z 0-9 and _ only, as Home Assistant has them.
QString EntitySlug(const QString &text);
