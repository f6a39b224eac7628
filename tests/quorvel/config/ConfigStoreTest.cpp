#include "quorvel/config/ConfigStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "quorvel/config/Config.h"
#include "quorvel/config/SettingsXml.h"
#include "quorvel/prefs/FilePreferences.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/support/TempPrefs.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::config {
namespace {

using H = ConfigHelper;
using prefs::FilePreferences;
using prefs::FilePreferencesFactory;
using support::TempPrefs;

const QString NODE = QLatin1String(ConfigStore::NODE_PATH);

// A store over its own root of `file`, as a new run of the program would have it.
struct Store {
    explicit Store(const QString& file)
        : root(FilePreferences::createRoot(file)), store(root.get()) {}
    std::unique_ptr<FilePreferences> root;
    ConfigStore store;
};

// Every field away from its default, texts with characters the file format must escape.
Config customConfig() {
    Config c;
    c.setPort(QString::fromUtf8(" COM=7:#ü\nx"));
    c.setInstrument(H::Instrument::KERN_KB_N);
    c.setBitRate(11);
    c.setDataBits(2);
    c.setStopBits(1);
    c.setParity(2);
    c.setInputTerminator(3);
    c.setDecimalSeparator(H::DecimalSeparator::COMMA);
    c.setStartWith(H::StartWith::F12);
    c.setOutputTerminator(H::OutputTerminator::TAB);
    c.setConnect(H::Connect::AUTO);
    c.setMathOperation(H::MathOperation::DIVIDE);
    c.setMathOperand("-2.5E3");
    c.setDecimalPlaces("7");
    c.setRoundingMethod(H::RoundingMethod::HALF_EVEN);
    c.setSound(H::Sound::CLAVES);
    c.setKeyboardType(H::KeyboardType::AZERTY);
    c.setDelay("1000");
    c.setEditOperation(H::EditOperation::KEEP);
    c.setEditPosition(H::EditPosition::LAST);
    c.setEditNumCharacters("99");
    c.setRemoveCharacters(QString::fromUtf8("  =:#!\\é\n\t") + QChar(2) + QChar(0xFF));
    c.setCustomRegEx(QString::fromUtf8("^\\s*=:#é\\n(\\d+)\\s*\"kg\""));
    c.setIgnoreTimeLimit("3600");
    c.setIgnoreDifference("0.05");
    c.minimizeToTray = true;
    c.notifyWhenMinimizedToTray = true;
    c.checkForUpdates = false;
    c.abortAutoStartWhenPrevPortNotAvailable = true;
    c.ignoreDuplicates = true;
    c.stableOnly = true;
    c.requestInterval = "500";
    c.requestCommand = "\\x1bP\\r\\n";
    c.requestHotkey = "Ctrl+F9";
    c.reconnect = false;
    c.valueLog = "/var/lib/lab/readings.csv";
    c.portalRestoreToken = "5f0c2a9e-7d41-4b8e-a3f6-token";
    return c;
}

std::string describe(const Config& c) {
    QStringList parts{c.getPort(),
                      c.getInstrument() ? Setting<H::Instrument>::name(*c.getInstrument()) : "-",
                      QString::number(c.getBitRate()),
                      QString::number(c.getDataBits()),
                      QString::number(c.getStopBits()),
                      QString::number(c.getParity()),
                      QString::number(c.getInputTerminator()),
                      c.getMathOperand(),
                      c.getDecimalPlaces(),
                      c.getDelay(),
                      c.getEditNumCharacters(),
                      c.getRemoveCharacters(),
                      c.getCustomRegEx(),
                      c.getIgnoreTimeLimit(),
                      c.getIgnoreDifference()};
    return parts.join(" | ").toStdString();
}

// Captures what is written to standard error while it lives.
class CerrCapture {
  public:
    CerrCapture() : old_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(old_); }
    std::string text() const { return buffer_.str(); }

  private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

// Sets or unsets environment variables for one test and puts them back afterwards.
class EnvGuard {
  public:
    void set(const char* name, const char* value) {
        remember(name);
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }

