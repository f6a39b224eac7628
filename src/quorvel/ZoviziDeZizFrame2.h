#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStringList>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextEdit>

#include <memory>

#include "quorvel/AutoConnectButton.h"
#include "quorvel/DecimalSeparatorBox.h"
#include "quorvel/EventLog.h"
#include "quorvel/FrameServices.h"
#include "quorvel/JLabelHtml.h"
#include "quorvel/MessagePresenter.h"
#include "quorvel/OptionButton.h"
#include "quorvel/OptionCheckBox.h"
#include "quorvel/OptionComboBox.h"
#include "quorvel/OptionTextField.h"
#include "quorvel/StatusText.h"
#include "quorvel/TraySupport.h"
#include "quorvel/config/Config.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/util/UpdateWorker.h"
#include "quorvel/util/UpdateWorkerView.h"
#include "quorvel/worker/Ignorer.h"
#include "quorvel/worker/Keybot.h"
#include "quorvel/worker/RequestTimer.h"
#include "quorvel/platform/GlobalHotkey.h"
#include "quorvel/worker/SoundBot.h"
#include "quorvel/worker/ValueRecorder.h"
#include "quorvel/worker/WeightWorker.h"
#include "quorvel/worker/WeightWorkerView.h"

namespace quorvel {

// The application's only top-level window: every setting as a control on the pages of one
// tabbed pane, the start/stop button, the status line, the event log and the about page.
// Every control carries its name as its object name ("portList", "startStopJButton", ...).
class ZoviziDeZizFrame2 : public QMainWindow,
                          public worker::WeightWorkerView,
                          public util::UpdateWorkerView {
    Q_OBJECT
public:
    using H = config::ConfigHelper;

    static constexpr int WIDTH = 480;
    static constexpr int HEIGHT = 405;

    // The window over `config`, offering `portNames` (bare names, shown in their friendly form
    // where FriendlyPortUtil has a record). Every box and question goes through `messages`.
    ZoviziDeZizFrame2(config::Config config, QStringList portNames,
                      std::shared_ptr<MessagePresenter> messages, QWidget* parent = nullptr);
    // The program's window: the whole start-up (bundle check, ports, settings, components,
    // update check, icons, tray, auto start). The first argument, when present and not
    // empty, is the only port offered.
    ZoviziDeZizFrame2(const QStringList& arguments, FrameServices services,
                      QWidget* parent = nullptr);
    ~ZoviziDeZizFrame2() override;

    // --- what the reading worker and the typing stage call (WeightWorkerView) ---
    void eventLogAppend(const QString& text) override;      // any thread
    void logImportantEvent(const QString& text) override;   // any thread
    void processDataLine(worker::DataLine& dataLine) override;
    void showWarning(const QString& title, const QString& message) override;
    // Names the lost port in the status line; the stopped layout keeps saying so.
    void deviceLost(const QString& port, const QString& reason) override;
    // With `reconnect`: the status line waits for the port, then reading goes on; both logged.
    void waitingForDevice(const QString& port) override;
    void deviceBack(const QString& port) override;

    // The status line; any thread. A text carrying a link becomes clickable.
    void setStatus(const QString& text) override;
    // The text that fits the state of reading: stopped, connected, lines counted, device lost.
    void showNormalStatus() override;
    bool isRunning() const { return running; }

    config::Config& getConfig() { return config; }

    // Reads every control back into `config`.
    void updateConfigFromTabs();
    // What closing keeps: the settings as the controls show them, saved without asking or
    // showing anything (a window that never started up owns no settings). False when the
    // save failed.
    bool keepSettings();
    // Stopped layout (seven pages) or running layout (Start, event log, about).
    void setConnectedInGUI(bool connected) override;

    // Rebuilds `portList` from bare port names (friendly entries where known); a stored
    // network name, never listed, is shown as typed.
    void setPortNames(const QStringList& portNames);

    // "tolvane32.png", "tolvane24.png", "tolvane20.png", "tolvane16.png" from the resources;
    // a missing one prints "Couldn't find file: " and the path to the error stream.
    static QIcon loadIcons();

    // --- components, created once by initComponents ---
    QTabWidget* tabbedPane = nullptr;
    JLabelHtml* statusJLabel = nullptr;
    QWidget* panel1 = nullptr;
    QWidget* inputPanel = nullptr;
    QWidget* processingPanel = nullptr;
    QWidget* outputPanel = nullptr;
    QWidget* settingsPanel = nullptr;
    QWidget* eventLogPanel = nullptr;
    QWidget* aboutPanel = nullptr;

    QPushButton* startStopJButton = nullptr;
    // Enabled while reading when there is a command to send.
    QPushButton* requestReadingButton = nullptr;
    // The request shortcut's state while reading (bound, or why not).
    QLabel* requestHotkeyStatus = nullptr;
    OptionTextField* requestIntervalTextField = nullptr;
    OptionTextField* requestCommandTextField = nullptr;
    OptionTextField* requestHotkeyTextField = nullptr;

    QComboBox* portList = nullptr;
    OptionComboBox<H::Instrument>* instrumentBox = nullptr;
    OptionComboBox<H::BitRates>* bitRateBox = nullptr;
    OptionComboBox<H::DataBits>* dataBitsBox = nullptr;
    OptionComboBox<H::StopBits>* stopBitsBox = nullptr;
    OptionComboBox<H::Parity>* parityBox = nullptr;
    QComboBox* inputTerminatorBox = nullptr;  // editable: a constant or a typed byte value
    QPushButton* autoButton = nullptr;
    QPushButton* defaultButton = nullptr;
    QPushButton* refreshPortsButton = nullptr;
    OptionButton* customizeButton = nullptr;
    OptionCheckBox* reconnectCheckBox = nullptr;

    MathOperationBox* mathOperationBox = nullptr;
    OptionTextField* mathOperandTextField = nullptr;
    OptionTextField* decimalTextField = nullptr;
    RoundingMethodBox* roundingMethodBox = nullptr;
    EditOperationComboBox* editOperationComboBox = nullptr;
    EditPositionComboBox* editPositionComboBox = nullptr;
    OptionTextField* editNumCharactersTextField = nullptr;
    OptionTextField* removeCharactersTextField = nullptr;
    OptionCheckBox* ignoreDuplicatesCheckBox = nullptr;
    OptionCheckBox* stableOnlyCheckBox = nullptr;
    OptionButton* adjustIgnoreButton = nullptr;

    DecimalSeparatorBox* decimalSeparatorBox = nullptr;
    OptionComboBox<H::OutputTerminator>* outputTerminatorBox = nullptr;
    SoundComboBox* soundComboBox = nullptr;
    OptionComboBox<H::KeyboardType>* keyboardTypeBox = nullptr;
    StartWithBox* startWithBox = nullptr;
    OptionTextField* delayTextField = nullptr;

    QRadioButton* manualConnectButton = nullptr;
    AutoConnectButton* autoConnectButton = nullptr;
    QButtonGroup* connectButtonGroup = nullptr;
    OptionCheckBox* abortAutoStartCheckBox = nullptr;
    OptionCheckBox* minimizeToTrayCheckBox = nullptr;
    OptionCheckBox* notifyWhenMinimizedToTrayCheckBox = nullptr;
    OptionCheckBox* checkForUpdatesCheckBox = nullptr;
    OptionButton* importSettingsButton = nullptr;
    OptionButton* exportSettingsButton = nullptr;
    OptionTextField* valueLogTextField = nullptr;
    QPushButton* valueLogButton = nullptr;

    QTextEdit* eventLog = nullptr;
    QTextBrowser* aboutPane = nullptr;

protected:
    // --- handlers; the actions behind the buttons come with the application ---
    virtual void startStopJButtonActionPerformed();
    virtual void autoButtonActionPerformed();
    virtual void defaultButtonActionPerformed();
    virtual void refreshPortsButtonActionPerformed();
    virtual void customizeButtonActionPerformed();
    virtual void adjustIgnoreButtonActionPerformed();
    virtual void importSettingsButtonActionPerformed();
    virtual void exportSettingsButtonActionPerformed();
    virtual void valueLogButtonActionPerformed();
    // The file to record readings to, starting at `current`; empty when cancelled. A file
    // chooser that does not ask before "overwriting": the file is only ever appended to.
    virtual QString chooseValueLogFile(const QString& current);
    virtual void tabbedPaneStateChanged(int index);
    virtual void aboutPaneHyperlinkUpdate(const QUrl& address);

    void instrumentBoxItemStateChanged(int index);
    void inputTerminatorBoxItemStateChanged();
    void mathOperationBoxItemStateChanged(int index);
    void delayTextFieldCaretUpdate();
    void connectButtonActionPerformed();

    // The validators of the free-text fields.
    void MathOperandTextFieldUpdate();
    void DecimalTextFieldUpdate();
    void EditNumCharactersTextFieldUpdate();
    void RemoveCharactersTextFieldUpdate();
    // The request fields are judged when editing ends ("1" is the start of "1000"); a valid
    // text is stored as it is typed.
    void requestFieldsUpdate(bool editingFinished);
    void valueLogTextFieldUpdate();

    void addMinimizeToTraySupport();
    void removeMinimizeToTraySupport();
    // Runs a modal dialog; tests override it to answer without blocking.
    virtual int execDialog(QDialog& dialog);

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void windowStateChanged();

    const util::Bundle& bundle;
    config::Config config;
    std::shared_ptr<MessagePresenter> messages;
    QStringList portNames;
    bool divisionMessageShown = false;

    // --- the application's state ---
    FrameServices services;
    std::unique_ptr<config::Config> oldConfig;  // as last saved
    int currentTabIndex = 0;
    bool running = false;
    bool portFromCommandLine = false;
    std::unique_ptr<worker::Keybot> keybot;
    std::unique_ptr<worker::Keybot> retiringKeybot;  // stopped, finishing its last text
    std::unique_ptr<worker::SoundBot> soundBot;
    std::unique_ptr<worker::Ignorer> ignorer;
    // The record of every line, from the start of a run until its worker has ended; shared with
    // the values still waiting to be typed, whose rows are written once they are.
    std::shared_ptr<worker::ValueRecorder> valueRecorder;
    QString recordedPort;
    QString recordedInstrument;
    std::unique_ptr<worker::WeightWorker> worker;
    EventLog* eventLogWriter = nullptr;
    std::unique_ptr<TraySupport> traySupport;
    std::unique_ptr<util::UpdateWorker> updateWorker;
    StatusText statusText;

private:
    void createOptionWidgets();
    void initComponents();
    QWidget* buildInputPanel();
    QWidget* buildProcessingPanel();
    QWidget* buildOutputPanel();
    QWidget* buildSettingsPanel();
    void connectHandlers();

    // The plain setting controls: each stores its value through the Config setter of its name.
    void bitRateBoxItemStateChanged();
    void dataBitsBoxItemStateChanged();
    void stopBitsBoxItemStateChanged();
    void parityBoxItemStateChanged();
    void roundingMethodBoxItemStateChanged();
    void editOperationComboBoxItemStateChanged();
    void editPositionComboBoxItemStateChanged();
    void decimalSeparatorBoxItemStateChanged();
    void outputTerminatorBoxItemStateChanged();
    void soundComboBoxItemStateChanged();
    void keyboardTypeBoxItemStateChanged();
    void startWithBoxItemStateChanged();
    void minimizeToTrayCheckBoxItemStateChanged();
    void notifyWhenMinimizedToTrayCheckBoxItemStateChanged();
    void checkForUpdatesCheckBoxItemStateChanged();
    void abortAutoStartCheckBoxItemStateChanged();
    void ignoreDuplicatesCheckBoxActionPerformed();
    void stableOnlyCheckBoxActionPerformed();
    void reconnectCheckBoxActionPerformed();
    // The stable-only tooltip, with a note when the selected instrument marks no stability.
    void updateStableOnlyToolTip();

    // For a text that failed its check: shows `message` (title "error") once and, on a later
    // turn of the event loop, sets the field to `resetText` (empty: the field is emptied).
    void refuseField(QLineEdit* field, const QString& message,
                     const QString& resetText = QString());
    // Shows the stored input terminator: its constant when one matches, else the number.
    void showInputTerminator();

    // --- start-up, reading and saving ---
    // The serial library's ports, with the box for a broken list; friendly names are loaded
    // where the platform reports drivers.
    QStringList listPorts();
    // The box for an empty list, unless `port` is a network name (never discovered, so an
    // empty list is no reason to worry).
    void reportNoPortsUnless(const QString& port);
    // Ends the start-up after a fatal box: the program exits with `code`, the window stays shut.
    void abandonStartUp(int code);
    // Asks the update server in the background on one start in four; called only when
    // config asks for update checks.
    void startUpdateCheck();
    void startReading();
    void stopReading();
    // Requests for a reading: the timer and the shortcut of a run, the button's state.
    void startRequests();
    void stopRequests();
    void requestReading();
    void updateRequestControls();
    std::unique_ptr<worker::RequestTimer> requestTimer;
    std::unique_ptr<platform::GlobalHotkey> requestHotkey;
    // Drops the typing, sound and ignore stages of a run.
    void dropStages();
    // The worker has shown the stopped layout: a finished run is cleaned up.
    void finishRun();
    // Writes config to the settings store; false when it could not be saved.
    bool saveSettings();
    // Why the last save failed, for a message box; `deniedKey` when access was denied.
    QString saveFailureText(const char* deniedKey) const;
    int lastSaveError = 0;
    QString lastSaveFolder;
    void exitProgram(int code);
    // A window whose start-up failed is never shown.
    void setVisible(bool visible) override;

    // The full start-up ran: the window owns the settings store and writes to it.
    bool persistent = false;
    bool startUpFailed = false;
    // The page shown now; what was left decides about an autosave, whatever its index.
    QWidget* currentPage = nullptr;

    // Fields whose reset is queued: one message per bad entry, not one per keystroke after it.
    QList<QLineEdit*> pendingResets;
    bool checkingInputTerminator = false;
    // Set while the user types into the operand field: "0", "-" or "0." are then the start of
    // a number such as 0.5, not a refused entry; the entry is judged when editing finishes.
    bool operandBeingTyped = false;
};

}  // namespace quorvel
