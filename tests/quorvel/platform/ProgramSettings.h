#pragma once

// The settings the real program is started with by the end-to-end tests and benchmarks.

#include <QString>

#include <stdexcept>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/config/Instrument.h"

namespace quorvel::platform::test {

// Saves to the current settings file: automatic start, Enter after each value, the key delay
// `delay`, nothing that opens a window besides the main one (no tray, no update check) and no
// sound; `port` when one is given.
inline void saveProgramSettings(const QString& delay, const QString& port = QString()) {
    using H = config::ConfigHelper;
    config::Config settings = config::InstrumentPresets::getDefaultConfig(H::Instrument::GENERIC);
    settings.setInstrument(H::Instrument::GENERIC);
    if (!port.isEmpty())
        settings.setPort(port);
    settings.setConnect(H::Connect::AUTO);
    settings.setOutputTerminator(H::OutputTerminator::ENTER);
    settings.setSound(H::Sound::NONE);
    settings.setDelay(delay);
    settings.minimizeToTray = false;
    settings.notifyWhenMinimizedToTray = false;
    settings.checkForUpdates = false;
    settings.abortAutoStartWhenPrevPortNotAvailable = false;
    config::ConfigStore store;
    if (!store.saveConfig(settings))
        throw std::runtime_error("the settings could not be saved");
}

}  // namespace quorvel::platform::test
