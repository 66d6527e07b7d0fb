#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "core/relay/allowednetworks.h"

class SettingsStore;
struct TextSetting;

// The allow-list a setting holds. Each entry that cannot be read, and a list
// with no usable entry (which takes no one), is told to error; place names
// what the list guards ("포트 8688", "웹 알림").
AllowedNetworks ReadAllowList(SettingsStore& settings, const TextSetting& setting,
                              const QString& place,
                              const std::function<void(const QByteArray&)>& error);
