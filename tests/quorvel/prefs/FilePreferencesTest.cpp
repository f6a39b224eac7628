#include "quorvel/prefs/FilePreferences.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/support/TempPrefs.h"
#include "quorvel/util/PropertiesFormat.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::prefs {
namespace {

using support::TempPrefs;

const char* const kNode = "/com/varnholt/tolvane";

QList<QByteArray> lines(const QByteArray& file) {
    return file.split('\n');
}

// What a brand-new process would see: a fresh factory over the same file.
FilePreferences* reopen(const char* path = kNode) {
    FilePreferencesFactory::resetForTesting();
    return FilePreferencesFactory::userRoot()->node(path);
}

TEST(FilePreferencesFactory, FileComesFromThePropertyOrTheHomeFolder) {
    TempPrefs prefs;
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), prefs.file());
    EXPECT_TRUE(prefs.messages().contains("Preferences file is " + prefs.file()));

    // Remembered: a later change of the property does not move the store.
    const std::string property = FilePreferencesFactory::SYSTEM_PROPERTY_FILE;
    serialkit::SystemProperties::set(property, (prefs.dir() + "/other.txt").toStdString());
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), prefs.file());

    const auto oldHome = serialkit::SystemProperties::get("user.home");
    serialkit::SystemProperties::set("user.home", prefs.dir().toStdString());
    for (bool empty : {false, true}) {
        if (empty) {
            serialkit::SystemProperties::set(property, "");
        } else {
            serialkit::SystemProperties::remove(property);
        }
        FilePreferencesFactory::resetForTesting();
        EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), prefs.dir() + "/.fileprefs");
    }

    // A relative path is made absolute.
    serialkit::SystemProperties::set(property, "relative/prefs.txt");
    FilePreferencesFactory::resetForTesting();
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(),
              QDir::cleanPath(QDir::currentPath() + "/relative/prefs.txt"));

    if (oldHome) {
        serialkit::SystemProperties::set("user.home", *oldHome);
    } else {
        serialkit::SystemProperties::clear("user.home");
    }
}

TEST(FilePreferencesFactory, OneRootForUserAndSystem) {
    TempPrefs prefs;
    FilePreferences* root = FilePreferencesFactory::userRoot();
    EXPECT_EQ(FilePreferencesFactory::systemRoot(), root);
    EXPECT_EQ(FilePreferencesFactory::userRoot(), root);
    EXPECT_EQ(root->parent(), nullptr);
    EXPECT_EQ(root->name(), "");
    EXPECT_EQ(root->absolutePath(), "/");
    EXPECT_EQ(root->file(), prefs.file());
    EXPECT_EQ(prefs.messages().count("Instantiating root preferences"), 1);
    EXPECT_FALSE(QFileInfo::exists(prefs.file())) << "nothing is written before the first put";
}

TEST(FilePreferences, FullKeysFileLayoutAndANewProcessSeesTheValues) {
    TempPrefs prefs;
    FilePreferences* root = FilePreferencesFactory::userRoot();
    FilePreferences* node = root->node(kNode);
    EXPECT_EQ(node->absolutePath(), kNode);
    EXPECT_EQ(node->name(), "tolvane");
    for (const char* name : {"com", "varnholt", "tolvane"}) {
        EXPECT_TRUE(prefs.messages().contains(QStringLiteral("Instantiating node ") + name));
    }
    node->put("port", "COM3");
    node->putInt("delay", -42);
    node->putBoolean("tray", true);
    root->put("top", "1");

    const auto file = lines(prefs.read());
    ASSERT_GE(file.size(), 6);
    EXPECT_EQ(file[0], "#FilePreferences");
    EXPECT_TRUE(file[1].startsWith('#') && file[1].size() > 10) << file[1].toStdString();
    EXPECT_TRUE(file.contains("com.varnholt.tolvane.port=COM3"));
    EXPECT_TRUE(file.contains("com.varnholt.tolvane.delay=-42"));
    EXPECT_TRUE(file.contains("com.varnholt.tolvane.tray=true"));
    EXPECT_TRUE(file.contains("top=1"));

    FilePreferences* again = reopen();
    EXPECT_EQ(again->get("port", "none"), "COM3");
    EXPECT_EQ(again->getInt("delay", 0), -42);
    EXPECT_TRUE(again->getBoolean("tray", false));
    EXPECT_EQ(again->keys(), (QStringList{"delay", "port", "tray"}));
    EXPECT_EQ(FilePreferencesFactory::userRoot()->keys(), QStringList{"top"});
    EXPECT_EQ(FilePreferencesFactory::userRoot()->node("com")->keys(), QStringList{});
}

