// How the store protects the file: atomic saves, damaged and unreadable files, concurrent trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <thread>

#include "quorvel/prefs/BackingStoreException.h"
#include "quorvel/prefs/FilePreferences.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/support/TempPrefs.h"
#include "quorvel/util/PropertiesFormat.h"

namespace quorvel::prefs {
namespace {

using support::TempPrefs;

const char* const kNode = "/com/varnholt/tolvane";

QStringList folderEntries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

int countContaining(const QStringList& lines, const QString& part) {
    int n = 0;
    for (const auto& line : lines) {
        n += line.contains(part) ? 1 : 0;
    }
    return n;
}

// Permission checks are meaningless for root, so those tests run in a child process that
// drops to "nobody" first. The child reports through its exit code: 0 is success.
void asUnprivileged(const std::function<int()>& body) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        std::_Exit(99);
    }
    std::_Exit(body());
}

TEST(FilePreferencesSafety, TwoTreesOnOneFileFromTwoThreadsLoseNothing) {
    TempPrefs prefs;
    auto first = FilePreferences::createRoot(prefs.file());
    auto second = FilePreferences::createRoot(prefs.file());
    constexpr int kCount = 60;
    auto fill = [](FilePreferences* node, const QString& prefix) {
        for (int i = 0; i < kCount; ++i) {
            node->put(prefix + QString::number(i), QString::number(i));
        }
    };
    std::thread a(fill, first->node("a"), QStringLiteral("a"));
    std::thread b(fill, second->node("b"), QStringLiteral("b"));
    a.join();
    b.join();
    FilePreferences* a2 = FilePreferencesFactory::userRoot()->node("a");
    FilePreferences* b2 = FilePreferencesFactory::userRoot()->node("b");
    EXPECT_EQ(a2->keys().size(), kCount);
    EXPECT_EQ(b2->keys().size(), kCount);
    EXPECT_EQ(b2->get("b59", ""), "59");
    EXPECT_EQ(folderEntries(prefs.dir()), QStringList{"prefs.txt"}) << "no temporary left over";
}

TEST(FilePreferencesSafety, SaveStoppedBeforeTheRenameLeavesTheOldFile) {
    TempPrefs prefs;
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    node->put("port", "COM3");
    const QByteArray before = prefs.read();

    QStringList seen;
    FilePreferencesFactory::setBeforeReplaceHookForTesting([&](const QString& file) {
        seen << file;
        return false;
    });
    prefs.clearMessages();
    node->put("port", "COM4");
    EXPECT_EQ(seen, QStringList{prefs.file()});
    EXPECT_EQ(prefs.read(), before);
    EXPECT_TRUE(prefs.messages().contains("Unable to flush after putting port"));
    EXPECT_EQ(node->get("port", ""), "COM4") << "the value in memory stays changed";
    node->remove("port");
    EXPECT_TRUE(prefs.messages().contains("Unable to flush after removing port"));
    EXPECT_THROW(node->flush(), BackingStoreException);
    EXPECT_EQ(prefs.read(), before);
    EXPECT_EQ(folderEntries(prefs.dir()), QStringList{"prefs.txt"});

    FilePreferencesFactory::setBeforeReplaceHookForTesting({});
    node->put("port", "COM5");
    EXPECT_TRUE(prefs.read().contains("com.varnholt.tolvane.port=COM5\n"));
}

TEST(FilePreferencesSafety, SaveCreatesFoldersAndKeepsThePermissions) {
    TempPrefs prefs("deeper/still/prefs.txt");
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    node->put("port", "COM3");
    ASSERT_TRUE(QFileInfo::exists(prefs.file()));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(prefs.file()), 0666 & ~mask);

    ASSERT_EQ(::chmod(QFile::encodeName(prefs.file()).constData(), 0604), 0);
    node->put("port", "COM4");
    EXPECT_EQ(modeOf(prefs.file()), 0604u);
    EXPECT_TRUE(prefs.read().contains("port=COM4"));
}