  private:
    void remember(const char* name) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ConfigStoreTest, AnEmptyStoreGivesTheSettingsOfAFreshInstallation) {
    TempPrefs prefs;
    Store s(prefs.file());
    Config c;  // plain construction differs from a fresh installation in its flags
    std::vector<QString> notified;
    c.addPropertyChangeListener(
        [&](const QString& property, auto, auto) { notified.push_back(property); });

    EXPECT_TRUE(s.store.loadConfig(c, {"COM3", "COM4"}));

    EXPECT_EQ(c.getPort(), "COM3");
    EXPECT_EQ(c.getPrevPort(), "COM3");
    EXPECT_EQ(c.getInstrument(), H::Instrument::GENERIC);
    EXPECT_EQ(notified, std::vector<QString>{"NUMBER"});
    EXPECT_EQ(c.getBitRate(), 7);
    EXPECT_EQ(c.getDataBits(), 3);
    EXPECT_EQ(c.getStopBits(), 0);
    EXPECT_EQ(c.getParity(), 0);
    EXPECT_EQ(c.getInputTerminator(), 13);
    EXPECT_EQ(c.getDecimalSeparator(), H::DecimalSeparator::DOT);
    EXPECT_EQ(c.getStartWith(), H::StartWith::NONE);
    EXPECT_EQ(c.getOutputTerminator(), H::OutputTerminator::NONE);
    EXPECT_EQ(c.getConnect(), H::Connect::MANUAL);
    EXPECT_EQ(c.getMathOperation(), H::MathOperation::NONE);
    EXPECT_EQ(c.getRoundingMethod(), H::RoundingMethod::HALF_UP);
    EXPECT_EQ(c.getSound(), H::Sound::NONE);
    EXPECT_EQ(c.getKeyboardType(), H::KeyboardType::QUERTY);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(c.getEditOperation(), H::EditOperation::REMOVE);
    EXPECT_EQ(c.getEditPosition(), H::EditPosition::FIRST);
    for (const QString& text : {c.getMathOperand(), c.getDecimalPlaces(), c.getEditNumCharacters(),
                                c.getRemoveCharacters(), c.getCustomRegEx(), c.getIgnoreTimeLimit(),
                                c.getIgnoreDifference()})
        EXPECT_EQ(text, "");
    EXPECT_FALSE(c.minimizeToTray);
    EXPECT_FALSE(c.notifyWhenMinimizedToTray);
    EXPECT_TRUE(c.checkForUpdates);
    EXPECT_FALSE(c.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_FALSE(c.ignoreDuplicates);
    EXPECT_FALSE(c.stableOnly);
}

struct BadValue {
    const char* key;
    const char* stored;
    std::function<void(Config&)> resetToDefault;
};

TEST(ConfigStoreTest, EachInvalidStoredValueFallsBackAloneAndIsReported) {
    const auto instrument = [](Config& c) { c.setInstrument(H::Instrument::GENERIC); };
    const auto bitRate = [](Config& c) { c.setBitRate(7); };
    const auto terminator = [](Config& c) { c.setInputTerminator(13); };
    const auto decimalPlaces = [](Config& c) { c.setDecimalPlaces(""); };
    const auto delay = [](Config& c) { c.setDelay("20"); };
    const auto editNum = [](Config& c) { c.setEditNumCharacters(""); };
    const auto timeLimit = [](Config& c) { c.setIgnoreTimeLimit(""); };
    const auto difference = [](Config& c) { c.setIgnoreDifference(""); };
    const auto operand = [](Config& c) { c.setMathOperand(""); };
    const auto regex = [](Config& c) { c.setCustomRegEx(""); };
    const std::vector<BadValue> cases = {
        {"instrument", "kern_kb_n", instrument},
        {"instrument", "SCALE", instrument},
        {"instrument", "", instrument},
        {"bitRate", "15", bitRate},
        {"bitRate", "-1", bitRate},
        {"dataBits", "4", [](Config& c) { c.setDataBits(3); }},
        {"stopBits", "2", [](Config& c) { c.setStopBits(0); }},
        {"parity", "5", [](Config& c) { c.setParity(0); }},
        {"inputTerminator", "256", terminator},
        {"inputTerminator", "-1", terminator},
        {"decimalSeparator", "comma",
         [](Config& c) { c.setDecimalSeparator(H::DecimalSeparator::DOT); }},
        {"startWith", "f12", [](Config& c) { c.setStartWith(H::StartWith::NONE); }},
        {"outputTerminator", "Tab",
         [](Config& c) { c.setOutputTerminator(H::OutputTerminator::NONE); }},
        {"connect", "auto", [](Config& c) { c.setConnect(H::Connect::MANUAL); }},
        {"mathOperand", "abc", operand},
        {"mathOperand", "2,5", operand},
        {"mathOperand", "0", operand},
        {"mathOperation", "ADD", [](Config& c) { c.setMathOperation(H::MathOperation::NONE); }},
        {"decimalPlaces", "8", decimalPlaces},
        {"decimalPlaces", "-1", decimalPlaces},
        {"decimalPlaces", "two", decimalPlaces},
        {"roundingMethod", "half_up",
         [](Config& c) { c.setRoundingMethod(H::RoundingMethod::HALF_UP); }},
        {"sound", "BELL", [](Config& c) { c.setSound(H::Sound::NONE); }},
        {"keyboardType", "QWERTY", [](Config& c) { c.setKeyboardType(H::KeyboardType::QUERTY); }},
        {"delay", "1001", delay},
        {"delay", "-1", delay},
        {"delay", "fast", delay},
        {"editOperation", "keep", [](Config& c) { c.setEditOperation(H::EditOperation::REMOVE); }},
        {"editPosition", "\\ LAST", [](Config& c) { c.setEditPosition(H::EditPosition::FIRST); }},
        {"editNumCharacters", "0", editNum},
        {"editNumCharacters", "100", editNum},
        {"editNumCharacters", "x", editNum},
        {"removeCharacters", "\\u20AC", [](Config& c) { c.setRemoveCharacters(""); }},
        {"ignoreTimeLimit", "0", timeLimit},
        {"ignoreTimeLimit", "1.5", timeLimit},
        {"ignoreDifference", "0", difference},
        {"ignoreDifference", "-0.1", difference},
        {"ignoreDifference", "small", difference},
        {"customRegEx", "(\\d+", regex},
        {"customRegEx", "\\d+", regex},
        {"requestInterval", "50", [](Config& c) { c.requestInterval = "0"; }},
        {"requestInterval", "", [](Config& c) { c.requestInterval = "0"; }},
        {"requestCommand", "SI\\\\x4", [](Config& c) { c.requestCommand = ""; }},
        {"requestHotkey", "Ctrl+", [](Config& c) { c.requestHotkey = ""; }},
        {"valueLog", "readings.csv", [](Config& c) { c.valueLog = ""; }},
    };
    TempPrefs prefs;
    {
        Store writer(prefs.file());
        writer.store.saveConfig(customConfig());
    }
    const QByteArray saved = prefs.read();
    for (const BadValue& bad : cases) {
        SCOPED_TRACE(std::string(bad.key) + " = " + bad.stored);
        // Written by hand as another tool would, in the file's own escaping.
        QByteArray file = saved;
        const QByteArray prefix = "com.varnholt.tolvane." + QByteArray(bad.key) + "=";
        const qsizetype at = file.indexOf("\n" + prefix);
        ASSERT_GE(at, 0);
        const qsizetype end = file.indexOf('\n', at + 1);
        file.replace(at + 1, end - at - 1, prefix + bad.stored);
        prefs.write(file);

        Store reader(prefs.file());
        Config loaded;
        EXPECT_FALSE(reader.store.loadConfig(loaded, {"COM1"}));
        Config expected = customConfig();
        bad.resetToDefault(expected);
        EXPECT_FALSE(expected.hasChanged(loaded)) << describe(loaded);
    }
}

TEST(ConfigStoreTest, ValuesAtTheEdgesOfTheirRangesAreKept) {
    using Get = std::function<QString(const Config&)>;
    const Get terminator = [](const Config& c) { return QString::number(c.getInputTerminator()); };
    const Get places = [](const Config& c) { return c.getDecimalPlaces(); };
    const Get delay = [](const Config& c) { return c.getDelay(); };
    const Get editNum = [](const Config& c) { return c.getEditNumCharacters(); };
    const Get bitRate = [](const Config& c) { return QString::number(c.getBitRate()); };
    const struct {
        const char* key;
        const char* value;
        Get get;
    } cases[] = {
        {"inputTerminator", "0", terminator},
        {"inputTerminator", "255", terminator},
        {"decimalPlaces", "0", places},
        {"decimalPlaces", "7", places},
        {"decimalPlaces", "", places},
        {"delay", "1000", delay},
        {"delay", "0", delay},
        {"delay", "", delay},
        {"editNumCharacters", "1", editNum},
        {"editNumCharacters", "99", editNum},
        {"mathOperand", "0.0", [](const Config& c) { return c.getMathOperand(); }},
        {"ignoreTimeLimit", "1", [](const Config& c) { return c.getIgnoreTimeLimit(); }},
        {"ignoreDifference", "0.001", [](const Config& c) { return c.getIgnoreDifference(); }},
        {"bitRate", "14", bitRate},
        {"bitRate", "0", bitRate},
    };
    TempPrefs prefs;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value);
        prefs.write("com.varnholt.tolvane." + QByteArray(c.key) + "=" + c.value + "\n");
        Store reader(prefs.file());
        Config loaded;
        EXPECT_TRUE(reader.store.loadConfig(loaded, {}));
        EXPECT_EQ(c.get(loaded), c.value);
    }
}

