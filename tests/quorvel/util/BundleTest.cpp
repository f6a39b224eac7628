#include "quorvel/util/Bundle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/util/BundleKeys.h"
#include "quorvel/util/PropertiesFormat.h"

namespace quorvel::util {
namespace {

const char* const kAllBundles[] = {Bundle::TOLVANE, Bundle::CONFIG, Bundle::WORKER};

// The {n} placeholders a text uses.
std::set<int> placeholdersOf(const QString& text) {
    std::set<int> found;
    static const QRegularExpression placeholder(QStringLiteral("\\{(\\d+)\\}"));
    auto it = placeholder.globalMatch(text);
    while (it.hasNext()) {
        found.insert(it.next().captured(1).toInt());
    }
    return found;
}

// Readable in failure messages.
std::string str(const QString& text) {
    return text.toStdString();
}

QByteArray resourceBytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

TEST(BundleTest, BundlesLoadFromTheEmbeddedResources) {
    EXPECT_TRUE(Bundle::tolvane().contains("ZoviziDeZizFrame2.startStopJButton.text"));
    EXPECT_TRUE(Bundle::config().contains("generic.defaultMessage"));
    EXPECT_TRUE(Bundle::worker().contains("port.opened"));
    EXPECT_EQ(str(Bundle::worker().baseName()), "quorvel.worker.WorkerBundle");

    // One object per base name, whichever way it is asked for.
    EXPECT_EQ(&Bundle::named("quorvel.config.ConfigBundle"), &Bundle::config());
    EXPECT_EQ(&Bundle::named(Bundle::TOLVANE), &Bundle::tolvane());
    EXPECT_NE(&Bundle::tolvane(), &Bundle::worker());

    // The bundles do not leak into each other.
    EXPECT_FALSE(Bundle::tolvane().contains("port.opened"));
    EXPECT_FALSE(Bundle::worker().contains("generic"));
}

TEST(BundleTest, UnknownBundleAndMissingKeyFallBackToTheKey) {
    const Bundle& none = Bundle::named("quorvel.no.such.Bundle");
    EXPECT_TRUE(none.keys().isEmpty());
    EXPECT_FALSE(none.contains("error"));
    EXPECT_EQ(str(none.getString("error")), "error");

    EXPECT_FALSE(Bundle::tolvane().contains("no.such.key"));
    EXPECT_EQ(str(Bundle::tolvane().getString("no.such.key")), "no.such.key");
    EXPECT_EQ(str(Bundle::worker().format("testing.port.9", {"COM1"})), "testing.port.9");

    const Bundle local("local", {{"a", "text of a"}});
    EXPECT_EQ(str(local.getString("a")), "text of a");
    EXPECT_EQ(str(local.getString("b")), "b");
    EXPECT_EQ(str(local.keys().join(",")), "a");
}

TEST(BundleTest, ConcurrentFirstUseSharesOneBundle) {
    std::vector<const Bundle*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] {
            seen[i] = &Bundle::named("quorvel.worker.WorkerBundle.concurrent");
            seen[i]->getString("stopped");
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const Bundle* b : seen) {
        EXPECT_EQ(b, seen.front());
    }
}

TEST(BundleTest, ResourceFilesAreCleanAsciiWithoutDuplicateKeys) {
    for (const char* base : kAllBundles) {
        QString path = QString::fromLatin1(base);
        path.replace('.', '/');
        const QByteArray bytes = resourceBytes(":/" + path + ".properties");
        ASSERT_FALSE(bytes.isEmpty()) << base;
        for (char c : bytes) {
            EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80) << base << ": raw non-ASCII byte";
        }
        const auto parsed = PropertiesFormat::parse(bytes);
        EXPECT_TRUE(parsed.problems.empty()) << base;
        QSet<QString> keys;
        for (const auto& e : parsed.entries) {
            EXPECT_FALSE(keys.contains(e.key)) << base << ": duplicate " << e.key.toStdString();
            keys.insert(e.key);
        }
        EXPECT_EQ(keys.size(), Bundle::named(base).keys().size()) << base;
    }
    // An escaped character arrives decoded.
    EXPECT_TRUE(
        Bundle::tolvane().getString("ZoviziDeZizFrame2.aboutPane.text").contains(u'\u00A9'));
}

TEST(BundleTest, EveryTextIsPresentAndUsesOnlyItsOwnPlaceholders) {
    const std::map<QString, std::set<int>> expected = {
        {"port.opened", {0, 1, 2, 3, 4}},
        {"testing.port.0", {0}},
        {"previously.used.port.0.no.longer.available.naborting.auto.start", {0}},
        {"connection.to.0.lost", {0}},
        {"waiting.for.0", {0}},
        {"waiting.for.server.0", {0}},
        {"device.0.back", {0}},
        {"device.back.unopened", {0, 1}},
        {"server.unanswered", {0, 1}},
        {"line.end.missing", {0, 1}},
        {"settings.not.saved.because.0.folder.1", {0, 1}},
        {"invalid.network.port.0.1", {0, 1}},
        {"value.log.recording.to.0", {0}},
        {"value.log.not.written.0.because.1", {0, 1}},
        {"update.available", {0}},
        {"request.failed", {0}},
        {"request.hotkey.active", {0}},
        {"request.hotkey.taken", {0}},
        {"request.hotkey.no.key", {0}},
        {"request.hotkey.failed", {0, 1}},
        {"ZoviziDeZizFrame2.aboutPane.text", {0, 1}},
    };
    for (const char* base : kAllBundles) {
        const Bundle& bundle = Bundle::named(base);
        ASSERT_FALSE(bundle.keys().isEmpty()) << base;
        for (const QString& key : bundle.keys()) {
            const QString text = bundle.getString(key);
            EXPECT_FALSE(text.trimmed().isEmpty()) << base << ": " << key.toStdString();
            EXPECT_NE(str(text), str(key)) << base;
            const auto it = expected.find(key);
            const std::set<int> want = it == expected.end() ? std::set<int>{} : it->second;
            EXPECT_EQ(placeholdersOf(text), want) << base << ": " << key.toStdString();
        }
    }
}