TEST(FilePreferencesSafety, DamagedFileLoadsTheReadablePartAndIsKeptBeforeTheFirstSave) {
    TempPrefs prefs;
    QByteArray damaged(
        "#FilePreferences\n"
        "com.varnholt.tolvane.port=COM3\n"
        "com.varnholt.tolvane.cut=ab\\u00\n"
        "com.varnholt.tolvane.\\uZZZZbroken=1\n");
    damaged += QByteArray("\x00\x01\xFF\xFE garbage \x02=\x03\n", 17);
    damaged += "com.varnholt.tolvane.baudRate=5\n";
    prefs.write(damaged);

    FilePreferences* root = FilePreferencesFactory::userRoot();
    FilePreferences* node = root->node(kNode);
    EXPECT_EQ(node->get("port", ""), "COM3");
    EXPECT_EQ(node->get("baudRate", ""), "5");
    EXPECT_EQ(node->get("cut", ""), "ab");
    // Four nodes loaded the file; the damage is reported once, with the file's name.
    const QStringList messages = prefs.messages();
    EXPECT_EQ(countContaining(messages, "damaged"), 1) << messages.join('\n').toStdString();
    EXPECT_EQ(countContaining(messages, prefs.file()), 2);  // "Preferences file is", damage

    node->put("port", "COM4");
    const QString copy = prefs.file() + ".damaged";
    EXPECT_EQ(support::readWholeFile(copy), damaged);
    const auto rewritten = util::PropertiesFormat::parse(prefs.read());
    EXPECT_TRUE(rewritten.problems.empty());
    EXPECT_TRUE(prefs.read().contains("com.varnholt.tolvane.baudRate=5\n"));
    EXPECT_TRUE(prefs.read().contains("com.varnholt.tolvane.port=COM4\n"));

    // A later damage never overwrites the first copy.
    prefs.write("com.varnholt.tolvane.port=\\u12\n");
    node->sync();
    node->put("port", "COM5");
    EXPECT_EQ(support::readWholeFile(copy), damaged);
}

TEST(FilePreferencesSafety, AFileOverTheSizeLimitIsSetAsideUnread) {
    for (const qint64 over : {0, 1}) {
        SCOPED_TRACE(over);
        TempPrefs prefs;
        QByteArray content("com.varnholt.tolvane.port=COM3\n#");
        content += QByteArray(FilePreferences::MAX_FILE_SIZE + over - content.size() - 1, 'x');
        prefs.write(content + '\n');
        FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
        EXPECT_EQ(node->get("port", "default"), over ? "default" : "COM3");
        EXPECT_EQ(node->fileRefused(), over > 0);
        EXPECT_EQ(countContaining(prefs.messages(), "larger than"), over);

        node->put("delay", "5");
        EXPECT_EQ(QFileInfo(prefs.file() + ".damaged").size(), over ? content.size() + 1 : 0);
        EXPECT_EQ(prefs.read().size() < 100, over > 0);
        EXPECT_FALSE(node->fileRefused());
    }
}

TEST(FilePreferencesSafety, ASaveRemovesTemporariesOfThisFileWhoseWriterIsGone) {
    TempPrefs prefs;
    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
    node->put("port", "COM3");
    // A save killed between writing its temporary file and the rename.
    EXPECT_EXIT(
        {
            FilePreferencesFactory::setBeforeReplaceHookForTesting(
                [](const QString&) -> bool { std::_Exit(0); });
            node->put("port", "COM4");
        },
        ::testing::ExitedWithCode(0), "");
    const QStringList crashed = folderEntries(prefs.dir()).filter("prefs.txt.tmp");
    ASSERT_EQ(crashed.size(), 1);

    const pid_t gone = ::fork();
    if (gone == 0) {
        std::_Exit(0);
    }
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const struct {
        QString name;
        bool removed;
    } cases[] = {
        {QString("prefs.txt.tmp%1-7").arg(gone), true},
        {QString("prefs.txt.tmp%1-99").arg(::getpid()), true},   // an earlier failed save here
        {QString("prefs.txt.tmp%1-7").arg(::getppid()), false},  // another copy saving now
        {QString("other.txt.tmp%1-7").arg(gone), false},
        {QString("prefs.txt.tmp%1-7.bak").arg(gone), false},
        {QString("prefs.txt.tmp%1").arg(gone), false},
        {"prefs.txt.damaged", false},
    };
    for (const auto& c : cases) {
        support::writeWholeFile(prefs.dir() + "/" + c.name, "x");
    }
    node->put("port", "COM5");
    const QStringList left = folderEntries(prefs.dir());
    for (const auto& c : cases) {
        EXPECT_EQ(left.contains(c.name), !c.removed) << c.name.toStdString();
    }
    EXPECT_FALSE(left.contains(crashed[0]));
    EXPECT_TRUE(prefs.read().contains("com.varnholt.tolvane.port=COM5\n"));
}

