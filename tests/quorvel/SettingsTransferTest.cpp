// Export and import of the settings file through a temporary preferences store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

#include "quorvel/SettingsTransfer.h"
#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/support/RecordingMessagePresenter.h"
#include "quorvel/support/TempPrefs.h"
#include "quorvel/util/Bundle.h"

namespace quorvel {
namespace {

using H = config::ConfigHelper;
using Kind = test::RecordingMessagePresenter::Kind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

QString tolvane(const char* key) {
    return util::Bundle::tolvane().getString(key);
}

class SettingsTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(exportDir.isValid());
        exportPath = exportDir.filePath("tolvane.xml");
    }

    static config::Config settings(H::Instrument instrument, const QString& delay) {
        config::Config c;
        c.setPort("/dev/ttyS0");
        c.setInstrument(instrument);
        c.setDelay(delay);
        return c;
    }
    static void store(const config::Config& c) { config::ConfigStore().saveConfig(c); }
    static config::Config stored() {
        config::Config c;
        config::ConfigStore().loadConfig(c, {"/dev/ttyS0"});
        return c;
    }

    // The window's save: counted, so a test sees whether the export got that far.
    std::function<void()> saving(const config::Config& c) {
        return [this, &c] {
            ++saves;
            store(c);
        };
    }
    std::function<void(int)> exiting() {
        return [this](int code) { exitCodes.push_back(code); };
    }

    support::TempPrefs prefs;
    std::shared_ptr<test::RecordingMessagePresenter> messages =
        std::make_shared<test::RecordingMessagePresenter>();
    SettingsTransfer transfer{nullptr, messages};
    QTemporaryDir exportDir;
    QString exportPath;
    int saves = 0;
    std::vector<int> exitCodes;
};

TEST_F(SettingsTransferTest, ExportThenImportBringsTheSettingsBackAndOkExitsWithFour) {
    const config::Config exported = settings(H::Instrument::SARTORIUS, "25");
    messages->chooseFile(exportPath);
    ASSERT_TRUE(transfer.exportSettings(saving(exported)));
    EXPECT_EQ(saves, 1);
    EXPECT_THAT(messages->proposedNames, ElementsAre(QString("tolvane.xml")));
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::INFORMATION);
    EXPECT_EQ(messages->boxes[0].title, tolvane("export.successful"));
    EXPECT_EQ(messages->boxes[0].message,
              tolvane("configuration.exported.to.file.n") + QDir(exportPath).absolutePath());
    EXPECT_THAT(support::readWholeFile(exportPath).toStdString(), HasSubstr("SARTORIUS"));

    // Other settings in the meantime; the import puts the exported ones back.
    store(settings(H::Instrument::OHAUS, "7"));
    ASSERT_EQ(stored().getInstrument(), H::Instrument::OHAUS);
    messages->boxes.clear();
    messages->chooseFile(exportPath);
    messages->answer(true);
    ASSERT_TRUE(transfer.importSettings(exiting()));
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::OK_CANCEL);
    EXPECT_EQ(messages->boxes[0].title, "Restart required");
    EXPECT_EQ(messages->boxes[0].message, "Apply imported configuration and exit?");
    EXPECT_THAT(exitCodes, ElementsAre(4));
    const config::Config imported = stored();
    EXPECT_EQ(imported.getInstrument(), H::Instrument::SARTORIUS);
    EXPECT_EQ(imported.getDelay(), "25");
}

TEST_F(SettingsTransferTest, CancelledChoicesChangeNothing) {
    store(settings(H::Instrument::KERN_572, "3"));
    const QByteArray before = prefs.read();

    // No file chosen for the export: no save, no file, no box.
    EXPECT_FALSE(transfer.exportSettings(saving(settings(H::Instrument::OHAUS, "9"))));
    EXPECT_EQ(saves, 0);
    EXPECT_FALSE(QFile::exists(exportPath));

    // No file chosen for the import.
    EXPECT_FALSE(transfer.importSettings(exiting()));
    EXPECT_TRUE(messages->boxes.empty());
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(prefs.read(), before);
}

