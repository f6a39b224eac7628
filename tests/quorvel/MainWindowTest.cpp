// The main window's controls, their bindings to Config, the field checks and the two layouts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSet>

#include <memory>
#include <thread>
#include <vector>

#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/config/LineFormat.h"
#include "quorvel/support/RecordingMessagePresenter.h"
#include "quorvel/util/FriendlyPortUtil.h"
#include "serialkit/SystemProperties.h"

namespace quorvel {
namespace {

using H = config::ConfigHelper;
using test::RecordingMessagePresenter;
template <typename E>
using S = config::Setting<E>;

QString tolvane(const char* key) {
    return util::Bundle::tolvane().getString(key);
}

// Records the handlers the application will fill in, to see that the controls reach them.
class RecordingFrame : public ZoviziDeZizFrame2 {
  public:
    using ZoviziDeZizFrame2::ZoviziDeZizFrame2;
    std::vector<QString> calls;
    QList<QUrl> links;
    QString chosenFile;  // empty: the chooser is cancelled

  protected:
    void startStopJButtonActionPerformed() override { calls.push_back("startStop"); }
    void autoButtonActionPerformed() override { calls.push_back("auto"); }
    void defaultButtonActionPerformed() override { calls.push_back("default"); }
    void refreshPortsButtonActionPerformed() override { calls.push_back("refresh"); }
    void customizeButtonActionPerformed() override { calls.push_back("customize"); }
    void adjustIgnoreButtonActionPerformed() override { calls.push_back("adjustIgnore"); }
    void importSettingsButtonActionPerformed() override { calls.push_back("import"); }
    void exportSettingsButtonActionPerformed() override { calls.push_back("export"); }
    void aboutPaneHyperlinkUpdate(const QUrl& address) override { links.push_back(address); }
    QString chooseValueLogFile(const QString& current) override {
        calls.push_back("choose " + current);
        return chosenFile;
    }
};

class MainWindowTest : public ::testing::Test {
  protected:
    void TearDown() override {
        util::FriendlyPortUtil::clear();
        serialkit::SystemProperties::clear("VERSION");
        serialkit::SystemProperties::clear("RELEASEDATE");
    }

    std::unique_ptr<RecordingFrame> makeWindow(config::Config config = config::Config(),
                                               QStringList ports = {"COM1", "COM2"}) {
        return std::make_unique<RecordingFrame>(std::move(config), std::move(ports), messages);
    }

    // Queued field resets and messages run on the next turn of the event loop.
    static void runQueued() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    // The error boxes shown so far with the text of `key`, all titled "error".
    int errorsWith(const char* key) const {
        int count = 0;
        for (const auto& box : messages->boxes) {
            if (box.message == tolvane(key)) {
                EXPECT_EQ(box.kind, RecordingMessagePresenter::Kind::ERROR) << key;
                EXPECT_EQ(box.title, tolvane("error")) << key;
                ++count;
            }
        }
        return count;
    }

    static QStringList pageNames(const ZoviziDeZizFrame2& window) {
        QStringList names;
        for (int i = 0; i < window.tabbedPane->count(); ++i) {
            names << window.tabbedPane->widget(i)->objectName();
        }
        return names;
    }
    static QStringList pageTitles(const ZoviziDeZizFrame2& window) {
        QStringList titles;
        for (int i = 0; i < window.tabbedPane->count(); ++i) {
            titles << window.tabbedPane->tabText(i);
        }
        return titles;
    }

    std::shared_ptr<RecordingMessagePresenter> messages =
        std::make_shared<RecordingMessagePresenter>();
};

const QStringList kAllPages = {"panel1",        "inputPanel",    "processingPanel", "outputPanel",
                               "settingsPanel", "eventLogPanel", "aboutPanel"};

QStringList allTitles() {
    return {tolvane("ZoviziDeZizFrame2.panel1.tab.title"),
            tolvane("ZoviziDeZizFrame2.inputPanel.tab.title"),
            tolvane("ZoviziDeZizFrame2.processingPanel.tab.title"),
            tolvane("ZoviziDeZizFrame2.outputPanel.tab.title"),
            tolvane("ZoviziDeZizFrame2.settingsPanel.tab.title"),
            tolvane("ZoviziDeZizFrame2.eventLogPanel.tab.title"),
            tolvane("ZoviziDeZizFrame2.aboutPanel.tab.title")};
}

// --- window, pages and controls ---

TEST_F(MainWindowTest, WindowHasItsTitleSizePagesAndNamedControls) {
    auto window = makeWindow();
    EXPECT_EQ(window->windowTitle(), "Varnholt Tolvane");
    EXPECT_EQ(window->size(), QSize(480, 405));
    EXPECT_EQ(pageNames(*window), kAllPages);
    EXPECT_EQ(pageTitles(*window), allTitles());
    EXPECT_EQ(window->startStopJButton->text(), tolvane("ZoviziDeZizFrame2.startStopJButton.text"));
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("ZoviziDeZizFrame2.statusJLabel.text"));
    EXPECT_EQ(window->startStopJButton->parentWidget(), window->panel1);

