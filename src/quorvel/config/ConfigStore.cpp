#include "quorvel/config/ConfigStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/SettingsXml.h"
#include "quorvel/prefs/BackingStoreException.h"
#include "quorvel/prefs/FilePreferences.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/util/NetworkPorts.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::config {

namespace {

using H = ConfigHelper;
using prefs::FilePreferences;

const char* const kPortalRestoreToken = "portalRestoreToken";

// A settings file too large to load could not have been imported either.
static_assert(FilePreferences::MAX_FILE_SIZE == SettingsXml::MAX_IMPORT_SIZE);

int systemError(const std::exception& e) {
    const auto* failure = dynamic_cast<const prefs::BackingStoreException*>(&e);
    return failure != nullptr ? failure->error() : 0;
}

std::optional<QString> nonEmptyProperty(const char* name) {
    const auto value = serialkit::SystemProperties::get(name);
    if (!value || value->empty())
        return std::nullopt;
    return QString::fromStdString(*value);
}

// A stored constant name; an unknown or wrongly written one gives the default.
template <typename E>
E loadChoice(const FilePreferences& node, const char* key, bool& allValid) {
    const QString stored = node.get(QLatin1String(key), Setting<E>::name(Setting<E>::getDefault()));
    if (Setting<E>::isValid(stored))
        return Setting<E>::fromName(stored);
    allValid = false;
    return Setting<E>::getDefault();
}

// A stored serial code: the position of one of the type's constants.
template <typename E>
int loadCode(const FilePreferences& node, const char* key, bool& allValid) {
    const int stored = node.getInt(QLatin1String(key), Setting<E>::getDefaultCode());
    if (Setting<E>::isValid(stored))
        return stored;
    allValid = false;
    return Setting<E>::getDefaultCode();
}

// A stored text setting checked by its type's test.
template <typename T>
QString loadText(const FilePreferences& node, const char* key, bool& allValid) {
    const QString stored = node.get(QLatin1String(key), T::getDefault());
    bool valid = false;
    try {
        valid = T::isValid(stored);
    } catch (const std::exception&) {
        valid = false;  // a test that trips over the text has not accepted it
    }
    if (valid)
        return stored;
    allValid = false;
    return T::getDefault();
}

template <typename E>
void saveChoice(FilePreferences& node, const char* key, E value) {
    node.put(QLatin1String(key), Setting<E>::name(value));
}

}  // namespace

QString ConfigStore::preferencesFileLocation() {
    QString base;
    if (auto programData = nonEmptyProperty("ProgramData")) {
        base = *programData;
    } else if (auto xdg = nonEmptyProperty("XDG_CONFIG_HOME")) {
        base = *xdg;
    } else {
        std::optional<QString> home = nonEmptyProperty("HOME");
        if (!home)
            home = nonEmptyProperty("user.home");
        base = (home ? *home : QDir::homePath()) + QStringLiteral("/.config");
    }
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    return base + QStringLiteral("/Varnholt/tolvane/prefs.txt");
}

void ConfigStore::usePreferencesFileLocation() {
    const char* property = prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE;
    QString file;
    if (auto chosen = nonEmptyProperty(property)) {
        file = *chosen;  // given on the command line or by a test: leave it alone
    } else {
        file = preferencesFileLocation();
        serialkit::SystemProperties::set(property, file.toStdString());
    }
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder))
        std::cerr << "Cannot create the settings folder " << folder.toStdString() << std::endl;
}

ConfigStore::ConfigStore(prefs::FilePreferences* root)
    : root_(root != nullptr ? root : prefs::FilePreferencesFactory::userRoot()) {
    node_ = root_->node(QLatin1String(NODE_PATH));
}