TEST_F(SettingsTransferTest, CancelAtTheRestartQuestionKeepsTheProgramRunning) {
    store(settings(H::Instrument::SARTORIUS, "25"));
    config::ConfigStore().exportSettings(exportPath);
    store(settings(H::Instrument::OHAUS, "7"));

    messages->chooseFile(exportPath);
    messages->answer(false);
    EXPECT_TRUE(transfer.importSettings(exiting()));
    EXPECT_TRUE(exitCodes.empty());
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::OK_CANCEL);
    // The store holds the import for the next start; the running window keeps its settings
    // (and writes them back when it closes).
    EXPECT_EQ(stored().getInstrument(), H::Instrument::SARTORIUS);
}

TEST_F(SettingsTransferTest, OverwriteQuestionCancelledLeavesTheFileUntouched) {
    const QByteArray original("<?xml version=\"1.0\"?>\n<keep>mine</keep>\n");
    support::writeWholeFile(exportPath, original);
    messages->chooseFile(exportPath);
    messages->answer(false);
    EXPECT_FALSE(transfer.exportSettings(saving(settings(H::Instrument::OHAUS, "9"))));
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(support::readWholeFile(exportPath), original);
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::OK_CANCEL);
    EXPECT_EQ(messages->boxes[0].title, tolvane("overwrite"));
    EXPECT_EQ(messages->boxes[0].message, tolvane("file.already.exists.overwrite"));
}

TEST_F(SettingsTransferTest, OverwriteConfirmedReplacesTheFile) {
    support::writeWholeFile(exportPath, "old contents");
    messages->chooseFile(exportPath);
    messages->answer(true);
    EXPECT_TRUE(transfer.exportSettings(saving(settings(H::Instrument::MITUTOYO, "4"))));
    EXPECT_EQ(saves, 1);
    const std::string written = support::readWholeFile(exportPath).toStdString();
    EXPECT_THAT(written, HasSubstr("MITUTOYO"));
    EXPECT_THAT(written, ::testing::Not(HasSubstr("old contents")));
    ASSERT_EQ(messages->boxes.size(), 2u);
    EXPECT_EQ(messages->boxes[1].kind, Kind::INFORMATION);
}

TEST_F(SettingsTransferTest, AnUnwritableExportIsReported) {
    messages->chooseFile(exportDir.filePath("no/such/folder/tolvane.xml"));
    EXPECT_FALSE(transfer.exportSettings(saving(settings(H::Instrument::OHAUS, "9"))));
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, Kind::ERROR);
    EXPECT_EQ(messages->boxes[0].title, tolvane("error"));
    const QString message = messages->boxes[0].message;
    EXPECT_TRUE(message.startsWith(tolvane("export.failed"))) << message.toStdString();
    EXPECT_GT(message.size(), tolvane("export.failed").size());  // the problem follows
}

TEST_F(SettingsTransferTest, ABrokenOrMissingImportFileIsReportedAndStoresNothing) {
    store(settings(H::Instrument::KERN_572, "3"));
    const QByteArray before = prefs.read();
    const QString broken = exportDir.filePath("broken.xml");
    support::writeWholeFile(broken, "<?xml version=\"1.0\"?><preferences><root");

    for (const QString& path : {broken, exportDir.filePath("missing.xml")}) {
        messages->boxes.clear();
        messages->chooseFile(path);
        EXPECT_FALSE(transfer.importSettings(exiting()));
        ASSERT_EQ(messages->boxes.size(), 1u) << path.toStdString();
        EXPECT_EQ(messages->boxes[0].kind, Kind::ERROR);
        EXPECT_EQ(messages->boxes[0].title, tolvane("error"));
        const QString message = messages->boxes[0].message;
        EXPECT_TRUE(message.startsWith("Import failed\n")) << message.toStdString();
        EXPECT_GT(message.size(), QString("Import failed\n").size());
    }
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(prefs.read(), before);
}

}  // namespace
}  // namespace quorvel