    const std::vector<std::pair<const char*, QWidget*>> controls = {
        {"portList", window->portList},
        {"instrumentBox", window->instrumentBox},
        {"bitRateBox", window->bitRateBox},
        {"inputTerminatorBox", window->inputTerminatorBox},
        {"customizeButton", window->customizeButton},
        {"mathOperandTextField", window->mathOperandTextField},
        {"editNumCharactersTextField", window->editNumCharactersTextField},
        {"adjustIgnoreButton", window->adjustIgnoreButton},
        {"stableOnlyCheckBox", window->stableOnlyCheckBox},
        {"decimalSeparatorBox", window->decimalSeparatorBox},
        {"delayTextField", window->delayTextField},
        {"autoConnectButton", window->autoConnectButton},
        {"checkForUpdatesCheckBox", window->checkForUpdatesCheckBox},
        {"exportSettingsButton", window->exportSettingsButton},
        {"valueLogTextField", window->valueLogTextField},
        {"valueLogButton", window->valueLogButton},
        {"eventLog", window->eventLog},
        {"aboutPane", window->aboutPane},
        {"statusJLabel", window->statusJLabel},
    };
    for (const auto& [name, widget] : controls) {
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(window->findChild<QWidget*>(name), widget) << name;
    }
    // Each control sits on its own page.
    EXPECT_TRUE(window->inputPanel->isAncestorOf(window->customizeButton));
    EXPECT_TRUE(window->processingPanel->isAncestorOf(window->removeCharactersTextField));
    EXPECT_TRUE(window->processingPanel->isAncestorOf(window->stableOnlyCheckBox));
    EXPECT_TRUE(window->outputPanel->isAncestorOf(window->decimalSeparatorBox));
    EXPECT_TRUE(window->settingsPanel->isAncestorOf(window->exportSettingsButton));
    EXPECT_TRUE(window->settingsPanel->isAncestorOf(window->valueLogButton));
    EXPECT_TRUE(window->eventLogPanel->isAncestorOf(window->eventLog));
    EXPECT_TRUE(window->aboutPanel->isAncestorOf(window->aboutPane));

