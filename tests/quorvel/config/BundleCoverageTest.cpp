// Every resource key the code names must be in its bundle, whether the code names it as a
// literal at a lookup, as a label in a setting table, or as an instrument's note.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <set>
#include <vector>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/util/BundleKeys.h"

namespace quorvel::config {
namespace {

using util::Bundle;
using util::BundleKeys;

// One lookup found in the sources.
struct Lookup {
    QString file;
    int line = 0;
    QString bundle;  // base name
    QString key;     // empty when the key is not a literal
};

QString bundleOfAccessor(const QString& accessor) {
    if (accessor == "tolvane" || accessor == "TOLVANE")
        return Bundle::TOLVANE;
    if (accessor == "config" || accessor == "CONFIG")
        return Bundle::CONFIG;
    return Bundle::WORKER;
}

// Finds Bundle::tolvane()/config()/worker() or Bundle::named(Bundle::TOLVANE ...) followed by
// .getString( or .format(, and configBundleText(; blanks and line breaks may sit between tokens.
std::vector<Lookup> scanText(const QString& file, const QString& text) {
    static const QRegularExpression bundleCall(
        QStringLiteral(R"re(\bBundle\s*::\s*(?:(tolvane|config|worker)\s*\(\s*\)|named\s*\(\s*)re"
                       R"re((?:(?:quorvel\s*::\s*)?util\s*::\s*)?(?:Bundle\s*::\s*)?)re"
                       R"re((TOLVANE|CONFIG|WORKER)\s*\)))re"
                       R"re(\s*\.\s*(?:getString|format)\s*\(\s*("([^"\\]*)")?)re"));
    static const QRegularExpression helperCall(
        QStringLiteral(R"re(\bconfigBundleText\s*\(\s*"([^"\\]*)")re"));
    std::vector<Lookup> found;
    const auto lineOf = [&text](qsizetype offset) {
        return 1 + static_cast<int>(text.left(offset).count(u'\n'));
    };
    auto it = bundleCall.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        const QString accessor = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
        found.push_back(
            {file, lineOf(m.capturedStart()), bundleOfAccessor(accessor), m.captured(4)});
    }
    it = helperCall.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        found.push_back({file, lineOf(m.capturedStart()), Bundle::CONFIG, m.captured(1)});
    }
    return found;
}

std::vector<Lookup> scanSources(int& filesScanned) {
    std::vector<Lookup> all;
    filesScanned = 0;
    QDirIterator it(QStringLiteral(TOLVANE_SOURCE_DIR "/src/quorvel"), {"*.cpp", "*.h"},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        ++filesScanned;
        const auto found = scanText(path, QString::fromUtf8(f.readAll()));
        all.insert(all.end(), found.begin(), found.end());
    }
    return all;
}

bool isRequired(const char* bundle, const QString& key) {
    for (const auto& k : BundleKeys::required()) {
        if (QLatin1String(k.bundle) == QLatin1String(bundle) && key == QLatin1String(k.key)) {
            return true;
        }
    }
    return false;
}

TEST(BundleCoverageTest, ScannerFindsEveryWayALookupIsWritten) {
    const QString sample = QStringLiteral(
        "a = Bundle::tolvane().getString(\"t.one\");\n"
        "b = util::Bundle::worker()\n"
        "        .format(\n"
        "            \"w.two\", {port});\n"
        "c = quorvel::util::Bundle :: config ( ) . getString ( \"c.three\" );\n"
        "d = configBundleText(\n   \"c.four\");\n"
        "e = Bundle::named(Bundle::WORKER).getString(\"w.five\");\n"
        "f = Bundle::config().getString(noteKey);\n"
        "g = other.getString(\"not.a.bundle\"); h = MyBundle::tolvane();\n");
    const auto found = scanText("sample.cpp", sample);
    std::vector<std::pair<QString, QString>> got;
    for (const auto& l : found) got.emplace_back(l.bundle, l.key);
    EXPECT_THAT(
        got, ::testing::UnorderedElementsAre(std::pair<QString, QString>{Bundle::TOLVANE, "t.one"},
                                             std::pair<QString, QString>{Bundle::WORKER, "w.two"},
                                             std::pair<QString, QString>{Bundle::CONFIG, "c.three"},
                                             std::pair<QString, QString>{Bundle::CONFIG, "c.four"},
                                             std::pair<QString, QString>{Bundle::WORKER, "w.five"},
                                             std::pair<QString, QString>{Bundle::CONFIG, ""}));
    // The reported line is where the lookup starts.
    for (const auto& l : found) {
        if (l.key == "w.two") {
            EXPECT_EQ(l.line, 2);
        }
        if (l.key == "c.four") {
            EXPECT_EQ(l.line, 6);
        }
    }
}

TEST(BundleCoverageTest, EveryLiteralKeyLookedUpInTheCodeIsInItsBundle) {
    int files = 0;
    const auto lookups = scanSources(files);
    ASSERT_GT(files, 10) << "the source tree was not found at " TOLVANE_SOURCE_DIR;

    // The setting labels and the instrument notes are looked up in the configuration bundle;
    // if the scan misses those call sites, it would miss others too.
    QSet<QString> configLookupFiles;
    for (const auto& l : lookups) {
        if (l.bundle == Bundle::CONFIG)
            configLookupFiles.insert(QFileInfo(l.file).fileName());
    }
    EXPECT_TRUE(configLookupFiles.contains("ConfigHelper.cpp"));
    EXPECT_TRUE(configLookupFiles.contains("Instrument.cpp"));

    for (const auto& l : lookups) {
        if (l.key.isEmpty())
            continue;
        EXPECT_TRUE(Bundle::named(l.bundle).contains(l.key))
            << l.file.toStdString() << ":" << l.line << ": " << l.key.toStdString() << " is not in "
            << l.bundle.toStdString();
        EXPECT_TRUE(isRequired(l.bundle.toLatin1().constData(), l.key))
            << l.file.toStdString() << ":" << l.line << ": " << l.key.toStdString()
            << " escapes the start-up check";
    }
}

// Collects the label keys of one choice type and checks each.
template <typename E>
void checkLabelKeys(const char* type, QSet<QString>& usedKeys) {
    for (const auto& e : ChoiceTable<E>::entries()) {
        if (!e.labelIsKey)
            continue;
        const QString key = QString::fromLatin1(e.label);
        usedKeys.insert(key);
        EXPECT_TRUE(Bundle::config().contains(key)) << type << "::" << e.name << ": " << e.label;
        EXPECT_TRUE(isRequired(Bundle::CONFIG, key)) << type << "::" << e.name << ": " << e.label;
        EXPECT_NE(Setting<E>::label(e.value).toStdString(), key.toStdString())
            << type << "::" << e.name;
    }
}

QSet<QString> labelKeysOfAllChoiceTypes() {
    QSet<QString> used;
    using H = ConfigHelper;
    checkLabelKeys<H::BitRates>("BitRates", used);
    checkLabelKeys<H::DataBits>("DataBits", used);
    checkLabelKeys<H::StopBits>("StopBits", used);
    checkLabelKeys<H::Parity>("Parity", used);
    checkLabelKeys<H::Connect>("Connect", used);
    checkLabelKeys<H::InputTerminator>("InputTerminator", used);
    checkLabelKeys<H::StartWith>("StartWith", used);
    checkLabelKeys<H::OutputTerminator>("OutputTerminator", used);
    checkLabelKeys<H::Sound>("Sound", used);
    checkLabelKeys<H::MathOperation>("MathOperation", used);
    checkLabelKeys<H::RoundingMethod>("RoundingMethod", used);
    checkLabelKeys<H::DecimalSeparator>("DecimalSeparator", used);
    checkLabelKeys<H::EditOperation>("EditOperation", used);
    checkLabelKeys<H::EditPosition>("EditPosition", used);
    checkLabelKeys<H::KeyboardType>("KeyboardType", used);
    checkLabelKeys<H::KeyMapType>("KeyMapType", used);
    checkLabelKeys<H::InstrumentType>("InstrumentType", used);
    checkLabelKeys<H::Instrument>("Instrument", used);
    return used;
}

QSet<QString> noteKeysOfAllInstruments() {
    QSet<QString> used;
    for (const auto instrument : Setting<ConfigHelper::Instrument>::values()) {
        const auto key = InstrumentPresets::getDefaultMessageKey(instrument);
        const auto note = InstrumentPresets::getDefaultMessage(instrument);
        const std::string name = Setting<ConfigHelper::Instrument>::name(instrument).toStdString();
        EXPECT_EQ(key.has_value(), note.has_value()) << name;
        if (!key)
            continue;
        used.insert(*key);
        EXPECT_TRUE(Bundle::config().contains(*key)) << name << ": " << key->toStdString();
        EXPECT_TRUE(isRequired(Bundle::CONFIG, *key)) << name << ": " << key->toStdString();
        if (note) {
            EXPECT_EQ(note->toStdString(), Bundle::config().getString(*key).toStdString()) << name;
        }
    }
    return used;
}

TEST(BundleCoverageTest, LabelsAndNotesOfTheSettingTypesAreInTheConfigBundle) {
    const QSet<QString> labels = labelKeysOfAllChoiceTypes();
    const QSet<QString> notes = noteKeysOfAllInstruments();
    EXPECT_FALSE(labels.isEmpty());
    EXPECT_FALSE(notes.isEmpty());

    // The other way round: a text in the bundle that no table or preset uses means a label
    // was entered as a literal, or a preset lost its note.
    for (const QString& key : Bundle::config().keys()) {
        EXPECT_TRUE(labels.contains(key) || notes.contains(key))
            << key.toStdString() << " is in the bundle but nothing uses it";
    }
}

TEST(BundleCoverageTest, EveryRequiredKeyIsInItsBundle) {
    const QStringList gaps = BundleKeys::missing();
    EXPECT_TRUE(gaps.isEmpty()) << gaps.join(", ").toStdString();
}

}  // namespace
}  // namespace quorvel::config