TEST(FilePreferencesSafety, UnreadableFileIsNeverReplaced) {
    TempPrefs prefs;
    const QByteArray original("com.varnholt.tolvane.port=COM3\n");
    prefs.write(original);
    ASSERT_EQ(::chmod(QFile::encodeName(prefs.dir()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(prefs.file()).constData(), 0), 0);
    EXPECT_EXIT(asUnprivileged([&] {
                    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
                    if (!prefs.messages().contains("Unable to sync on creation of node tolvane")) {
                        return 1;
                    }
                    node->put("port", "COM4");
                    if (!prefs.messages().contains("Unable to flush after putting port")) {
                        return 2;
                    }
                    try {
                        node->flush();
                        return 3;
                    } catch (const BackingStoreException& e) {
                        if (e.error() != EACCES) {
                            return 5;
                        }
                    }
                    return folderEntries(prefs.dir()) == QStringList{"prefs.txt"} ? 0 : 4;
                }),
                ::testing::ExitedWithCode(0), "");
    ASSERT_EQ(::chmod(QFile::encodeName(prefs.file()).constData(), 0600), 0);
    EXPECT_EQ(prefs.read(), original);
}

TEST(FilePreferencesSafety, WritableFileInALockedFolderIsStillSaved) {
    TempPrefs prefs;
    prefs.write("com.varnholt.tolvane.port=COM3\n");
    ASSERT_EQ(::chmod(QFile::encodeName(prefs.file()).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(prefs.dir()).constData(), 0555), 0);
    EXPECT_EXIT(asUnprivileged([&] {
                    FilePreferences* node = FilePreferencesFactory::userRoot()->node(kNode);
                    node->put("port", "COM4");
                    return prefs.messages().filter("Unable").isEmpty() ? 0 : 1;
                }),
                ::testing::ExitedWithCode(0), "");
    ASSERT_EQ(::chmod(QFile::encodeName(prefs.dir()).constData(), 0700), 0);
    EXPECT_TRUE(prefs.read().contains("com.varnholt.tolvane.port=COM4\n"));
}

}  // namespace
}  // namespace quorvel::prefs

namespace quorvel::prefs {
namespace {

TEST(FilePreferencesBatch, SavesOnceWhenTheOutermostBatchEnds) {
    support::TempPrefs prefs;
    auto root = FilePreferences::createRoot(prefs.file());
    FilePreferences* node = root->node("/com/varnholt/tolvane");
    node->put("kept", "1");
    const QByteArray before = prefs.read();
    int saves = 0;
    FilePreferencesFactory::setBeforeReplaceHookForTesting([&saves](const QString&) {
        ++saves;
        return true;
    });
    {
        FilePreferences::Batch outer(*node);
        {
            FilePreferences::Batch inner(*root);
            node->put("a", "x");
            node->put("b", "y");
            node->remove("kept");
        }
        // The inner end is not the outermost one: memory changed, the file did not.
        EXPECT_EQ(node->get("a", ""), "x");
        EXPECT_EQ(prefs.read(), before);
        EXPECT_EQ(saves, 0);
    }
    EXPECT_EQ(saves, 1);
    auto again = FilePreferences::createRoot(prefs.file());
    FilePreferences* reread = again->node("/com/varnholt/tolvane");
    EXPECT_EQ(reread->get("a", ""), "x");
    EXPECT_EQ(reread->get("b", ""), "y");
    EXPECT_EQ(reread->get("kept", "(absent)"), "(absent)");
}

TEST(FilePreferencesBatch, AFlushInsideTheBatchSavesAtOnceAndOnlyOnce) {
    support::TempPrefs prefs;
    auto root = FilePreferences::createRoot(prefs.file());
    FilePreferences* node = root->node("/com/varnholt/tolvane");
    int saves = 0;
    FilePreferencesFactory::setBeforeReplaceHookForTesting([&saves](const QString&) {
        ++saves;
        return true;
    });
    {
        FilePreferences::Batch batch(*node);
        node->put("a", "x");
        node->flush();
        EXPECT_TRUE(prefs.read().contains("com.varnholt.tolvane.a=x"));
    }
    EXPECT_EQ(saves, 1);
}

TEST(FilePreferencesBatch, AFailedSaveAtTheEndIsLoggedLikeAPut) {
    support::TempPrefs prefs;
    auto root = FilePreferences::createRoot(prefs.file());
    FilePreferences* node = root->node("/com/varnholt/tolvane");
    node->put("old", "1");
    const QByteArray before = prefs.read();
    FilePreferencesFactory::setBeforeReplaceHookForTesting([](const QString&) { return false; });
    prefs.clearMessages();
    {
        FilePreferences::Batch batch(*node);
        node->put("new", "2");
    }
    EXPECT_TRUE(prefs.messages().contains("Unable to flush after putting new"))
        << prefs.messages().join('\n').toStdString();
    EXPECT_EQ(prefs.read(), before);
    EXPECT_EQ(node->get("new", ""), "2");  // memory keeps the change
}

}  // namespace
}  // namespace quorvel::prefs