TEST(FilePreferences, DottedKeyIsWrittenButNeitherReadBackNorRemoved) {
    TempPrefs prefs;
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    node->put("a.b", "x");
    EXPECT_TRUE(lines(prefs.read()).contains("com.varnholt.tolvane.a.b=x"));

    FilePreferences* again = reopen();
    EXPECT_EQ(again->get("a.b", "absent"), "absent");
    again->put("port", "COM1");
    again->remove("port");
    EXPECT_TRUE(lines(prefs.read()).contains("com.varnholt.tolvane.a.b=x"));
}

TEST(FilePreferences, RemoveRewritesOnlyThatLine) {
    TempPrefs prefs;
    // Entries of nodes nobody opens in this run, and of a descendant, must survive.
    prefs.write(
        "other.node.key=kept\n"
        "com.varnholt.tolvane.sub.deep=kept too\n"
        "com.varnholt.tolvane.port=COM3\n"
        "com.varnholt.tolvane.prevPort=COM2\n");
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    EXPECT_EQ(node->childrenNames(), QStringList{}) << "the file is not scanned for children";
    node->remove("port");
    const auto file = lines(prefs.read());
    EXPECT_FALSE(file.contains("com.varnholt.tolvane.port=COM3"));
    EXPECT_TRUE(file.contains("com.varnholt.tolvane.prevPort=COM2"));
    EXPECT_TRUE(file.contains("other.node.key=kept"));
    EXPECT_TRUE(file.contains("com.varnholt.tolvane.sub.deep=kept too"));
    EXPECT_EQ(reopen()->keys(), QStringList{"prevPort"});
}

TEST(FilePreferences, HostileKeysAndValuesSurviveSaveAndLoad) {
    TempPrefs prefs;
    const QList<std::pair<QString, QString>> pairs = {
        {"port", QString::fromUtf8("C\xC3\xB6M\xE2\x82\xAC 3")},
        {"pattern", "a=b:c#d!e"},
        {"lead", "   three spaces"},
        {"breaks", "one\r\ntwo\nthree\t\\"},
        {"emoji", QString::fromUtf8("\xF0\x9F\x98\x80")},
        {QString::fromUtf8("k\xC3\xA9y with = and : and #"), "v"},
        {"empty", ""},
    };
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    for (const auto& [k, v] : pairs) {
        node->put(k, v);
    }
    for (char c : prefs.read()) {
        EXPECT_TRUE((c >= 0x20 && c <= 0x7E) || c == '\n') << "byte " << int(c);
    }
    FilePreferences* again = reopen();
    for (const auto& [k, v] : pairs) {
        EXPECT_EQ(again->get(k, "absent"), v) << k.toStdString();
    }
}

TEST(FilePreferences, SyncAddsWhatTheFileHasAndKeepsTheRest) {
    TempPrefs prefs;
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    node->put("mine", "1");
    auto other = FilePreferences::createRoot(prefs.file());
    other->node(kNode)->put("theirs", "2");
    // "other" rewrote the node with only its own entries; ours are still in memory.
    node->sync();
    EXPECT_EQ(node->keys(), (QStringList{"mine", "theirs"}));
    node->flush();
    EXPECT_EQ(reopen()->keys(), (QStringList{"mine", "theirs"}));
}