TEST(ConfigStoreTest, UnreadableIntegersAndFlagsCountAsAbsent) {
    TempPrefs prefs;
    {
        Store writer(prefs.file());
        writer.store.saveConfig(customConfig());
        writer.store.node()->put("bitRate", "fast");
        writer.store.node()->put("inputTerminator", "CR");
        writer.store.node()->put("checkForUpdates", "no");
        writer.store.node()->put("ignoreDuplicates", "1");
        writer.store.node()->put("stableOnly", "yes");
    }
    Store reader(prefs.file());
    Config loaded;
    EXPECT_TRUE(reader.store.loadConfig(loaded, {}));
    EXPECT_EQ(loaded.getBitRate(), 7);
    EXPECT_EQ(loaded.getInputTerminator(), 13);
    EXPECT_TRUE(loaded.checkForUpdates);
    EXPECT_FALSE(loaded.ignoreDuplicates);
    EXPECT_FALSE(loaded.stableOnly);
    EXPECT_EQ(loaded.getDataBits(), 2);  // the neighbours are still read
    EXPECT_TRUE(loaded.minimizeToTray);
}

TEST(ConfigStoreTest, PortAndPreviousPortFollowTheirOwnRules) {
    TempPrefs prefs;
    {
        // No ports found: the port of the Config stays, the previous port is still read.
        Store s(prefs.file());
        s.store.node()->put("port", "COM1");
        s.store.node()->put("prevPort", "COM2");
        Config c;
        c.setPort("COM9");
        s.store.loadConfig(c, {});
        EXPECT_EQ(c.getPort(), "COM9");
        EXPECT_EQ(c.getPrevPort(), "COM2");
        // A stored port is taken even when it is not in the list.
        s.store.loadConfig(c, {"COM5", "COM6"});
        EXPECT_EQ(c.getPort(), "COM1");
        // Without a stored previous port, the port just loaded stands in.
        s.store.node()->remove("prevPort");
        s.store.loadConfig(c, {"COM5"});
        EXPECT_EQ(c.getPrevPort(), "COM1");
        s.store.node()->remove("port");
        s.store.loadConfig(c, {"COM5", "COM6"});
        EXPECT_EQ(c.getPort(), "COM5");
        EXPECT_EQ(c.getPrevPort(), "COM5");
        // A network port is never discovered: it is taken even when no port was found.
        for (const char* stored : {"rfc2217://scale-3.lab:2217", "TCP://[::1]:4001"}) {
            s.store.node()->put("port", stored);
            c.setPort("COM9");
            s.store.loadConfig(c, {});
            EXPECT_EQ(c.getPort(), stored);
        }
    }
    {
        // An unset port saves neither key and leaves the stored ones alone.
        Store s(prefs.file());
        s.store.node()->put("port", "COM1");
        s.store.node()->put("prevPort", "COM2");
        Config c = customConfig();
        c.setPort(QString());
        s.store.saveConfig(c);
        Store again(prefs.file());
        EXPECT_EQ(again.store.node()->get("port", "(absent)"), "COM1");
        EXPECT_EQ(again.store.node()->get("prevPort", "(absent)"), "COM2");
        EXPECT_EQ(again.store.node()->get("delay", "(absent)"), "1000");
    }
    {
        // An empty port is a port: both keys become empty, and load keeps them empty.
        Store s(prefs.file());
        Config c = customConfig();
        c.setPort("");
        s.store.saveConfig(c);
        Store again(prefs.file());
        EXPECT_TRUE(again.store.node()->keys().contains("port"));
        EXPECT_TRUE(again.store.node()->keys().contains("prevPort"));
        Config loaded;
        again.store.loadConfig(loaded, {"COM1"});
        EXPECT_EQ(loaded.getPort(), "");
        EXPECT_EQ(loaded.getPrevPort(), "");
    }
    {
        // This run's port becomes the previous port of the next run.
        Store s(prefs.file());
        Config c = customConfig();
        c.setPort("COM5");
        c.setPrevPort("COM2");
        s.store.saveConfig(c);
        Store again(prefs.file());
        Config loaded;
        again.store.loadConfig(loaded, {"COM1"});
        EXPECT_EQ(loaded.getPort(), "COM5");
        EXPECT_EQ(loaded.getPrevPort(), "COM5");
    }
}