bool ConfigStore::loadConfig(Config& config, const QStringList& availablePorts) {
    node_ = root_->node(QLatin1String(NODE_PATH));
    const FilePreferences& n = *node_;
    bool allValid = !n.fileRefused();

    if (!availablePorts.isEmpty()) {
        config.setPort(n.get(QStringLiteral("port"), availablePorts.first()));
    } else if (const QString stored = n.get(QStringLiteral("port"), QString());
               util::NetworkPorts::isNetworkName(stored)) {
        // Never discovered, so an empty list says nothing about whether it is there.
        config.setPort(stored);
    }
    config.setPrevPort(n.get(QStringLiteral("prevPort"), config.getPort()));

    config.setInstrument(loadChoice<H::Instrument>(n, "instrument", allValid));
    config.setBitRate(loadCode<H::BitRates>(n, "bitRate", allValid));
    config.setDataBits(loadCode<H::DataBits>(n, "dataBits", allValid));
    config.setStopBits(loadCode<H::StopBits>(n, "stopBits", allValid));
    config.setParity(loadCode<H::Parity>(n, "parity", allValid));
    config.setDecimalSeparator(loadChoice<H::DecimalSeparator>(n, "decimalSeparator", allValid));
    {
        const int stored =
            n.getInt(QStringLiteral("inputTerminator"), H::InputTerminatorValue::getDefault());
        if (H::InputTerminatorValue::isValid(stored)) {
            config.setInputTerminator(stored);
        } else {
            config.setInputTerminator(H::InputTerminatorValue::getDefault());
            allValid = false;
        }
    }
    config.setStartWith(loadChoice<H::StartWith>(n, "startWith", allValid));
    config.setOutputTerminator(loadChoice<H::OutputTerminator>(n, "outputTerminator", allValid));
    config.setConnect(loadChoice<H::Connect>(n, "connect", allValid));
    config.setMathOperand(loadText<H::MathOperand>(n, "mathOperand", allValid));
    config.setMathOperation(loadChoice<H::MathOperation>(n, "mathOperation", allValid));
    config.setDecimalPlaces(loadText<H::DecimalPlaces>(n, "decimalPlaces", allValid));
    config.setRoundingMethod(loadChoice<H::RoundingMethod>(n, "roundingMethod", allValid));
    config.setSound(loadChoice<H::Sound>(n, "sound", allValid));
    config.setKeyboardType(loadChoice<H::KeyboardType>(n, "keyboardType", allValid));
    config.setDelay(loadText<H::Delay>(n, "delay", allValid));

    // A fresh installation shows no tray icon and asks nothing of the previous port.
    config.minimizeToTray = n.getBoolean(QStringLiteral("minimizeToTray"), false);
    config.notifyWhenMinimizedToTray =
        n.getBoolean(QStringLiteral("notifyWhenMinimizedToTray"), false);
    config.checkForUpdates = n.getBoolean(QStringLiteral("checkForUpdates"), true);
    config.abortAutoStartWhenPrevPortNotAvailable =
        n.getBoolean(QStringLiteral("abortAutoStartWhenPrevPortNotAvailable"), false);
    config.ignoreDuplicates = n.getBoolean(QStringLiteral("ignoreDuplicates"), false);
    config.stableOnly = n.getBoolean(QStringLiteral("stableOnly"), false);
    config.reconnect = n.getBoolean(QStringLiteral("reconnect"), true);
    config.requestInterval = loadText<H::RequestInterval>(n, "requestInterval", allValid);
    config.requestCommand = loadText<H::RequestCommand>(n, "requestCommand", allValid);
    config.requestHotkey = loadText<H::RequestHotkey>(n, "requestHotkey", allValid);
    config.valueLog = loadText<H::ValueLog>(n, "valueLog", allValid);

    config.setEditOperation(loadChoice<H::EditOperation>(n, "editOperation", allValid));
    config.setEditPosition(loadChoice<H::EditPosition>(n, "editPosition", allValid));
    config.setEditNumCharacters(loadText<H::EditNumCharacters>(n, "editNumCharacters", allValid));
    config.setRemoveCharacters(loadText<H::RemoveCharacters>(n, "removeCharacters", allValid));
    config.setIgnoreTimeLimit(loadText<H::IgnoreTimeLimit>(n, "ignoreTimeLimit", allValid));
    config.setIgnoreDifference(loadText<H::IgnoreDifference>(n, "ignoreDifference", allValid));
    config.setCustomRegEx(loadText<H::CustomRegEx>(n, "customRegEx", allValid));
    config.portalRestoreToken = n.get(QLatin1String(kPortalRestoreToken), QStringLiteral(""));
    return allValid;
}