    EXPECT_EQ(window->portList->toolTip(), tolvane("ZoviziDeZizFrame2.portList.toolTipText"));
    EXPECT_EQ(window->delayTextField->toolTip(),
              tolvane("ZoviziDeZizFrame2.delayTextField.toolTipText"));
    EXPECT_TRUE(window->dataBitsBox->toolTip().isEmpty());
    EXPECT_EQ(window->findChild<QLabel*>("updatesLabel")->text(), "Updates:");
    EXPECT_EQ(window->findChild<QLabel*>("label12")->text(),
              tolvane("ZoviziDeZizFrame2.label12.text_2"));
}

TEST_F(MainWindowTest, PrototypeWidthsAndButtonSize) {
    auto window = makeWindow();
    const QFontMetrics portFont = window->portList->fontMetrics();
    EXPECT_GE(window->portList->sizeHint().width(), portFont.horizontalAdvance(QString(53, 'X')));
    const QString prototype = tolvane("ZoviziDeZizFrame2.inputTerminatorBox.prototypeDisplayValue");
    EXPECT_GE(window->inputTerminatorBox->minimumSizeHint().width(),
              window->inputTerminatorBox->fontMetrics().horizontalAdvance(prototype));
    EXPECT_GE(window->defaultButton->minimumSize().width(), 113);
    EXPECT_GE(window->defaultButton->minimumSize().height(), 23);
}

TEST_F(MainWindowTest, EveryInstrumentIsListedAndTheAboutTextIsShown) {
    serialkit::SystemProperties::set("VERSION", "2099.7.1.3");
    serialkit::SystemProperties::set("RELEASEDATE", "20990704");
    auto window = makeWindow();
    ASSERT_EQ(window->instrumentBox->count(), S<H::Instrument>::size());
    for (const auto instrument : S<H::Instrument>::values()) {
        EXPECT_EQ(window->instrumentBox->itemText(S<H::Instrument>::position(instrument)),
                  S<H::Instrument>::label(instrument));
    }
    EXPECT_TRUE(window->aboutPane->isReadOnly());
    EXPECT_TRUE(window->eventLog->isReadOnly());
    EXPECT_TRUE(window->aboutPane->toPlainText().contains(u'\u00A9'));
    EXPECT_TRUE(window->aboutPane->toPlainText().contains("2099.7.1.3"));
    EXPECT_TRUE(window->aboutPane->toPlainText().contains("20990704"));
}

TEST_F(MainWindowTest, LongStatusTextsWrapInsteadOfWideningTheWindow) {
    auto window = makeWindow();
    window->show();
    runQueued();
    const int width = window->width();
    window->deviceLost("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "gone");
    window->setConnectedInGUI(false);
    runQueued();
    EXPECT_EQ(window->width(), width);
}

TEST_F(MainWindowTest, ButtonsAndAboutLinksReachTheirHandlers) {
    auto window = makeWindow();
    window->startStopJButton->click();
    window->autoButton->click();
    window->defaultButton->click();
    window->refreshPortsButton->click();
    window->customizeButton->click();
    window->adjustIgnoreButton->click();
    window->importSettingsButton->click();
    window->exportSettingsButton->click();
    EXPECT_THAT(window->calls,
                ::testing::ElementsAre("startStop", "auto", "default", "refresh", "customize",
                                       "adjustIgnore", "import", "export"));

    // A link is handed over, never followed by the pane itself.
    const QString before = window->aboutPane->toHtml();
    emit window->aboutPane->anchorClicked(QUrl("file:///etc/passwd"));
    ASSERT_EQ(window->links.size(), 1);
    EXPECT_EQ(window->links.front(), QUrl("file:///etc/passwd"));
    EXPECT_FALSE(window->aboutPane->openLinks());
    EXPECT_EQ(window->aboutPane->toHtml(), before);
}

TEST_F(MainWindowTest, IconsAreLoadedInAllFourSizes) {
    const QIcon icon = ZoviziDeZizFrame2::loadIcons();
    const auto sizes = icon.availableSizes();
    for (int side : {16, 20, 24, 32}) {
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    }
}

// --- the two layouts ---

TEST_F(MainWindowTest, RunningLayoutKeepsStartEventLogAndAboutAndStoppedRestoresAll) {
    auto window = makeWindow();
    window->setConnectedInGUI(true);
    EXPECT_EQ(pageNames(*window), QStringList({"panel1", "eventLogPanel", "aboutPanel"}));
    EXPECT_EQ(window->startStopJButton->text(),
              tolvane("ZoviziDeZizFrame2.startStopJButton.textStop"));
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("switch.to.target.application"));

    // Said twice, it must not take the log and about pages as well.
    window->setConnectedInGUI(true);
    EXPECT_EQ(pageNames(*window), QStringList({"panel1", "eventLogPanel", "aboutPanel"}));

    window->setConnectedInGUI(false);
    EXPECT_EQ(pageNames(*window), kAllPages);
    EXPECT_EQ(pageTitles(*window), allTitles());
    EXPECT_EQ(window->startStopJButton->text(), tolvane("ZoviziDeZizFrame2.startStopJButton.text"));
    EXPECT_EQ(window->statusJLabel->originalText(), tolvane("ZoviziDeZizFrame2.statusJLabel.text"));

    window->setConnectedInGUI(false);
    EXPECT_EQ(pageNames(*window), kAllPages);
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(MainWindowTest, LayoutSwitchFromAnotherThreadHappensOnTheUiThread) {
    auto window = makeWindow();
    std::thread reader([&window] { window->setConnectedInGUI(true); });
    reader.join();
    EXPECT_EQ(window->tabbedPane->count(), 7);  // not yet: queued to the UI thread
    runQueued();
    EXPECT_EQ(pageNames(*window), QStringList({"panel1", "eventLogPanel", "aboutPanel"}));
}

TEST_F(MainWindowTest, UnexpectedPagesAreReportedAsInternalErrorAndLeftAlone) {
    auto window = makeWindow();
    auto* stranger = new QWidget;
    stranger->setObjectName("stranger");
    window->tabbedPane->insertTab(1, stranger, "Stranger");
    window->setConnectedInGUI(true);
    EXPECT_EQ(errorsWith("internal.error"), 1);
    EXPECT_EQ(window->tabbedPane->count(), 8);
    EXPECT_EQ(window->tabbedPane->widget(1), stranger);
}

// --- validated fields ---

TEST_F(MainWindowTest, MathOperandTakesCommaAsPointAndRefusesZero) {
    auto window = makeWindow();
    QLineEdit* field = window->mathOperandTextField;
    field->insert("1");
    field->insert(",");
    field->insert("5");
    EXPECT_EQ(window->getConfig().getMathOperand(), "1.5");
    EXPECT_EQ(field->text(), "1,5");  // the field keeps what was typed
    EXPECT_TRUE(messages->boxes.empty());

    field->setText("-0,25");
    EXPECT_EQ(window->getConfig().getMathOperand(), "-0.25");

    field->setText("0");
    EXPECT_EQ(errorsWith("error.math.operand"), 1);
    EXPECT_EQ(window->getConfig().getMathOperand(), "-0.25");
    runQueued();
    EXPECT_TRUE(field->text().isEmpty());
    // The emptied field is what config holds from then on.
    EXPECT_TRUE(window->getConfig().getMathOperand().isEmpty());

    field->setText("1.2.3");
    field->setText("abc");  // before the reset: the same bad entry, no second box
    runQueued();
    EXPECT_EQ(errorsWith("error.math.operand"), 2);
    EXPECT_TRUE(field->text().isEmpty());
}

// Key presses as the keyboard delivers them to the field.
void typeKeys(QLineEdit* field, const QString& keys) {
    for (const QChar c : keys) {
        const int key = c == u'\r' ? int(Qt::Key_Return) : int(c.unicode());
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, c == u'\r' ? QString() : QString(c));
        QCoreApplication::sendEvent(field, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(field, &release);
    }
}

TEST_F(MainWindowTest, AnOperandStartingWithZeroCanBeTypedKeyByKey) {
    auto window = makeWindow();
    QLineEdit* field = window->mathOperandTextField;
    typeKeys(field, "0,001");
    runQueued();
    EXPECT_TRUE(messages->boxes.empty());
    EXPECT_EQ(field->text(), "0,001");
    EXPECT_EQ(window->getConfig().getMathOperand(), "0.001");

    // A zero left on its own is refused when the entry is finished.
    field->setText("");
    typeKeys(field, "0");
    EXPECT_TRUE(messages->boxes.empty());
    EXPECT_TRUE(window->getConfig().getMathOperand().isEmpty());
    typeKeys(field, "\r");
    EXPECT_EQ(errorsWith("error.math.operand"), 1);
    runQueued();
    EXPECT_TRUE(field->text().isEmpty());

    // Whatever cannot begin a number is refused at once.
    typeKeys(field, "x");
    EXPECT_EQ(errorsWith("error.math.operand"), 2);
    runQueued();
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(MainWindowTest, DecimalPlacesAcceptZeroToSeven) {
    auto window = makeWindow();
    QLineEdit* field = window->decimalTextField;
    for (const char* good : {"0", "7", "3", ""}) {
        field->setText(good);
        EXPECT_EQ(window->getConfig().getDecimalPlaces(), good);
    }
    field->setText("4");
    field->insert("8");  // "48"
    EXPECT_EQ(window->getConfig().getDecimalPlaces(), "4");
    runQueued();
    field->setText("8");
    EXPECT_EQ(window->getConfig().getDecimalPlaces(), "");
    runQueued();
    field->setText("-1");
    runQueued();
    EXPECT_EQ(errorsWith("error.decimal.places"), 3);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(errorsWith("error.math.operand"), 0);
}

TEST_F(MainWindowTest, EditCountAcceptsOneToNinetyNineOrEmpty) {
    auto window = makeWindow();
    QLineEdit* field = window->editNumCharactersTextField;
    field->setText("99");
    EXPECT_EQ(window->getConfig().getEditNumCharacters(), "99");
    field->setText("");
    EXPECT_EQ(window->getConfig().getEditNumCharacters(), "");
    EXPECT_TRUE(messages->boxes.empty());
    field->setText("1");
    for (const char* bad : {"0", "100", "ab"}) {
        field->setText(bad);
        EXPECT_EQ(window->getConfig().getEditNumCharacters(), "1") << bad;
        runQueued();
        EXPECT_TRUE(field->text().isEmpty()) << bad;
        field->setText("1");
    }
    EXPECT_EQ(errorsWith("error.edit.numCharacters"), 3);
}

TEST_F(MainWindowTest, RemoveCharactersRefusesCodesAbove255) {
    auto window = makeWindow();
    QLineEdit* field = window->removeCharactersTextField;
    field->setText(QString::fromUtf8("kg \xC3\xA9\xC3\xBF"));  // é and ÿ are bytes too
    EXPECT_EQ(window->getConfig().getRemoveCharacters(), QString::fromUtf8("kg \xC3\xA9\xC3\xBF"));
    field->insert(QString::fromUtf8("\xE2\x82\xAC"));  // the euro sign
    EXPECT_EQ(errorsWith("error.edit.removeCharacters"), 1);
    EXPECT_EQ(window->getConfig().getRemoveCharacters(), QString::fromUtf8("kg \xC3\xA9\xC3\xBF"));
    runQueued();
    EXPECT_TRUE(field->text().isEmpty());
    field->setText(QString::fromUtf8("\xF0\x9F\x98\x80"));  // one character, two code units
    runQueued();
    EXPECT_EQ(errorsWith("error.edit.removeCharacters"), 2);
}

TEST_F(MainWindowTest, DelayOutsideZeroToThousandIsResetTo20) {
    auto window = makeWindow();
    QLineEdit* field = window->delayTextField;
    field->setText("1000");
    EXPECT_EQ(window->getConfig().getDelay(), "1000");
    field->setText("0");
    EXPECT_EQ(window->getConfig().getDelay(), "0");

    field->setText("100");
    field->end(false);
    field->insert("1");                                      // 1001
    EXPECT_EQ(errorsWith("error.intercharacter.delay"), 1);  // once, though two signals came
    EXPECT_EQ(window->getConfig().getDelay(), "100");
    runQueued();
    EXPECT_EQ(field->text(), "20");
    EXPECT_EQ(window->getConfig().getDelay(), "20");

    // Replacing the whole text by one of the same length leaves the caret where it was.
    field->setText("1000");
    field->setSelection(0, 4);
    field->insert("5000");
    EXPECT_EQ(errorsWith("error.intercharacter.delay"), 2);
    runQueued();
    EXPECT_EQ(field->text(), "20");
}

TEST_F(MainWindowTest, ValueLogTakesAFullPathTypedOrChosen) {
    auto window = makeWindow();
    QLineEdit* field = window->valueLogTextField;
    window->chosenFile = "/var/lab/readings.csv";
    window->valueLogButton->click();
    EXPECT_EQ(window->getConfig().valueLog, "/var/lab/readings.csv");
    window->chosenFile.clear();
    window->valueLogButton->click();  // cancelled
    EXPECT_THAT(window->calls, ::testing::ElementsAre("choose ", "choose /var/lab/readings.csv"));
    // A refused path goes back to the file recorded to, not to nothing.
    field->setText("readings.csv");
    EXPECT_EQ(errorsWith("error.value.log"), 1);
    EXPECT_EQ(window->getConfig().valueLog, "/var/lab/readings.csv");
    runQueued();
    EXPECT_EQ(field->text(), "/var/lab/readings.csv");
}

TEST_F(MainWindowTest, InputTerminatorShowsItsConstantOrTheNumber) {
    config::Config cr;
    cr.setInputTerminator(13);
    auto window = makeWindow(std::move(cr));
    EXPECT_EQ(window->inputTerminatorBox->currentText(),
              S<H::InputTerminator>::label(H::InputTerminator::CR));
    ASSERT_EQ(window->inputTerminatorBox->count(), 3);
    EXPECT_TRUE(window->inputTerminatorBox->isEditable());

    config::Config odd;
    odd.setInputTerminator(3);
    auto other = makeWindow(std::move(odd));
    EXPECT_EQ(other->inputTerminatorBox->currentText(), "3");
}

TEST_F(MainWindowTest, InputTerminatorTakesAConstantOrACodeFrom0To255) {
    auto window = makeWindow();
    QComboBox* box = window->inputTerminatorBox;
    box->setCurrentIndex(S<H::InputTerminator>::position(H::InputTerminator::LF));
    EXPECT_EQ(window->getConfig().getInputTerminator(), 10);

    box->setEditText("255");
    emit box->lineEdit()->editingFinished();
    EXPECT_EQ(window->getConfig().getInputTerminator(), 255);

    for (const char* bad : {"256", "-1", "CRLF"}) {
        box->setEditText(bad);
        emit box->lineEdit()->editingFinished();
        emit box->lineEdit()->editingFinished();  // losing the focus to the box ends it again
        EXPECT_EQ(window->getConfig().getInputTerminator(), 255) << bad;
        runQueued();
        EXPECT_EQ(box->currentText(), "255") << bad;
    }
    EXPECT_EQ(errorsWith("terminator.must.be.between.0.and.255"), 3);

    // The check also runs when the controls are read back.
    box->setEditText("0");
    window->updateConfigFromTabs();
    EXPECT_EQ(window->getConfig().getInputTerminator(), 0);
}

// --- arithmetic checks ---

TEST_F(MainWindowTest, OperationWithoutOperandFallsBackToNone) {
    auto window = makeWindow();
    window->mathOperandTextField->setText("2.5");
    window->mathOperationBox->select(H::MathOperation::MULTIPLY);
    EXPECT_EQ(window->getConfig().getMathOperation(), H::MathOperation::MULTIPLY);

    window->mathOperationBox->select(H::MathOperation::NONE);
    EXPECT_TRUE(window->mathOperandTextField->text().isEmpty());
    EXPECT_TRUE(window->getConfig().getMathOperand().isEmpty());

    window->mathOperationBox->select(H::MathOperation::MULTIPLY);
    window->updateConfigFromTabs();
    EXPECT_EQ(window->mathOperationBox->selected(), H::MathOperation::NONE);
    EXPECT_EQ(window->getConfig().getMathOperation(), H::MathOperation::NONE);
}

TEST_F(MainWindowTest, DivisionWithoutDecimalPlacesAsksOnceWhileTheMessageIsPending) {
    auto window = makeWindow();
    window->mathOperandTextField->setText("4");
    window->mathOperationBox->select(H::MathOperation::DIVIDE);
    window->updateConfigFromTabs();
    window->updateConfigFromTabs();
    EXPECT_EQ(errorsWith("please.enter.number.of.decimal.places.for.rounding.or.disable.division"),
              0);  // queued, not shown from inside the read-back
    runQueued();
    EXPECT_EQ(errorsWith("please.enter.number.of.decimal.places.for.rounding.or.disable.division"),
              1);
    window->updateConfigFromTabs();
    runQueued();
    EXPECT_EQ(errorsWith("please.enter.number.of.decimal.places.for.rounding.or.disable.division"),
              2);

    window->decimalTextField->setText("2");
    window->updateConfigFromTabs();
    runQueued();
    EXPECT_EQ(errorsWith("please.enter.number.of.decimal.places.for.rounding.or.disable.division"),
              2);
    EXPECT_EQ(window->getConfig().getMathOperation(), H::MathOperation::DIVIDE);
    EXPECT_TRUE(window->getConfig().mathEnabled());
}

// --- instruments ---

TEST_F(MainWindowTest, TextInstrumentDisablesExactlyTheFiveNumericControls) {
    ASSERT_EQ(config::InstrumentPresets::getInstrumentType(H::Instrument::BARCODE),
              H::InstrumentType::TEXT);
    ASSERT_EQ(config::InstrumentPresets::getInstrumentType(H::Instrument::SARTORIUS),
              H::InstrumentType::NUMBER);
    auto window = makeWindow();
    window->mathOperationBox->select(H::MathOperation::MULTIPLY);
    window->mathOperandTextField->setText("3");
    window->decimalTextField->setText("2");
    window->roundingMethodBox->select(H::RoundingMethod::FLOOR);
    window->decimalSeparatorBox->select(H::DecimalSeparator::COMMA);

    const QSet<QWidget*> numeric = {window->roundingMethodBox, window->mathOperationBox,
                                    window->mathOperandTextField, window->decimalTextField,
                                    window->decimalSeparatorBox};
    // Every control of the setting pages (a combo box's own line edit goes with the box).
    const auto disabledControls = [&window] {
        QSet<QWidget*> disabled;
        for (QWidget* page : {window->inputPanel, window->processingPanel, window->outputPanel,
                              window->settingsPanel}) {
            for (QWidget* w : page->findChildren<QWidget*>()) {
                const bool control =
                    qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractButton*>(w) ||
                    (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parent()));
                // The request fields follow the request command instead (tested below).
                const bool request =
                    w == window->requestIntervalTextField || w == window->requestHotkeyTextField;
                if (control && !request && !w->isEnabled()) {
                    disabled.insert(w);
                }
            }
        }
        return disabled;
    };
    EXPECT_TRUE(disabledControls().isEmpty());

    window->instrumentBox->select(H::Instrument::BARCODE);
    EXPECT_EQ(window->getConfig().getInstrument(), H::Instrument::BARCODE);
    EXPECT_EQ(disabledControls(), numeric);
    EXPECT_EQ(window->mathOperationBox->selected(), H::MathOperation::MULTIPLY);
    EXPECT_EQ(window->mathOperandTextField->text(), "3");
    EXPECT_EQ(window->decimalTextField->text(), "2");
    EXPECT_EQ(window->roundingMethodBox->selected(), H::RoundingMethod::FLOOR);
    EXPECT_EQ(window->decimalSeparatorBox->selected(), H::DecimalSeparator::COMMA);

    window->instrumentBox->select(H::Instrument::SARTORIUS);
    EXPECT_TRUE(disabledControls().isEmpty());
    EXPECT_EQ(window->getConfig().getMathOperand(), "3");
}

TEST_F(MainWindowTest, StoredTextInstrumentStartsWithTheNumericControlsDisabled) {
    config::Config barcode;
    barcode.setInstrument(H::Instrument::BARCODE_ALPHA);
    auto window = makeWindow(std::move(barcode));
    EXPECT_EQ(window->instrumentBox->selected(), H::Instrument::BARCODE_ALPHA);
    EXPECT_FALSE(window->decimalSeparatorBox->isEnabled());
    EXPECT_FALSE(window->mathOperandTextField->isEnabled());
    EXPECT_TRUE(window->editNumCharactersTextField->isEnabled());
}

TEST_F(MainWindowTest, ChangingTheInstrumentAsksBeforeDroppingACustomPattern) {
    config::Config custom;
    custom.setInstrument(H::Instrument::GENERIC);
    custom.setCustomRegEx("W:([0-9.]+)");
    auto window = makeWindow(std::move(custom));

    messages->answer(false);
    window->instrumentBox->select(H::Instrument::OHAUS);
    ASSERT_EQ(messages->boxes.size(), 1u);
    EXPECT_EQ(messages->boxes[0].kind, RecordingMessagePresenter::Kind::YES_NO);
    EXPECT_EQ(messages->boxes[0].title, "Confirm");
    EXPECT_EQ(messages->boxes[0].message, "Overwrite custom regular expression?");
    EXPECT_EQ(window->getConfig().getCustomRegEx(), "W:([0-9.]+)");
    EXPECT_EQ(window->getConfig().getInstrument(), H::Instrument::OHAUS);

    messages->answer(true);
    window->instrumentBox->select(H::Instrument::KERN_572);
    ASSERT_EQ(messages->boxes.size(), 2u);
    EXPECT_TRUE(window->getConfig().getCustomRegEx().isEmpty());
    EXPECT_EQ(window->getConfig().getInstrument(), H::Instrument::KERN_572);

    // Nothing left to overwrite: no question.
    window->instrumentBox->select(H::Instrument::MITUTOYO);
    EXPECT_EQ(messages->boxes.size(), 2u);
    EXPECT_EQ(window->getConfig().getInstrument(), H::Instrument::MITUTOYO);
}

// --- the other bindings ---

TEST_F(MainWindowTest, ConnectButtonsAreExclusiveAndStoreTheMode) {
    config::Config automatic;
    automatic.setConnect(H::Connect::AUTO);
    auto window = makeWindow(std::move(automatic));
    EXPECT_TRUE(window->autoConnectButton->isChecked());
    EXPECT_FALSE(window->manualConnectButton->isChecked());
    EXPECT_TRUE(window->connectButtonGroup->exclusive());

    window->manualConnectButton->click();
    EXPECT_TRUE(window->manualConnectButton->isChecked());
    EXPECT_FALSE(window->autoConnectButton->isChecked());
    EXPECT_EQ(window->getConfig().getConnect(), H::Connect::MANUAL);

    window->autoConnectButton->click();
    window->autoConnectButton->click();
    EXPECT_TRUE(window->autoConnectButton->isChecked());
    EXPECT_FALSE(window->manualConnectButton->isChecked());
    EXPECT_EQ(window->getConfig().getConnect(), H::Connect::AUTO);
}

TEST_F(MainWindowTest, PortListShowsFriendlyNamesAndStoresThePlainName) {
    util::FriendlyPortUtil::setPortInfoList({{"COM3", "FTDI", "USB Serial Port"}});
    config::Config stored;
    stored.setPort("COM3");
    auto window = makeWindow(std::move(stored), {"COM1", "COM3"});
    ASSERT_EQ(window->portList->count(), 2);
    EXPECT_EQ(window->portList->itemText(0), "COM1");
    EXPECT_EQ(window->portList->itemText(1), "COM3: USB Serial Port - FTDI");
    EXPECT_EQ(window->portList->currentIndex(), 1);

    window->updateConfigFromTabs();
    EXPECT_EQ(window->getConfig().getPort(), "COM3");
    window->portList->setCurrentIndex(0);
    window->updateConfigFromTabs();
    EXPECT_EQ(window->getConfig().getPort(), "COM1");

    // No ports at all: the stored port is not overwritten by nothing.
    window->setPortNames({});
    window->updateConfigFromTabs();
    EXPECT_EQ(window->getConfig().getPort(), "COM1");
}

TEST_F(MainWindowTest, ChoicesAndCheckBoxesStoreThroughTheirSetters) {
    config::Config start;
    start.setBitRate(S<H::BitRates>::position(H::BitRates::BR_9600));
    start.checkForUpdates = true;
    start.ignoreDuplicates = false;
    start.stableOnly = true;
    auto window = makeWindow(std::move(start));
    EXPECT_EQ(window->bitRateBox->selected(), H::BitRates::BR_9600);
    EXPECT_TRUE(window->stableOnlyCheckBox->isChecked());

    window->bitRateBox->select(H::BitRates::BR_19200);
    window->parityBox->select(H::Parity::EVEN);
    window->soundComboBox->select(H::Sound::COWBELL);
    window->keyboardTypeBox->select(H::KeyboardType::GERMAN);
    window->startWithBox->select(H::StartWith::F5);
    window->outputTerminatorBox->select(H::OutputTerminator::TAB);
    window->editPositionComboBox->select(H::EditPosition::LAST);
    window->checkForUpdatesCheckBox->click();
    window->ignoreDuplicatesCheckBox->click();
    window->stableOnlyCheckBox->click();
    window->minimizeToTrayCheckBox->setChecked(false);

    const config::Config& c = window->getConfig();
    EXPECT_EQ(c.getBitRate(), S<H::BitRates>::position(H::BitRates::BR_19200));
    EXPECT_EQ(c.getParity(), S<H::Parity>::position(H::Parity::EVEN));
    EXPECT_EQ(c.getSound(), H::Sound::COWBELL);
    EXPECT_EQ(c.getKeyboardType(), H::KeyboardType::GERMAN);
    EXPECT_EQ(c.getStartWith(), H::StartWith::F5);
    EXPECT_EQ(c.getOutputTerminator(), H::OutputTerminator::TAB);
    EXPECT_EQ(c.getEditPosition(), H::EditPosition::LAST);
    EXPECT_FALSE(c.checkForUpdates);
    EXPECT_TRUE(c.ignoreDuplicates);
    EXPECT_FALSE(c.stableOnly);
    EXPECT_FALSE(c.minimizeToTray);
}

TEST_F(MainWindowTest, StableOnlyToolTipNamesAnInstrumentWithoutStabilityMarks) {
    ASSERT_FALSE(config::LineFormat::marksStability(H::Instrument::MITUTOYO));
    ASSERT_TRUE(config::LineFormat::marksStability(H::Instrument::SARTORIUS));
    const QString plain = tolvane("ZoviziDeZizFrame2.stableOnlyCheckBox.toolTipText");
    const QString noMark = plain + " " + tolvane("ZoviziDeZizFrame2.stableOnlyCheckBox.noMark");
    config::Config stored;
    stored.setInstrument(H::Instrument::MITUTOYO);
    auto window = makeWindow(std::move(stored));
    EXPECT_EQ(window->stableOnlyCheckBox->toolTip(), noMark);

    window->instrumentBox->select(H::Instrument::SARTORIUS);
    EXPECT_EQ(window->stableOnlyCheckBox->toolTip(), plain);
    window->instrumentBox->select(H::Instrument::MITUTOYO);
    EXPECT_EQ(window->stableOnlyCheckBox->toolTip(), noMark);
}

TEST_F(MainWindowTest, RequestControlsNeedACommandAndSayWhyWithoutOne) {
    const QString why = tolvane("request.no.command");
    auto window = makeWindow();
    auto* button = window->findChild<QPushButton*>("requestReadingButton");
    ASSERT_NE(button, nullptr);
    const struct {
        H::Instrument instrument;
        QString command;
        bool hasCommand;
    } rows[] = {
        {H::Instrument::GENERIC, "", false},  // no data command of its own
        {H::Instrument::GENERIC, "SI\\r\\n", true},
        {H::Instrument::MITUTOYO, "", true},
        {H::Instrument::GENERIC, "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command.toStdString() + " " +
                     S<H::Instrument>::name(row.instrument).toStdString());
        window->instrumentBox->select(row.instrument);
        window->requestCommandTextField->setText(row.command);
        EXPECT_EQ(window->getConfig().requestCommand, row.command);
        EXPECT_FALSE(button->isEnabled()) << "not reading";
        EXPECT_EQ(button->toolTip() == why, !row.hasCommand);
        for (QLineEdit* field : {static_cast<QLineEdit*>(window->requestIntervalTextField),
                                 static_cast<QLineEdit*>(window->requestHotkeyTextField)}) {
            EXPECT_EQ(field->isEnabled(), row.hasCommand);
            EXPECT_EQ(field->toolTip() == why, !row.hasCommand);
        }
    }
    // A broken escape is refused when the editing ends, and nothing wrong is kept.
    window->requestCommandTextField->setText("Q\\x1");
    emit window->requestCommandTextField->editingFinished();
    EXPECT_EQ(errorsWith("error.request.command"), 1);
    runQueued();
    EXPECT_EQ(window->requestCommandTextField->text(), "");
    EXPECT_EQ(window->getConfig().requestCommand, "");
}

}  // namespace
}  // namespace quorvel