TEST(BundleTest, PortOpenedShowsItsFiveValuesInOrder) {
    const QString opened =
        Bundle::worker().format("port.opened", {"COM7", "9600", "8", "1", "EVEN"});
    EXPECT_THAT(opened.toStdString(), ::testing::HasSubstr("COM7"));
    EXPECT_THAT(opened.toStdString(), ::testing::HasSubstr("EVEN"));
    // The values appear in the order given.
    EXPECT_LT(opened.indexOf("COM7"), opened.indexOf("9600"));
    EXPECT_LT(opened.indexOf("9600"), opened.indexOf("EVEN"));
    EXPECT_FALSE(opened.contains('{'));
}

TEST(BundleTest, TextsThatOtherTextFollowsEndInASeparator) {
    // These are joined directly with a description, a number, a path or a character.
    const std::pair<const char*, const char*> joined[] = {
        {Bundle::WORKER, "execution.exception"},
        {Bundle::WORKER, "cannot_type"},
        {Bundle::TOLVANE, "line.count"},
        {Bundle::TOLVANE, "error.while.initializing.sound.output"},
        {Bundle::TOLVANE, "configuration.exported.to.file.n"},
        {Bundle::TOLVANE, "export.failed"},
        {Bundle::TOLVANE, "error.listing.available.ports"},
    };
    for (const auto& [base, key] : joined) {
        const QString text = Bundle::named(base).getString(key);
        ASSERT_FALSE(text.isEmpty()) << key;
        EXPECT_TRUE(text.back().isSpace()) << key;
    }
    // Follows ")" or the library message.
    EXPECT_TRUE(Bundle::tolvane().getString("program.will.now.exit").front().isSpace());
}

TEST(BundleTest, LinkTextsCarryAllLinkMarkers) {
    for (const char* key : {"CustomRegExDialog.label4.text", "update.available"}) {
        const QString text = Bundle::tolvane().getString(key);
        for (const char* marker : {"<html>", "</html>", "<a href=\"", "\">", "</a>"}) {
            EXPECT_TRUE(text.contains(QLatin1String(marker))) << key << " lacks " << marker;
        }
    }
}

TEST(BundleTest, RequiredKeysArePresentOnceEach) {
    const QStringList gaps = BundleKeys::missing();
    EXPECT_TRUE(gaps.isEmpty()) << gaps.join(", ").toStdString();

    std::set<std::pair<QString, QString>> unique;
    for (const auto& k : BundleKeys::required()) {
        const QString base = QLatin1String(k.bundle);
        EXPECT_TRUE(base == Bundle::TOLVANE || base == Bundle::CONFIG || base == Bundle::WORKER)
            << k.bundle;
        EXPECT_TRUE(unique.insert({base, QLatin1String(k.key)}).second) << k.bundle << " " << k.key;
    }
    // The three bundles' own contracts, spot-checked where they differ.
    EXPECT_TRUE(unique.count({Bundle::WORKER, "warning"}));
    EXPECT_TRUE(unique.count({Bundle::TOLVANE, "warning"}));
    EXPECT_TRUE(unique.count({Bundle::CONFIG, "aandd.em.defaultmessage"}));
    EXPECT_TRUE(unique.count({Bundle::TOLVANE, "IgnoreDialog.this.title"}));
}

TEST(BundleTest, SubstituteReplacesPlaceholdersOnce) {
    struct Case {
        const char* pattern;
        QStringList args;
        const char* result;
    };
    const Case cases[] = {
        {"{0}", {"x"}, "x"},
        {"a {1} b {0} c {1}", {"X", "Y"}, "a Y b X c Y"},
        {"{10}", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"}, "ten"},
        // Arguments are taken literally, never searched for placeholders themselves.
        {"{0} and {1}", {"{1}", "b"}, "{1} and b"},
        {"{0}", {"{0}"}, "{0}"},
        // Braces that are no placeholder stay as written.
        {"{", {"x"}, "{"},
        {"}", {"x"}, "}"},
        {"{}", {"x"}, "{}"},
        {"{x}", {"x"}, "{x}"},
        {"{ 0}", {"x"}, "{ 0}"},
        {"{0", {"x"}, "{0"},
        {"{{0}}", {"x"}, "{x}"},
        {"0}", {"x"}, "0}"},
        {"set {a} to {0}", {"1"}, "set {a} to 1"},
        // A placeholder without an argument stays, even an absurdly large one.
        {"{1}", {"x"}, "{1}"},
        {"{0}", {}, "{0}"},
        {"{99999999999999999999999}", {"x"}, "{99999999999999999999999}"},
        {"", {"x"}, ""},
        {"no braces", {"x"}, "no braces"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(str(Bundle::substitute(QString::fromUtf8(c.pattern), c.args)), c.result)
            << c.pattern;
    }
    EXPECT_EQ(str(Bundle::substitute(QString::fromUtf8("{0} \u00b5g"), {"\u00e9"})),
              "\u00e9 \u00b5g");
}

}  // namespace
}  // namespace quorvel::util
