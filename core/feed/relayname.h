#pragma once

#include <QString>

class SettingsStore;

// The relay's name in the events it publishes: RELAYNAME, or the host's name.
QString RelayName(SettingsStore& settings);
