// Home Assistant discovery: retained configs that list a board's sixteen
// switches, its clock drift and its clock-set button as one device.
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
// Empty retained payloads on every config topic of board `id`: Home Assistant forgets it.
QList<Publication> DiscoveryClears(const MqttSettings &mqtt, const QString &id);