TEST(ConfigStoreTest, SavedSettingsComeBackUnchangedInANewStore) {
    TempPrefs prefs;
    const Config saved = customConfig();
    {
        Store s(prefs.file());
        s.store.saveConfig(saved);
    }
    Store s(prefs.file());
    Config loaded;
    EXPECT_TRUE(s.store.loadConfig(loaded, {"COM1"}));
    EXPECT_FALSE(saved.hasChanged(loaded)) << describe(loaded);
    EXPECT_EQ(loaded.getPort(), saved.getPort());
    EXPECT_EQ(loaded.getPrevPort(), saved.getPort());
    EXPECT_EQ(loaded.getRemoveCharacters(), saved.getRemoveCharacters());
    EXPECT_EQ(loaded.getCustomRegEx(), saved.getCustomRegEx());
}

TEST(ConfigStoreTest, AGarbageFileLoadsWhatItCanAndTheRestAsDefaults) {
    TempPrefs prefs;
    QByteArray garbage("\x00\x01\xFF\xFE=\\u12\n\\\n", 10);
    for (int i = 0; i < 2000; ++i) garbage += char((i * 37 + 11) % 256);
    garbage += "\ncom.varnholt.tolvane.delay=50\ncom.varnholt.tolvane.sound=\\uZZZZ\n";
    garbage += "com.varnholt.tolvane.bitRate=\\u00\n\xC3\x28";
    prefs.write(garbage);

    Store s(prefs.file());
    Config c;
    s.store.loadConfig(c, {"COM1"});
    EXPECT_EQ(c.getDelay(), "50");
    EXPECT_EQ(c.getSound(), H::Sound::NONE);
    EXPECT_EQ(c.getBitRate(), 7);
    EXPECT_EQ(c.getKeyboardType(), H::KeyboardType::QUERTY);
    // And the next save writes a file that loads cleanly.
    s.store.saveConfig(customConfig());
    Store again(prefs.file());
    Config loaded;
    EXPECT_TRUE(again.store.loadConfig(loaded, {"COM1"}));
    EXPECT_FALSE(customConfig().hasChanged(loaded));

    // A file too large to read gives only defaults, which counts as a failed load.
    QByteArray huge("com.varnholt.tolvane.delay=50\n#");
    huge += QByteArray(FilePreferences::MAX_FILE_SIZE, 'x');
    prefs.write(huge);
    Store large(prefs.file());
    EXPECT_FALSE(large.store.loadConfig(loaded, {"COM1"}));
    EXPECT_EQ(loaded.getDelay(), "20");
}