bool ConfigStore::saveConfig(const Config& config) {
    bool saved = true;
    lastSaveError_ = 0;
    FilePreferences& n = *node_;
    // One file rewrite for the whole record, not one per value.
    FilePreferences::Batch batch(n);
    try {
        // An unset port (none given, none found) must not erase the one of an earlier run.
        if (!config.getPort().isNull()) {
            n.put(QStringLiteral("port"), config.getPort());
            n.put(QStringLiteral("prevPort"), config.getPort());
        }
        // Without an instrument the stored one stays; loading falls back to the default anyway.
        if (const auto instrument = config.getInstrument())
            saveChoice(n, "instrument", *instrument);
        n.putInt(QStringLiteral("bitRate"), config.getBitRate());
        n.putInt(QStringLiteral("dataBits"), config.getDataBits());
        n.putInt(QStringLiteral("stopBits"), config.getStopBits());
        n.putInt(QStringLiteral("parity"), config.getParity());
        n.putInt(QStringLiteral("inputTerminator"), config.getInputTerminator());
        saveChoice(n, "decimalSeparator", config.getDecimalSeparator());
        saveChoice(n, "sound", config.getSound());
        saveChoice(n, "startWith", config.getStartWith());
        saveChoice(n, "outputTerminator", config.getOutputTerminator());
        saveChoice(n, "connect", config.getConnect());
        saveChoice(n, "mathOperation", config.getMathOperation());
        n.put(QStringLiteral("mathOperand"), config.getMathOperand());
        n.put(QStringLiteral("decimalPlaces"), config.getDecimalPlaces());
        saveChoice(n, "roundingMethod", config.getRoundingMethod());
        saveChoice(n, "keyboardType", config.getKeyboardType());
        n.put(QStringLiteral("delay"), config.getDelay());
        n.putBoolean(QStringLiteral("minimizeToTray"), config.minimizeToTray);
        n.putBoolean(QStringLiteral("notifyWhenMinimizedToTray"), config.notifyWhenMinimizedToTray);
        n.putBoolean(QStringLiteral("checkForUpdates"), config.checkForUpdates);
        n.putBoolean(QStringLiteral("abortAutoStartWhenPrevPortNotAvailable"),
                     config.abortAutoStartWhenPrevPortNotAvailable);
        n.putBoolean(QStringLiteral("ignoreDuplicates"), config.ignoreDuplicates);
        n.putBoolean(QStringLiteral("stableOnly"), config.stableOnly);
        n.putBoolean(QStringLiteral("reconnect"), config.reconnect);
        n.put(QStringLiteral("requestInterval"), config.requestInterval);
        n.put(QStringLiteral("requestCommand"), config.requestCommand);
        n.put(QStringLiteral("requestHotkey"), config.requestHotkey);
        n.put(QStringLiteral("valueLog"), config.valueLog);
        saveChoice(n, "editOperation", config.getEditOperation());
        saveChoice(n, "editPosition", config.getEditPosition());
        n.put(QStringLiteral("editNumCharacters"), config.getEditNumCharacters());
        n.put(QStringLiteral("removeCharacters"), config.getRemoveCharacters());
        n.put(QStringLiteral("customRegEx"), config.getCustomRegEx());
        n.put(QStringLiteral("ignoreTimeLimit"), config.getIgnoreTimeLimit());
        n.put(QStringLiteral("ignoreDifference"), config.getIgnoreDifference());
        n.put(QLatin1String(kPortalRestoreToken), config.portalRestoreToken);
    } catch (const std::exception& e) {
        std::cerr << "saveConfig exception: " << e.what() << std::endl;
        saved = false;
    }
    try {
        n.flush();
    } catch (const std::exception& e) {
        std::cerr << "saveConfig exception: " << e.what() << std::endl;
        lastSaveError_ = systemError(e);
        saved = false;
    }
    return saved;
}

QString ConfigStore::settingsFolder() const {
    return QFileInfo(node_->file()).absolutePath();
}

bool ConfigStore::isAccessDenied(int error) {
    return error == EACCES || error == EPERM;
}

QString ConfigStore::describeError(int error) {
    switch (error) {
        case 0:
            return QStringLiteral("an unexpected error");
        case EACCES:
        case EPERM:
            return QStringLiteral("access was denied");
        case ENOSPC:
            return QStringLiteral("no space left on the device");
        case EDQUOT:
            return QStringLiteral("the disk quota is used up");
        case EROFS:
            return QStringLiteral("the disk is read-only");
        case EIO:
            return QStringLiteral("the disk reported a read or write error");
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("the folder does not exist");
        default: {
            // The system's own words, without the capital: they end up inside a sentence.
            QString text =
                QString::fromStdString(std::error_code(error, std::generic_category()).message());
            if (!text.isEmpty())
                text[0] = text[0].toLower();
            return text;
        }
    }
}

void ConfigStore::exportSettings(const QString& path) {
    SettingsXml::Entries entries;
    for (const QString& key : node_->keys()) {
        // A permission granted by this desktop is no setting to carry to another one.
        if (key != QLatin1String(kPortalRestoreToken))
            entries.emplace_back(key, node_->get(key, QString()));
    }
    const QByteArray document = SettingsXml::write(QLatin1String(NODE_PATH), entries);

    // Through a temporary file, so a failed export never leaves half a file behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size() ||
        !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw std::runtime_error(
            QStringLiteral("The file %1 could not be written: %2").arg(path, reason).toStdString());
    }
}

void ConfigStore::importSettings(const QString& path) {
    // Everything is read and checked before the first value reaches the store.
    const SettingsXml::Entries entries = SettingsXml::readFile(path, QLatin1String(NODE_PATH));

    FilePreferences::Batch batch(*node_);
    std::vector<std::pair<QString, std::optional<QString>>> previous;
    previous.reserve(entries.size());
    try {
        for (const auto& [key, value] : entries) {
            // Nor may a file bring a permission the desktop never gave here.
            if (key == QLatin1String(kPortalRestoreToken))
                continue;
            std::optional<QString> old;
            if (node_->keys().contains(key))
                old = node_->get(key, QString());
            previous.emplace_back(key, old);
            node_->put(key, value);
        }
        node_->flush();
    } catch (const std::exception& e) {
        // Put back what was there, newest first, so a key listed twice ends as it began.
        for (auto it = previous.rbegin(); it != previous.rend(); ++it) {
            try {
                if (it->second)
                    node_->put(it->first, *it->second);
                else
                    node_->remove(it->first);
            } catch (const std::exception&) {
                // keep restoring the others
            }
        }
        throw std::runtime_error(std::string("The settings could not be stored: ") + e.what());
    }
}

}  // namespace quorvel::config