TEST(FilePreferences, NodePathsAndNameRules) {
    TempPrefs prefs;
    FilePreferences* root = FilePreferencesFactory::userRoot();
    FilePreferences* com = root->node("com");
    FilePreferences* deep = com->node("varnholt/tolvane");
    EXPECT_EQ(root->node(kNode), deep);
    EXPECT_EQ(deep->node("/"), root);
    EXPECT_EQ(deep->node(""), deep);
    EXPECT_EQ(deep->node("/com"), com);
    EXPECT_EQ(deep->parent()->parent(), com);
    EXPECT_EQ(com->childrenNames(), QStringList{"varnholt"});

    for (const char* bad : {"a//b", "a/", "//", "/com//x"}) {
        EXPECT_THROW(root->node(bad), std::invalid_argument) << bad;
    }
    EXPECT_THROW(root->childSpi(""), std::invalid_argument);
    EXPECT_THROW(root->childSpi("a/b"), std::invalid_argument);
    EXPECT_THROW(deep->put("a/b", "x"), std::invalid_argument);
    EXPECT_EQ(root->childrenNames(), QStringList{"com"}) << "a refused name creates nothing";
}

TEST(FilePreferences, RemoveNodeDropsItsSubtreeOnly) {
    TempPrefs prefs;
    FilePreferences* root = FilePreferencesFactory::userRoot();
    FilePreferences* parent = root->node("com/varnholt");
    FilePreferences* node = parent->node("tolvane");
    FilePreferences* child = node->node("child");
    parent->put("p", "1");
    node->put("n", "2");
    child->put("c", "3");
    root->node("com/sibling")->put("s", "4");

    node->removeNode();
    EXPECT_TRUE(node->isRemoved());
    EXPECT_TRUE(child->isRemoved());
    EXPECT_FALSE(parent->isRemoved());
    EXPECT_EQ(parent->childrenNames(), QStringList{});
    EXPECT_THROW(node->get("n", ""), std::logic_error);
    EXPECT_THROW(node->put("n", "again"), std::logic_error);
    EXPECT_THROW(root->removeNode(), std::logic_error);

    const auto file = lines(prefs.read());
    EXPECT_TRUE(file.contains("com.varnholt.p=1"));
    EXPECT_TRUE(file.contains("com.sibling.s=4"));
    EXPECT_FALSE(file.contains("com.varnholt.tolvane.n=2"));
    EXPECT_FALSE(file.contains("com.varnholt.tolvane.child.c=3"));
    // The same name now gives a fresh, empty node.
    FilePreferences* fresh = parent->node("tolvane");
    EXPECT_NE(fresh, node);
    EXPECT_EQ(fresh->keys(), QStringList{});
}

TEST(FilePreferences, TypedGettersFallBackOnAnythingMalformed) {
    TempPrefs prefs;
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    const std::pair<const char*, int> ints[] = {
        {"12", 12},
        {"-2147483648", -2147483648},
        {"2147483647", 2147483647},
        {"+7", 7},
        {"2147483648", -1},
        {"-2147483649", -1},
        {"99999999999", -1},
        {"12a", -1},
        {" 1", -1},
        {"", -1},
        {"-", -1},
        {"1.5", -1},
    };
    for (const auto& [text, expected] : ints) {
        node->put("i", text);
        EXPECT_EQ(node->getInt("i", -1), expected) << text;
    }
    EXPECT_EQ(node->getInt("absent", 5), 5);
    const std::pair<const char*, int> bools[] = {{"true", 1}, {"TRUE", 1}, {"False", 0},
                                                 {"yes", -1}, {"1", -1},   {"", -1}};
    for (const auto& [text, expected] : bools) {
        node->put("b", text);
        for (bool def : {false, true}) {
            EXPECT_EQ(node->getBoolean("b", def), expected == -1 ? def : expected == 1) << text;
        }
    }
}

}  // namespace
}  // namespace quorvel::prefs