TEST(ConfigStoreTest, AFailedSaveIsOnlyReportedOnStandardError) {
    TempPrefs prefs;
    Store s(prefs.file());
    s.store.saveConfig(customConfig());
    const QByteArray before = prefs.read();

    FilePreferencesFactory::setBeforeReplaceHookForTesting([](const QString&) { return false; });
    Config other = customConfig();
    other.setDelay("30");
    CerrCapture cerr;
    EXPECT_NO_THROW(s.store.saveConfig(other));
    FilePreferencesFactory::setBeforeReplaceHookForTesting({});

    EXPECT_NE(cerr.text().find("saveConfig exception: "), std::string::npos) << cerr.text();
    EXPECT_EQ(prefs.read(), before);

    // The system's reason reaches the caller, so a full disk is not reported as a refusal.
    const struct {
        int error;
        const char* words;
    } failures[] = {
        {ENOSPC, "no space left on the device"}, {EDQUOT, "the disk quota is used up"},
        {EROFS, "the disk is read-only"},        {EIO, "the disk reported a read or write error"},
        {EACCES, "access was denied"},
    };
    for (const auto& f : failures) {
        FilePreferencesFactory::setWriteFailureForTesting(f.error);
        EXPECT_FALSE(s.store.saveConfig(other));
        EXPECT_EQ(s.store.lastSaveError(), f.error) << f.words;
        EXPECT_EQ(ConfigStore::describeError(f.error), f.words);
        EXPECT_EQ(ConfigStore::isAccessDenied(f.error), f.error == EACCES) << f.words;
    }
    FilePreferencesFactory::setWriteFailureForTesting(0);
    EXPECT_TRUE(s.store.saveConfig(other));
    EXPECT_EQ(s.store.lastSaveError(), 0);
}

// A real full disk: a tmpfs of 64 KiB, which only root can mount.
TEST(ConfigStoreTest, AFullDiskIsReportedAsSuchAndLeavesTheFile) {
    TempPrefs prefs;
    const QByteArray dir = QFile::encodeName(prefs.dir());
    if (::geteuid() != 0 || ::mount("tmpfs", dir.constData(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "needs root and a tmpfs mount";
    }
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(dir, MNT_DETACH); });
    Store s(prefs.file());
    ASSERT_TRUE(s.store.saveConfig(customConfig()));
    const QByteArray before = prefs.read();
    const int fd = ::open(dir + "/filler", O_WRONLY | O_CREAT, 0600);
    const QByteArray block(4096, 'x');
    while (::write(fd, block.constData(), block.size()) > 0) {
    }
    ::close(fd);

    Config other = customConfig();
    other.setDelay("30");
    EXPECT_FALSE(s.store.saveConfig(other));
    EXPECT_EQ(s.store.lastSaveError(), ENOSPC);
    EXPECT_EQ(prefs.read(), before);
    EXPECT_EQ(QDir(prefs.dir()).entryList(QDir::Files).size(), 2) << "no temporary file left";
}

TEST(ConfigStoreTest, ExportThenImportRestoresEverySetting) {
    TempPrefs source;
    const QString exported = source.dir() + "/tolvane.xml";
    {
        Store s(source.file());
        s.store.saveConfig(customConfig());
        support::writeWholeFile(exported, "an older export");
        s.store.exportSettings(exported);
    }
    // One entry per setting except the desktop's permission, and nothing left behind by the
    // atomic write.
    const SettingsXml::Entries entries = SettingsXml::readFile(exported, NODE);
    EXPECT_EQ(entries.size(), 37u);
    for (const auto& entry : entries) EXPECT_NE(entry.first, "portalRestoreToken");
    EXPECT_EQ(QDir(source.dir()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    TempPrefs target;
    {
        Store s(target.file());
        s.store.node()->put("unrelated", "kept");
        s.store.importSettings(exported);
    }
    Store s(target.file());
    Config loaded;
    EXPECT_TRUE(s.store.loadConfig(loaded, {"COM1"}));
    Config expected = customConfig();
    expected.portalRestoreToken = "";
    EXPECT_FALSE(expected.hasChanged(loaded)) << describe(loaded);
    EXPECT_EQ(loaded.getPrevPort(), customConfig().getPort());
    EXPECT_EQ(s.store.node()->get("unrelated", ""), "kept");
}

TEST(ConfigStoreTest, ImportsAHandWrittenFileOfTheCommonLayout) {
    TempPrefs prefs;
    const QString file = prefs.dir() + "/by-hand.xml";
    support::writeWholeFile(
        file,
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n"
        "<preferences EXTERNAL_XML_VERSION=\"1.0\">\n"
        " <root type=\"user\">\n"
        "  <map></map>\n"
        "  <node name=\"org\"><map><entry key=\"bitRate\" value=\"1\"/></map></node>\n"
        "  <node name=\"com\">\n"
        "   <map/>\n"
        "   <node name=\"varnholt\">\n"
        "    <map/>\n"
        "    <node name=\"tolvane\">\n"
        "     <map>\n"
        "      <entry value=\"SARTORIUS\" key=\"instrument\"/>\n"
        "      <entry value=\"10\" key=\"bitRate\"/>\n"
        "      <entry key=\"roundingMethod\" value=\"FLOOR\"></entry>\n"
        "      <entry key=\"removeCharacters\" value=\"&#13;&#10;&lt;\"/>\n"
        "     </map>\n"
        "     <node name=\"sub\"><map><entry key=\"delay\" value=\"5\"/></map></node>\n"
        "    </node>\n"
        "   </node>\n"
        "  </node>\n"
        " </root>\n"
        "</preferences>\n");
    {
        Store s(prefs.file());
        s.store.importSettings(file);
    }
    Store s(prefs.file());
    Config c;
    EXPECT_TRUE(s.store.loadConfig(c, {"COM1"}));
    EXPECT_EQ(c.getInstrument(), H::Instrument::SARTORIUS);
    EXPECT_EQ(c.getBitRate(), 10);
    EXPECT_EQ(c.getRoundingMethod(), H::RoundingMethod::FLOOR);
    EXPECT_EQ(c.getRemoveCharacters(), "\r\n<");
    EXPECT_EQ(c.getDelay(), "20");
}

TEST(ConfigStoreTest, HostileOrForeignImportsAreRefusedAndChangeNothing) {
    TempPrefs prefs;
    Store s(prefs.file());
    s.store.saveConfig(customConfig());
    const QByteArray before = prefs.read();

    const QByteArray head =
        "<?xml version=\"1.0\"?>\n<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\">"
        "<map/><node name=\"com\"><map/><node name=\"varnholt\"><map/><node name=\"tolvane\">"
        "<map><entry key=\"delay\" value=\"1\"/>";
    const QByteArray tail = "</map></node></node></node></root></preferences>\n";
    QByteArray laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE preferences [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e "
        "\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>" +
        head.mid(22) + "<entry key=\"customRegEx\" value=\"(&e;)\"/>" + tail;
    QByteArray deep = head;
    for (int i = 0; i < 10000; ++i) deep += "<node name=\"n\">";
    for (int i = 0; i < 10000; ++i) deep += "</node>";
    deep += tail;

    const struct {
        const char* what;
        QByteArray content;
        qint64 size;  // grown to this size with zero bytes, when larger
    } cases[] = {
        {"entity expansion", laughs, 0},
        {"10000-deep nesting", deep, 0},
        {"50 MB", head, 50 * 1000 * 1000},
        {"not XML", "com.varnholt.tolvane.delay=1\n", 0},
        {"wrong root", "<map><entry key=\"delay\" value=\"1\"/></map>", 0},
        {"settings of another program", QByteArray(head).replace("tolvane", "other") + tail, 0},
    };
    const QString file = prefs.dir() + "/import.xml";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        support::writeWholeFile(file, c.content);
        if (c.size > 0) {
            ASSERT_TRUE(QFile::resize(file, c.size));
        }
        try {
            s.store.importSettings(file);
            ADD_FAILURE() << "imported";
        } catch (const std::runtime_error& e) {
            EXPECT_GT(std::string(e.what()).size(), 20u) << e.what();
        }
        EXPECT_EQ(prefs.read(), before);
        Config loaded;
        EXPECT_TRUE(s.store.loadConfig(loaded, {"COM1"}));
        EXPECT_FALSE(customConfig().hasChanged(loaded)) << describe(loaded);
    }
}

TEST(ConfigStoreTest, AnImportTheStoreCannotKeepIsUndone) {
    TempPrefs prefs;
    Store s(prefs.file());
    s.store.saveConfig(customConfig());
    const QByteArray before = prefs.read();
    const QString file = prefs.dir() + "/import.xml";
    support::writeWholeFile(
        file, SettingsXml::write(NODE, {{"delay", "5"}, {"newKey", "x"}, {"delay", "6"}}));

    FilePreferencesFactory::setBeforeReplaceHookForTesting([](const QString&) { return false; });
    EXPECT_THROW(s.store.importSettings(file), std::runtime_error);
    FilePreferencesFactory::setBeforeReplaceHookForTesting({});

    EXPECT_EQ(prefs.read(), before);
    EXPECT_EQ(s.store.node()->get("delay", ""), "1000");
    EXPECT_FALSE(s.store.node()->keys().contains("newKey"));
}

TEST(ConfigStoreTest, TheFileLivesUnderProgramDataOrTheUsersConfigFolder) {
    EnvGuard env;
    env.set("ProgramData", "/srv/ProgramData");
    env.set("XDG_CONFIG_HOME", "/home/u/.xdg");
    env.set("HOME", "/home/u");
    EXPECT_EQ(ConfigStore::preferencesFileLocation(),
              "/srv/ProgramData/Varnholt/tolvane/prefs.txt");
    env.set("ProgramData", "/srv/ProgramData/");
    EXPECT_EQ(ConfigStore::preferencesFileLocation(),
              "/srv/ProgramData/Varnholt/tolvane/prefs.txt");
    env.set("ProgramData", "");
    EXPECT_EQ(ConfigStore::preferencesFileLocation(), "/home/u/.xdg/Varnholt/tolvane/prefs.txt");
    env.set("ProgramData", nullptr);
    EXPECT_EQ(ConfigStore::preferencesFileLocation(), "/home/u/.xdg/Varnholt/tolvane/prefs.txt");
    env.set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConfigStore::preferencesFileLocation(), "/home/u/.config/Varnholt/tolvane/prefs.txt");
}

TEST(ConfigStoreTest, TheStoreIsPointedAtTheFileUnlessAFileWasGiven) {
    const std::string property = FilePreferencesFactory::SYSTEM_PROPERTY_FILE;
    TempPrefs prefs;  // restores the property afterwards
    EnvGuard env;
    env.set("ProgramData", (prefs.dir() + "/pd").toUtf8().constData());

    serialkit::SystemProperties::clear(property);
    ConfigStore::usePreferencesFileLocation();
    const QString expected = prefs.dir() + "/pd/Varnholt/tolvane/prefs.txt";
    EXPECT_EQ(serialkit::SystemProperties::get(property, ""), expected.toStdString());
    EXPECT_TRUE(QFileInfo(QFileInfo(expected).path()).isDir());

    const QString given = prefs.dir() + "/given/settings.txt";
    serialkit::SystemProperties::set(property, given.toStdString());
    ConfigStore::usePreferencesFileLocation();
    EXPECT_EQ(serialkit::SystemProperties::get(property, ""), given.toStdString());
    EXPECT_TRUE(QFileInfo(prefs.dir() + "/given").isDir());
}

}  // namespace
}  // namespace quorvel::config

namespace quorvel::config {
namespace {

TEST(ConfigStoreTest, WithoutPortsAFreshRecordKeepsTheStoredPort) {
    support::TempPrefs prefs;
    {
        Store s(prefs.file());
        Config c = customConfig();
        c.setPort("COM4");
        s.store.saveConfig(c);
    }
    // The adapter is unplugged this time: no port list, so the port stays unset...
    Store s(prefs.file());
    Config plain;
    s.store.loadConfig(plain, {});
    EXPECT_TRUE(plain.getPort().isNull());
    // ...and saving must not erase the port the user chose before.
    s.store.saveConfig(plain);
    Store again(prefs.file());
    EXPECT_EQ(again.store.node()->get("port", "(absent)"), "COM4");
    EXPECT_EQ(again.store.node()->get("prevPort", "(absent)"), "COM4");
}

TEST(ConfigStoreTest, ASaveRewritesTheFileOnce) {
    support::TempPrefs prefs;
    Store s(prefs.file());
    int saves = 0;
    prefs::FilePreferencesFactory::setBeforeReplaceHookForTesting([&saves](const QString&) {
        ++saves;
        return true;
    });
    s.store.saveConfig(customConfig());
    EXPECT_EQ(saves, 1);
}

}  // namespace
}  // namespace quorvel::config
