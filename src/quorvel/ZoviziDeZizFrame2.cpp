#include "quorvel/ZoviziDeZizFrame2.h"


#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSizePolicy>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "quorvel/AutoPortDialog.h"
#include "quorvel/CustomRegExDialog.h"
#include "quorvel/IgnoreDialog.h"
#include "quorvel/LinkRunner.h"
#include "quorvel/QtMessagePresenter.h"
#include "quorvel/SettingsTransfer.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/config/LineFormat.h"
#include "quorvel/util/BundleKeys.h"
#include "quorvel/util/FriendlyPortUtil.h"
#include "quorvel/util/NetworkPorts.h"
#include "quorvel/worker/CsvValueRecorder.h"
#include "quorvel/worker/WeightWorkerAnd.h"
#include "quorvel/worker/WeightWorkerBarcode.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SystemProperties.h"

namespace quorvel {

namespace {

using H = config::ConfigHelper;
template <typename E>
using S = config::Setting<E>;

// A combo box whose preferred width is that of a prototype text rather than of its entries,
// so the page does not jump when the port list changes. It may shrink to `minimumPrototype`
// when the window is made narrower.
class PrototypeComboBox : public QComboBox {
  public:
    PrototypeComboBox(QString prototype, QString minimumPrototype, QWidget* parent)
        : QComboBox(parent),
          prototype_(std::move(prototype)),
          minimumPrototype_(std::move(minimumPrototype)) {}

    QSize sizeHint() const override { return sizeFor(prototype_); }
    QSize minimumSizeHint() const override { return sizeFor(minimumPrototype_); }

  private:
    QSize sizeFor(const QString& text) const {
        QStyleOptionComboBox option;
        initStyleOption(&option);
        const QSize height = QComboBox::sizeHint();
        const QSize contents(fontMetrics().horizontalAdvance(text), fontMetrics().height());
        const QSize full = style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, this);
        return {full.width(), height.height()};
    }

    QString prototype_;
    QString minimumPrototype_;
};

// Seven page titles only just fit the window's width; a little less padding per tab keeps
// them all visible instead of behind scroll arrows.
class NarrowTabsStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        if (metric == PM_TabBarTabHSpace) {
            return std::max(value * 3 / 4, 8);
        }
        return value;
    }
};

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Room for `prototype` and the field's frame; the fields hold short numbers.
void fitWidth(QLineEdit* field, const QString& prototype) {
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(prototype) + 16);
}

// A page's grid: labels on the left, controls after them, a stretching empty last column and
// row so that the rows stay together at the top left.
QGridLayout* pageGrid(QWidget* page, int columns) {
    auto* grid = new QGridLayout(page);
    grid->setColumnStretch(columns, 1);
    return grid;
}

void finishGrid(QGridLayout* grid) {
    grid->setRowStretch(grid->rowCount(), 1);
}

// Controls that read as one phrase ("Round to [2] decimal places"), kept together on the left.
QHBoxLayout* rowOf(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout();
    for (QWidget* widget : widgets) {
        row->addWidget(widget);
    }
    row->addStretch(1);
    return row;
}


// What the user can do about a port that would not open, picked by the serial layer's reason.
QString portFailureAdvice(const QString& failure) {
    if (failure.endsWith(QLatin1String("Port is in use")) ||
        failure.endsWith(QLatin1String("Device busy")) ||
        failure.endsWith(QLatin1String("Port is already open"))) {
        return util::Bundle::tolvane().getString("port.in.use.what.to.do");
    }
    if (failure.endsWith(QLatin1String("Permission denied"))) {
        return util::Bundle::tolvane().getString("port.permission.what.to.do");
    }
    if (failure.endsWith(QLatin1String("No such device"))) {
        return util::Bundle::tolvane().getString("port.missing.what.to.do");
    }
    for (const char* network :
         {"Connection refused", "Host unreachable", "Connection timed out", "Host name not found",
          "Connection closed by the device server"}) {
        if (failure.endsWith(QLatin1String(network)))
            return util::Bundle::tolvane().getString("port.network.what.to.do");
    }
    return util::Bundle::tolvane().getString("port.open.what.to.do");
}

// The bare port name the box shows, listed or typed; empty when it shows nothing.
QString portNameIn(const QComboBox& box) {
    const QString shown = box.currentText();
    const QString bare = util::FriendlyPortUtil::getUnfriendlyPortName(shown);
    return bare == shown ? shown.trimmed() : bare;
}

// A name that is not one of the box's entries, shown as the user typed it.
void showTypedPort(QComboBox& box, const QString& name) {
    box.setCurrentIndex(-1);
    box.setEditText(name);
}

}  // namespace

ZoviziDeZizFrame2::ZoviziDeZizFrame2(config::Config config, QStringList portNames,
                                     std::shared_ptr<MessagePresenter> messages, QWidget* parent)
    : QMainWindow(parent),
      bundle(util::Bundle::tolvane()),
      config(std::move(config)),
      messages(messages ? std::move(messages) : std::make_shared<QtMessagePresenter>()),
      portNames(std::move(portNames)) {
    createOptionWidgets();
    initComponents();
    setWindowIcon(loadIcons());
    currentPage = tabbedPane->currentWidget();
}

ZoviziDeZizFrame2::ZoviziDeZizFrame2(const QStringList& arguments, FrameServices frameServices,
                                     QWidget* parent)
    : QMainWindow(parent),
      bundle(util::Bundle::tolvane()),
      messages(frameServices.messages ? frameServices.messages
                                      : std::make_shared<QtMessagePresenter>()),
      services(std::move(frameServices)) {
    services.messages = messages;

    // 1. Every text the program shows must be there before anything is shown.
    const QStringList missingKeys = util::BundleKeys::missing();
    if (!missingKeys.isEmpty()) {
        for (const QString& key : missingKeys) {
            std::cerr << "Missing resource: " << key.toStdString() << std::endl;
        }
        messages->error(this, "Fatal error",
                        "Program files seem to be damaged or missing!\nTry downloading and "
                        "reinstalling the program.");
        abandonStartUp(4);
        return;
    }

    // 2. Ports: a port named on the command line is the only one offered.
    if (!arguments.isEmpty() && !arguments.first().isEmpty()) {
        portNames = QStringList{arguments.first()};
        portFromCommandLine = true;
    }
    // Asked before any listing: without its native part the serial layer has no ports to list
    // and none to open.
    if (!serialkit::SerialPortLocal::isLibraryLoaded()) {
        QString message =
            util::Bundle::tolvane().getString("library.skwin.not.found.or.not.matching.your.system");
        const auto osName = serialkit::SystemProperties::get("SK_OSNAME");
        const auto osArch = serialkit::SystemProperties::get("SK_OSARCH");
        if (osName && osArch && !osName->empty() && !osArch->empty()) {
            message += " (" + QString::fromStdString(*osName) + " " +
                       QString::fromStdString(*osArch) + ")";
        }
        message += util::Bundle::tolvane().getString("program.will.now.exit");
        messages->error(this, util::Bundle::tolvane().getString("fatal.error"), message);
        abandonStartUp(2);
        return;
    }
    if (!portFromCommandLine) {
        portNames = listPorts();
    }

    // 3. Settings; a damaged or unreadable store still leaves a usable window.
    try {
        config::ConfigStore store;
        if (!store.loadConfig(config, portNames)) {
            messages->error(this, util::Bundle::tolvane().getString("error.while.loading.settings"),
                            util::Bundle::tolvane().getString("invalid.settings.replaced.by.defaults"));
        }
    } catch (const std::exception& e) {
        std::cerr << "loadConfig: " << e.what() << std::endl;
        messages->error(this, util::Bundle::tolvane().getString("error.while.loading.settings"),
                        util::Bundle::tolvane().getString("access.error.while.loading.settings"));
    }
    if (!portFromCommandLine && portNames.isEmpty()) {
        reportNoPortsUnless(config.getPort());
    }
    oldConfig = std::make_unique<config::Config>(config);
    persistent = true;

    // 4. Components.
    createOptionWidgets();
    initComponents();
    currentPage = tabbedPane->currentWidget();

    // 5. Update check.
    if (config.checkForUpdates) {
        startUpdateCheck();
    }

    // 6. Icons.
    setWindowIcon(loadIcons());

    // 7. What the controls show is what runs; tray support when asked for.
    updateConfigFromTabs();
    if (config.minimizeToTray) {
        addMinimizeToTraySupport();
    }

    // 8. Auto start.
    if (config.getConnect() == H::Connect::AUTO) {
        if (config.abortAutoStartWhenPrevPortNotAvailable && !portFromCommandLine &&
            config.getPort() != config.getPrevPort()) {
            // clang-format off
            messages->error(this, util::Bundle::tolvane().getString("error"),
                            util::Bundle::substitute(util::Bundle::tolvane().getString("previously.used.port.0.no.longer.available.naborting.auto.start"), {config.getPrevPort()}));
            // clang-format on
        } else {
            startReading();
            if (config.minimizeToTray) {
                setWindowState(windowState() | Qt::WindowMinimized);
            }
        }
    }
}

ZoviziDeZizFrame2::~ZoviziDeZizFrame2() {
    // The worker first: once it is gone nothing reaches this window from its thread.
    worker.reset();
    // Stops a check still waiting for the server; its status texts die with it.
    updateWorker.reset();
    dropStages();
    // Its last text may still log to this window, which must be whole until it is done.
    retiringKeybot.reset();
    traySupport.reset();
    // The controls die after this object's own members; none may call back into it meanwhile.
    for (QObject* child : findChildren<QObject*>()) {
        QObject::disconnect(child, nullptr, this, nullptr);
    }
}

QIcon ZoviziDeZizFrame2::loadIcons() {
    QIcon icon;
    for (const char* path :
         {":/tolvane32.png", ":/tolvane24.png", ":/tolvane20.png", ":/tolvane16.png"}) {
        const QImage image{QString::fromLatin1(path)};
        if (image.isNull()) {
            std::cerr << "Couldn't find file: " << path << std::endl;
            continue;
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

// --- construction ---

void ZoviziDeZizFrame2::createOptionWidgets() {
    mathOperationBox = new MathOperationBox(config.getMathOperation(), &config, this);
    mathOperationBox->setObjectName("mathOperationBox");
    mathOperandTextField = new OptionTextField(config.getMathOperand(), &config, this);
    mathOperandTextField->setObjectName("mathOperandTextField");
    decimalTextField = new OptionTextField(config.getDecimalPlaces(), &config, this);
    decimalTextField->setObjectName("decimalTextField");
    roundingMethodBox = new RoundingMethodBox(config.getRoundingMethod(), &config, this);
    roundingMethodBox->setObjectName("roundingMethodBox");
    editOperationComboBox = new EditOperationComboBox(config.getEditOperation(), nullptr, this);
    editOperationComboBox->setObjectName("editOperationComboBox");
    editPositionComboBox = new EditPositionComboBox(config.getEditPosition(), nullptr, this);
    editPositionComboBox->setObjectName("editPositionComboBox");
    editNumCharactersTextField = new OptionTextField(config.getEditNumCharacters(), nullptr, this);
    editNumCharactersTextField->setObjectName("editNumCharactersTextField");
    removeCharactersTextField = new OptionTextField(config.getRemoveCharacters(), nullptr, this);
    removeCharactersTextField->setObjectName("removeCharactersTextField");
    ignoreDuplicatesCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.ignoreDuplicatesCheckBox.text"),
        config.ignoreDuplicates, this);
    ignoreDuplicatesCheckBox->setObjectName("ignoreDuplicatesCheckBox");
    stableOnlyCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.stableOnlyCheckBox.text"),
        config.stableOnly, this);
    stableOnlyCheckBox->setObjectName("stableOnlyCheckBox");
    adjustIgnoreButton = new OptionButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.adjustIgnoreButton.text"), this);
    adjustIgnoreButton->setObjectName("adjustIgnoreButton");
    customizeButton = new OptionButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.customizeButton.text"), this);
    customizeButton->setObjectName("customizeButton");

    decimalSeparatorBox = new DecimalSeparatorBox(config, this);
    decimalSeparatorBox->setObjectName("decimalSeparatorBox");
    soundComboBox = new SoundComboBox(config.getSound(), nullptr, this);
    soundComboBox->setObjectName("soundComboBox");
    startWithBox = new StartWithBox(config.getStartWith(), nullptr, this);
    startWithBox->setObjectName("startWithBox");
    delayTextField = new OptionTextField(config.getDelay(), nullptr, this);
    delayTextField->setObjectName("delayTextField");

    autoConnectButton = new AutoConnectButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.autoConnectButton.text"), config,
        this);
    autoConnectButton->setObjectName("autoConnectButton");
    abortAutoStartCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.abortAutoStartCheckBox.text"),
        config.abortAutoStartWhenPrevPortNotAvailable, this);
    abortAutoStartCheckBox->setObjectName("abortAutoStartCheckBox");
    minimizeToTrayCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.minimizeToTrayCheckBox.text"),
        config.minimizeToTray, this);
    minimizeToTrayCheckBox->setObjectName("minimizeToTrayCheckBox");
    // Each lookup stays on one line, where the check of the bundle keys finds it.
    // clang-format off
    notifyWhenMinimizedToTrayCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.notifyWhenMinimizedToTrayCheckBox.text"),
        config.notifyWhenMinimizedToTray, this);
    // clang-format on
    notifyWhenMinimizedToTrayCheckBox->setObjectName("notifyWhenMinimizedToTrayCheckBox");
    checkForUpdatesCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.checkForUpdatesCheckBox.text"),
        config.checkForUpdates, this);
    checkForUpdatesCheckBox->setObjectName("checkForUpdatesCheckBox");
    importSettingsButton = new OptionButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.importSettingsButton.text"), this);
    importSettingsButton->setObjectName("importSettingsButton");
    exportSettingsButton = new OptionButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.exportSettingsButton.text"), this);
    exportSettingsButton->setObjectName("exportSettingsButton");

    // The followers learn the current instrument's type the same way they learn a change.
    config.setInstrument(config.getInstrument());
}

void ZoviziDeZizFrame2::initComponents() {
    setWindowTitle("Varnholt Tolvane");

    tabbedPane = new QTabWidget(this);
    tabbedPane->setObjectName("tabbedPane");
    auto* tabStyle = new NarrowTabsStyle(QApplication::style()->name());
    tabStyle->setParent(tabbedPane);
    tabbedPane->tabBar()->setStyle(tabStyle);

    panel1 = new QWidget(tabbedPane);
    panel1->setObjectName("panel1");
    auto* startLayout = new QVBoxLayout(panel1);
    startStopJButton = new QPushButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.startStopJButton.text"), panel1);
    startStopJButton->setObjectName("startStopJButton");
    startStopJButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.startStopJButton.toolTipText"));
    startStopJButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont big = startStopJButton->font();
    if (big.pointSizeF() > 0) {
        big.setPointSizeF(big.pointSizeF() * 2.5);
    } else {
        big.setPixelSize(big.pixelSize() * 5 / 2);
    }
    big.setBold(true);
    startStopJButton->setFont(big);
    startLayout->addWidget(startStopJButton);
    requestReadingButton = new QPushButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestReadingButton.text"), panel1);
    requestReadingButton->setObjectName("requestReadingButton");
    requestHotkeyStatus = new QLabel(panel1);
    requestHotkeyStatus->setObjectName("requestHotkeyStatus");
    requestHotkeyStatus->setWordWrap(true);
    requestHotkeyStatus->setVisible(false);
    auto* requestRow = new QHBoxLayout();
    requestRow->addWidget(requestReadingButton);
    requestRow->addWidget(requestHotkeyStatus, 1);
    startLayout->addLayout(requestRow);

    inputPanel = buildInputPanel();
    processingPanel = buildProcessingPanel();
    outputPanel = buildOutputPanel();
    settingsPanel = buildSettingsPanel();

    eventLogPanel = new QWidget(tabbedPane);
    eventLogPanel->setObjectName("eventLogPanel");
    auto* logLayout = new QVBoxLayout(eventLogPanel);
    eventLog = new QTextEdit(eventLogPanel);
    eventLog->setObjectName("eventLog");
    eventLog->setReadOnly(true);
    logLayout->addWidget(eventLog);
    eventLogWriter = new EventLog(eventLog, this);

    aboutPanel = new QWidget(tabbedPane);
    aboutPanel->setObjectName("aboutPanel");
    auto* aboutLayout = new QVBoxLayout(aboutPanel);
    aboutPane = new QTextBrowser(aboutPanel);
    aboutPane->setObjectName("aboutPane");
    aboutPane->setReadOnly(true);
    // Links go through aboutPaneHyperlinkUpdate, never straight to the browser or a file.
    aboutPane->setOpenLinks(false);
    aboutPane->setOpenExternalLinks(false);
    // The version and release date set by the entry, so that a support call can name them.
    const auto property = [](const char* name) {
        return QString::fromStdString(serialkit::SystemProperties::get(name, "-")).toHtmlEscaped();
    };
    aboutPane->setHtml(util::Bundle::tolvane().format(
        "ZoviziDeZizFrame2.aboutPane.text", {property("VERSION"), property("RELEASEDATE")}));
    aboutLayout->addWidget(aboutPane);

    // clang-format off
    tabbedPane->addTab(panel1, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.panel1.tab.title"));
    tabbedPane->addTab(inputPanel, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.inputPanel.tab.title"));
    tabbedPane->addTab(processingPanel, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.processingPanel.tab.title"));
    tabbedPane->addTab(outputPanel, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.outputPanel.tab.title"));
    tabbedPane->addTab(settingsPanel, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.settingsPanel.tab.title"));
    tabbedPane->addTab(eventLogPanel, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.eventLogPanel.tab.title"));
    tabbedPane->addTab(aboutPanel, util::Bundle::tolvane().getString("ZoviziDeZizFrame2.aboutPanel.tab.title"));
    // clang-format on

    statusJLabel =
        new JLabelHtml(util::Bundle::tolvane().getString("ZoviziDeZizFrame2.statusJLabel.text"));
    statusJLabel->setObjectName("statusJLabel");
    // A long text (a failure's reason) wraps onto more lines instead of widening the window.
    statusJLabel->setWordWrap(true);
    statusJLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* content = new QWidget(this);
    content->setObjectName("contentPane");
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(4, 2, 4, 2);
    contentLayout->addWidget(tabbedPane, 1);
    contentLayout->addWidget(statusJLabel);
    setCentralWidget(content);
    resize(WIDTH, HEIGHT);

    connectHandlers();
    updateRequestControls();
}

QWidget* ZoviziDeZizFrame2::buildInputPanel() {
    auto* page = new QWidget(tabbedPane);
    page->setObjectName("inputPanel");
    auto* grid = pageGrid(page, 3);

    portList = new PrototypeComboBox(QString(53, u'X'), QString(16, u'X'), page);
    portList->setObjectName("portList");
    // Network instruments are never discovered: their names are typed.
    portList->setEditable(true);
    portList->setInsertPolicy(QComboBox::NoInsert);
    portList->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.portList.toolTipText"));
    setPortNames(portNames);

    instrumentBox = new OptionComboBox<H::Instrument>(
        config.getInstrument().value_or(S<H::Instrument>::getDefault()), nullptr, page);
    instrumentBox->setObjectName("instrumentBox");
    instrumentBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.instrumentBox.toolTipText"));

    const auto code = [](auto tag, int stored) {
        using E = decltype(tag);
        return S<E>::isValid(stored) ? S<E>::fromCode(stored) : S<E>::getDefault();
    };
    bitRateBox =
        new OptionComboBox<H::BitRates>(code(H::BitRates{}, config.getBitRate()), nullptr, page);
    bitRateBox->setObjectName("bitRateBox");
    bitRateBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.bitRateBox.toolTipText"));
    dataBitsBox =
        new OptionComboBox<H::DataBits>(code(H::DataBits{}, config.getDataBits()), nullptr, page);
    dataBitsBox->setObjectName("dataBitsBox");
    stopBitsBox =
        new OptionComboBox<H::StopBits>(code(H::StopBits{}, config.getStopBits()), nullptr, page);
    stopBitsBox->setObjectName("stopBitsBox");
    parityBox = new OptionComboBox<H::Parity>(code(H::Parity{}, config.getParity()), nullptr, page);
    parityBox->setObjectName("parityBox");

    // clang-format off
    const QString terminatorPrototype =
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.inputTerminatorBox.prototypeDisplayValue");
    // clang-format on
    inputTerminatorBox = new PrototypeComboBox(terminatorPrototype, terminatorPrototype, page);
    inputTerminatorBox->setObjectName("inputTerminatorBox");
    inputTerminatorBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.inputTerminatorBox.toolTipText"));
    inputTerminatorBox->setEditable(true);
    // A typed code is a value, not a new entry of the list.
    inputTerminatorBox->setInsertPolicy(QComboBox::NoInsert);
    for (const auto terminator : S<H::InputTerminator>::values()) {
        inputTerminatorBox->addItem(S<H::InputTerminator>::label(terminator),
                                    S<H::InputTerminator>::position(terminator));
    }
    showInputTerminator();

    autoButton = new QPushButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.autoButton.text"), page);
    autoButton->setObjectName("autoButton");
    autoButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.autoButton.toolTipText"));
    defaultButton = new QPushButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.defaultButton.text"), page);
    defaultButton->setObjectName("defaultButton");
    defaultButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.defaultButton.toolTipText"));
    defaultButton->setMinimumSize(113, 23);
    refreshPortsButton = new QPushButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.refreshPortsButton.text"), page);
    refreshPortsButton->setObjectName("refreshPortsButton");
    refreshPortsButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.refreshPortsButton.toolTipText"));
    customizeButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.customizeButton.toolTipText"));

    int row = 0;
    grid->addWidget(
        namedLabel("label2", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label2.text"),
                   page),
        row, 0);
    grid->addWidget(portList, row, 1, 1, 3);
    ++row;
    grid->addWidget(
        namedLabel("deviceLabel",
                   util::Bundle::tolvane().getString("ZoviziDeZizFrame2.deviceLabel.text"), page),
        row, 0);
    // The full width for the longest preset names; its pattern button goes with the line end.
    grid->addWidget(instrumentBox, row, 1, 1, 3);
    ++row;
    grid->addWidget(separator(page), row++, 0, 1, 4);

    grid->addWidget(
        namedLabel("label3", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label3.text"),
                   page),
        row, 0);
    grid->addWidget(bitRateBox, row, 1);
    grid->addWidget(defaultButton, row, 2, Qt::AlignLeft);
    ++row;
    grid->addWidget(
        namedLabel("label6", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label6.text"),
                   page),
        row, 0);
    grid->addWidget(dataBitsBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label7", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label7.text"),
                   page),
        row, 0);
    grid->addWidget(stopBitsBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label8", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label8.text"),
                   page),
        row, 0);
    grid->addWidget(parityBox, row, 1);
    ++row;
    grid->addWidget(separator(page), row++, 0, 1, 4);

    grid->addWidget(
        namedLabel("label9", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label9.text"),
                   page),
        row, 0);
    grid->addWidget(inputTerminatorBox, row, 1);
    grid->addWidget(customizeButton, row, 2, Qt::AlignLeft);
    ++row;
    grid->addWidget(separator(page), row++, 0, 1, 4);

    grid->addWidget(
        namedLabel("label10", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label10.text"),
                   page),
        row, 0);
    grid->addWidget(autoButton, row, 1);
    grid->addWidget(refreshPortsButton, row, 2, Qt::AlignLeft);
    ++row;
    reconnectCheckBox = new OptionCheckBox(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.reconnectCheckBox.text"),
        config.reconnect, page);
    reconnectCheckBox->setObjectName("reconnectCheckBox");
    reconnectCheckBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.reconnectCheckBox.toolTipText"));
    grid->addWidget(reconnectCheckBox, row++, 1, 1, 3);
    grid->addWidget(separator(page), row++, 0, 1, 4);

    requestCommandTextField = new OptionTextField(config.requestCommand, nullptr, page);
    requestCommandTextField->setObjectName("requestCommandTextField");
    requestIntervalTextField = new OptionTextField(config.requestInterval, nullptr, page);
    requestIntervalTextField->setObjectName("requestIntervalTextField");
    fitWidth(requestIntervalTextField, QStringLiteral("86400000"));
    requestHotkeyTextField = new OptionTextField(config.requestHotkey, nullptr, page);
    requestHotkeyTextField->setObjectName("requestHotkeyTextField");
    fitWidth(requestHotkeyTextField, QStringLiteral("Ctrl+Shift+F12"));
    // clang-format off
    requestCommandTextField->setToolTip(util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestCommandTextField.toolTipText"));
    grid->addWidget(namedLabel("requestCommandLabel", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestCommandLabel.text"), page), row, 0);
    grid->addWidget(requestCommandTextField, row, 1);
    ++row;
    // Interval and shortcut share a row: the page has no room for another.
    grid->addWidget(namedLabel("requestIntervalLabel", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestIntervalLabel.text"), page), row, 0);
    grid->addLayout(rowOf({requestIntervalTextField, namedLabel("requestHotkeyLabel", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestHotkeyLabel.text"), page), requestHotkeyTextField}), row, 1, 1, 3);
    // clang-format on
    finishGrid(grid);
    return page;
}

QWidget* ZoviziDeZizFrame2::buildProcessingPanel() {
    auto* page = new QWidget(tabbedPane);
    page->setObjectName("processingPanel");
    auto* grid = pageGrid(page, 3);

    mathOperationBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.mathOperationBox.toolTipText"));
    mathOperandTextField->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.mathOperandTextField.toolTipText"));
    fitWidth(mathOperandTextField, "0000.000000");
    decimalTextField->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.decimalTextField.toolTipText"));
    fitWidth(decimalTextField, "000");
    roundingMethodBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.roundingMethodBox.toolTipText"));
    // clang-format off
    editNumCharactersTextField->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.editNumCharactersTextField.toolTipText"));
    // clang-format on
    fitWidth(editNumCharactersTextField, "000");
    // clang-format off
    removeCharactersTextField->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.removeCharactersTextField.toolTipText"));
    // clang-format on
    fitWidth(removeCharactersTextField, "0000.000000");

    int row = 0;
    grid->addWidget(
        namedLabel("label24", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label24.text"),
                   page),
        row, 0);
    grid->addWidget(mathOperationBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label25", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label25.text"),
                   page),
        row, 0);
    grid->addWidget(mathOperandTextField, row, 1, Qt::AlignLeft);
    ++row;
    grid->addWidget(
        namedLabel("label15", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label15.text"),
                   page),
        row, 0);
    grid->addLayout(
        rowOf({decimalTextField,
               namedLabel("label16",
                          util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label16.text"),
                          page)}),
        row, 1, 1, 3);
    ++row;
    grid->addWidget(
        namedLabel("label20", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label20.text"),
                   page),
        row, 0);
    grid->addLayout(
        rowOf({roundingMethodBox,
               namedLabel("label22",
                          util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label22.text"),
                          page)}),
        row, 1, 1, 3);
    ++row;
    // The input page, with the instrument box, is already built.
    updateStableOnlyToolTip();
    grid->addWidget(stableOnlyCheckBox, row++, 0, 1, 4);
    grid->addWidget(separator(page), row++, 0, 1, 4);

    grid->addWidget(
        namedLabel("label29", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label29.text"),
                   page),
        row, 0);
    grid->addLayout(
        rowOf({editOperationComboBox, editPositionComboBox, editNumCharactersTextField,
               namedLabel("label30",
                          util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label30.text"),
                          page)}),
        row, 1, 1, 3);
    ++row;
    grid->addWidget(
        namedLabel("label32", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label32.text"),
                   page),
        row, 0);
    grid->addWidget(removeCharactersTextField, row, 1, Qt::AlignLeft);
    ++row;
    grid->addWidget(separator(page), row++, 0, 1, 4);

    grid->addLayout(rowOf({ignoreDuplicatesCheckBox, adjustIgnoreButton}), row, 0, 1, 4);
    finishGrid(grid);
    return page;
}

QWidget* ZoviziDeZizFrame2::buildOutputPanel() {
    auto* page = new QWidget(tabbedPane);
    page->setObjectName("outputPanel");
    auto* grid = pageGrid(page, 3);

    decimalSeparatorBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.decimalSeparatorBox.toolTipText"));
    outputTerminatorBox =
        new OptionComboBox<H::OutputTerminator>(config.getOutputTerminator(), nullptr, page);
    outputTerminatorBox->setObjectName("outputTerminatorBox");
    outputTerminatorBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.outputTerminatorBox.toolTipText"));
    soundComboBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.soundComboBox.toolTipText"));
    keyboardTypeBox = new OptionComboBox<H::KeyboardType>(config.getKeyboardType(), nullptr, page);
    keyboardTypeBox->setObjectName("keyboardTypeBox");
    keyboardTypeBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.keyboardTypeBox.toolTipText"));
    startWithBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.startWithBox.toolTipText"));
    delayTextField->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.delayTextField.toolTipText"));
    fitWidth(delayTextField, "00000");

    int row = 0;
    grid->addWidget(
        namedLabel("label4", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label4.text"),
                   page),
        row, 0);
    grid->addWidget(decimalSeparatorBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label5", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label5.text"),
                   page),
        row, 0);
    grid->addWidget(outputTerminatorBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label17", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label17.text"),
                   page),
        row, 0);
    grid->addWidget(soundComboBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label23", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label23.text"),
                   page),
        row, 0);
    grid->addWidget(keyboardTypeBox, row, 1);
    ++row;
    grid->addWidget(
        namedLabel("label12", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label12.text_2"),
                   page),
        row, 0);
    grid->addWidget(startWithBox, row, 1);
    ++row;
    grid->addWidget(separator(page), row++, 0, 1, 4);

    grid->addWidget(
        namedLabel("label26", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label26.text"),
                   page),
        row, 0);
    grid->addLayout(
        rowOf({delayTextField,
               namedLabel("label27",
                          util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label27.text"),
                          page)}),
        row, 1, 1, 3);
    finishGrid(grid);
    return page;
}

QWidget* ZoviziDeZizFrame2::buildSettingsPanel() {
    auto* page = new QWidget(tabbedPane);
    page->setObjectName("settingsPanel");
    auto* grid = pageGrid(page, 2);

    manualConnectButton = new QRadioButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.manualConnectButton.text"), page);
    manualConnectButton->setObjectName("manualConnectButton");
    manualConnectButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.manualConnectButton.toolTipText"));
    manualConnectButton->setChecked(config.getConnect() != H::Connect::AUTO);
    autoConnectButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.autoConnectButton.toolTipText"));
    connectButtonGroup = new QButtonGroup(this);
    connectButtonGroup->setObjectName("connectButtonGroup");
    connectButtonGroup->setExclusive(true);
    connectButtonGroup->addButton(manualConnectButton);
    connectButtonGroup->addButton(autoConnectButton);
    abortAutoStartCheckBox->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.abortAutoStartCheckBox.toolTipText"));
    importSettingsButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.importSettingsButton.toolTipText"));
    exportSettingsButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.exportSettingsButton.toolTipText"));
    valueLogTextField = new OptionTextField(config.valueLog, nullptr, page);
    valueLogTextField->setObjectName("valueLogTextField");
    valueLogTextField->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.valueLogTextField.toolTipText"));
    valueLogButton = new QPushButton(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.valueLogButton.text"), page);
    valueLogButton->setObjectName("valueLogButton");
    valueLogButton->setToolTip(
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.valueLogButton.toolTipText"));

    // Headings above their options rather than beside them: the longest option texts need
    // the whole width of the page.
    grid->setColumnMinimumWidth(0, 12);
    int row = 0;
    grid->addWidget(
        namedLabel("label13", util::Bundle::tolvane().getString("ZoviziDeZizFrame2.label13.text"),
                   page),
        row++, 0, 1, 2);
    grid->addWidget(manualConnectButton, row++, 1);
    grid->addWidget(autoConnectButton, row++, 1);
    grid->addWidget(abortAutoStartCheckBox, row++, 1);
    grid->addWidget(separator(page), row++, 0, 1, 3);

    grid->addWidget(minimizeToTrayCheckBox, row++, 1);
    grid->addWidget(notifyWhenMinimizedToTrayCheckBox, row++, 1);
    grid->addWidget(namedLabel("updatesLabel", "Updates:", page), row++, 0, 1, 2);
    grid->addWidget(checkForUpdatesCheckBox, row++, 1);
    grid->addWidget(separator(page), row++, 0, 1, 3);

    grid->addWidget(
        namedLabel("valueLogLabel",
                   util::Bundle::tolvane().getString("ZoviziDeZizFrame2.valueLogLabel.text"), page),
        row++, 0, 1, 2);
    // A path needs the width of the page, so the field stretches.
    auto* valueLogRow = new QHBoxLayout();
    valueLogRow->addWidget(valueLogTextField, 1);
    valueLogRow->addWidget(valueLogButton);
    grid->addLayout(valueLogRow, row++, 1, 1, 2);
    grid->addWidget(separator(page), row++, 0, 1, 3);

    grid->addLayout(rowOf({importSettingsButton, exportSettingsButton}), row, 1);
    finishGrid(grid);
    return page;
}

void ZoviziDeZizFrame2::connectHandlers() {
    connect(startStopJButton, &QPushButton::clicked, this,
            [this] { startStopJButtonActionPerformed(); });
    connect(autoButton, &QPushButton::clicked, this, [this] { autoButtonActionPerformed(); });
    connect(defaultButton, &QPushButton::clicked, this, [this] { defaultButtonActionPerformed(); });
    connect(refreshPortsButton, &QPushButton::clicked, this,
            [this] { refreshPortsButtonActionPerformed(); });
    connect(customizeButton, &QPushButton::clicked, this,
            [this] { customizeButtonActionPerformed(); });
    connect(adjustIgnoreButton, &QPushButton::clicked, this,
            [this] { adjustIgnoreButtonActionPerformed(); });
    connect(importSettingsButton, &QPushButton::clicked, this,
            [this] { importSettingsButtonActionPerformed(); });
    connect(exportSettingsButton, &QPushButton::clicked, this,
            [this] { exportSettingsButtonActionPerformed(); });
    connect(valueLogButton, &QPushButton::clicked, this,
            [this] { valueLogButtonActionPerformed(); });
    connect(tabbedPane, &QTabWidget::currentChanged, this,
            [this](int index) { tabbedPaneStateChanged(index); });
    connect(requestReadingButton, &QPushButton::clicked, this, [this] { requestReading(); });
    for (QLineEdit* field :
         {requestIntervalTextField, requestCommandTextField, requestHotkeyTextField}) {
        connect(field, &QLineEdit::textChanged, this, [this] { requestFieldsUpdate(false); });
        connect(field, &QLineEdit::editingFinished, this, [this] { requestFieldsUpdate(true); });
    }
    connect(aboutPane, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& address) { aboutPaneHyperlinkUpdate(address); });

    connect(instrumentBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::instrumentBoxItemStateChanged);
    // After the instrument is stored: its data command comes and goes with it.
    connect(instrumentBox, &QComboBox::currentIndexChanged, this,
            [this] { updateRequestControls(); });
    connect(bitRateBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::bitRateBoxItemStateChanged);
    connect(dataBitsBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::dataBitsBoxItemStateChanged);
    connect(stopBitsBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::stopBitsBoxItemStateChanged);
    connect(parityBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::parityBoxItemStateChanged);
    // A chosen entry arrives as an index change, a typed code when the editing ends.
    connect(inputTerminatorBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::inputTerminatorBoxItemStateChanged);
    connect(inputTerminatorBox->lineEdit(), &QLineEdit::editingFinished, this,
            &ZoviziDeZizFrame2::inputTerminatorBoxItemStateChanged);
    connect(mathOperationBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::mathOperationBoxItemStateChanged);
    connect(roundingMethodBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::roundingMethodBoxItemStateChanged);
    connect(editOperationComboBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::editOperationComboBoxItemStateChanged);
    connect(editPositionComboBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::editPositionComboBoxItemStateChanged);
    connect(decimalSeparatorBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::decimalSeparatorBoxItemStateChanged);
    connect(outputTerminatorBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::outputTerminatorBoxItemStateChanged);
    connect(soundComboBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::soundComboBoxItemStateChanged);
    connect(keyboardTypeBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::keyboardTypeBoxItemStateChanged);
    connect(startWithBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::startWithBoxItemStateChanged);

    // Typing goes through textEdited first; the flag lets the check tell typing from setText.
    connect(mathOperandTextField, &QLineEdit::textEdited, this,
            [this] { operandBeingTyped = true; });
    connect(mathOperandTextField, &QLineEdit::textChanged, this,
            &ZoviziDeZizFrame2::MathOperandTextFieldUpdate);
    connect(mathOperandTextField, &QLineEdit::editingFinished, this,
            &ZoviziDeZizFrame2::MathOperandTextFieldUpdate);
    connect(decimalTextField, &QLineEdit::textChanged, this,
            &ZoviziDeZizFrame2::DecimalTextFieldUpdate);
    connect(editNumCharactersTextField, &QLineEdit::textChanged, this,
            &ZoviziDeZizFrame2::EditNumCharactersTextFieldUpdate);
    connect(removeCharactersTextField, &QLineEdit::textChanged, this,
            &ZoviziDeZizFrame2::RemoveCharactersTextFieldUpdate);
    connect(valueLogTextField, &QLineEdit::textChanged, this,
            &ZoviziDeZizFrame2::valueLogTextFieldUpdate);
    // The caret moves with every edit; the text signal also catches a same-length paste.
    connect(delayTextField, &QLineEdit::cursorPositionChanged, this,
            &ZoviziDeZizFrame2::delayTextFieldCaretUpdate);
    connect(delayTextField, &QLineEdit::textChanged, this,
            &ZoviziDeZizFrame2::delayTextFieldCaretUpdate);

    connect(manualConnectButton, &QRadioButton::toggled, this,
            &ZoviziDeZizFrame2::connectButtonActionPerformed);
    connect(autoConnectButton, &QRadioButton::toggled, this,
            &ZoviziDeZizFrame2::connectButtonActionPerformed);
    connect(ignoreDuplicatesCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::ignoreDuplicatesCheckBoxActionPerformed);
    connect(stableOnlyCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::stableOnlyCheckBoxActionPerformed);
    connect(reconnectCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::reconnectCheckBoxActionPerformed);
    connect(minimizeToTrayCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::minimizeToTrayCheckBoxItemStateChanged);
    connect(notifyWhenMinimizedToTrayCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::notifyWhenMinimizedToTrayCheckBoxItemStateChanged);
    connect(checkForUpdatesCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::checkForUpdatesCheckBoxItemStateChanged);
    connect(abortAutoStartCheckBox, &QCheckBox::toggled, this,
            &ZoviziDeZizFrame2::abortAutoStartCheckBoxItemStateChanged);
}

// --- ports ---

void ZoviziDeZizFrame2::setPortNames(const QStringList& names) {
    portNames = names;
    const QSignalBlocker quiet(portList);
    portList->clear();
    for (const QString& name : portNames) {
        portList->addItem(util::FriendlyPortUtil::getFriendlyPortName(name));
    }
    const qsizetype stored = portNames.indexOf(config.getPort());
    if (stored >= 0) {
        portList->setCurrentIndex(static_cast<int>(stored));
    } else if (!portFromCommandLine && util::NetworkPorts::isNetworkName(config.getPort())) {
        // The port named on the command line is the one offered, not the stored one.
        showTypedPort(*portList, config.getPort());
    }
}

// --- reading the controls back ---

void ZoviziDeZizFrame2::updateConfigFromTabs() {
    if (const QString port = portNameIn(*portList); !port.isEmpty()) {
        config.setPort(port);
    }
    const H::Instrument instrument = instrumentBox->selected();
    if (config.getInstrument() != instrument) {
        config.setInstrument(instrument);
    }
    bitRateBoxItemStateChanged();
    dataBitsBoxItemStateChanged();
    stopBitsBoxItemStateChanged();
    parityBoxItemStateChanged();
    inputTerminatorBoxItemStateChanged();

    config.setMathOperation(mathOperationBox->selected());
    MathOperandTextFieldUpdate();
    DecimalTextFieldUpdate();
    roundingMethodBoxItemStateChanged();
    editOperationComboBoxItemStateChanged();
    editPositionComboBoxItemStateChanged();
    EditNumCharactersTextFieldUpdate();
    RemoveCharactersTextFieldUpdate();
    requestFieldsUpdate(true);
    ignoreDuplicatesCheckBoxActionPerformed();
    stableOnlyCheckBoxActionPerformed();
    reconnectCheckBoxActionPerformed();

    decimalSeparatorBoxItemStateChanged();
    outputTerminatorBoxItemStateChanged();
    soundComboBoxItemStateChanged();
    keyboardTypeBoxItemStateChanged();
    startWithBoxItemStateChanged();
    delayTextFieldCaretUpdate();

    connectButtonActionPerformed();
    abortAutoStartCheckBoxItemStateChanged();
    minimizeToTrayCheckBoxItemStateChanged();
    notifyWhenMinimizedToTrayCheckBoxItemStateChanged();
    checkForUpdatesCheckBoxItemStateChanged();
    valueLogTextFieldUpdate();

    // An operation without an operand does nothing; show that instead of keeping it.
    if (mathOperationBox->selected() != H::MathOperation::NONE &&
        mathOperandTextField->text().isEmpty()) {
        mathOperationBox->select(H::MathOperation::NONE);
        config.setMathOperation(H::MathOperation::NONE);
    }
    if (mathOperationBox->selected() == H::MathOperation::DIVIDE &&
        decimalTextField->text().isEmpty() && !divisionMessageShown) {
        // Set until the box is closed, so saving again meanwhile does not stack a second one.
        divisionMessageShown = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                // clang-format off
                messages->error(
                    this, util::Bundle::tolvane().getString("error"),
                    util::Bundle::tolvane().getString("please.enter.number.of.decimal.places.for.rounding.or.disable.division"));
                // clang-format on
                divisionMessageShown = false;
            },
            Qt::QueuedConnection);
    }
}

// --- layouts ---

void ZoviziDeZizFrame2::setConnectedInGUI(bool connected) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, connected] { setConnectedInGUI(connected); }, Qt::QueuedConnection);
        return;
    }
    try {
        const bool settingPagesShown = tabbedPane->indexOf(inputPanel) >= 0;
        if (connected) {
            startStopJButton->setText(
                util::Bundle::tolvane().getString("ZoviziDeZizFrame2.startStopJButton.textStop"));
            if (settingPagesShown) {
                // The setting pages sit at 1..4 in this layout; anything else means the pages
                // were rearranged elsewhere, and removing by index would take the wrong ones.
                const QWidget* expected[] = {inputPanel, processingPanel, outputPanel,
                                             settingsPanel};
                for (int i = 0; i < 4; ++i) {
                    if (tabbedPane->widget(1 + i) != expected[i]) {
                        throw std::logic_error("unexpected page order");
                    }
                }
                for (int i = 0; i < 4; ++i) {
                    tabbedPane->removeTab(1);
                }
            }
            statusJLabel->setText(statusText.connected());
        } else {
            startStopJButton->setText(
                util::Bundle::tolvane().getString("ZoviziDeZizFrame2.startStopJButton.text"));
            if (!settingPagesShown) {
                tabbedPane->insertTab(
                    1, settingsPanel,
                    util::Bundle::tolvane().getString("ZoviziDeZizFrame2.settingsPanel.tab.title"));
                tabbedPane->insertTab(
                    1, outputPanel,
                    util::Bundle::tolvane().getString("ZoviziDeZizFrame2.outputPanel.tab.title"));
                // clang-format off
                tabbedPane->insertTab(
                    1, processingPanel,
                    util::Bundle::tolvane().getString("ZoviziDeZizFrame2.processingPanel.tab.title"));
                // clang-format on
                tabbedPane->insertTab(
                    1, inputPanel,
                    util::Bundle::tolvane().getString("ZoviziDeZizFrame2.inputPanel.tab.title"));
            }
            statusJLabel->setText(statusText.stopped());
        }
    } catch (const std::exception&) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("internal.error"));
    }
    if (!connected) {
        finishRun();
    }
}

// --- handlers with more to do than storing ---

void ZoviziDeZizFrame2::instrumentBoxItemStateChanged(int index) {
    if (index < 0) {
        return;
    }
    updateStableOnlyToolTip();
    const H::Instrument selected = instrumentBox->selected();
    if (config.getInstrument() == selected) {
        return;
    }
    // Leaving the previous instrument: its custom pattern was probably written for it.
    if (!config.getCustomRegEx().isEmpty() &&
        messages->askYesNo(this, "Confirm", "Overwrite custom regular expression?")) {
        config.setCustomRegEx("");
    }
    config.setInstrument(selected);
}

void ZoviziDeZizFrame2::inputTerminatorBoxItemStateChanged() {
    if (checkingInputTerminator) {
        return;
    }
    const QString text = inputTerminatorBox->currentText().trimmed();
    for (const auto terminator : S<H::InputTerminator>::values()) {
        if (text == S<H::InputTerminator>::label(terminator)) {
            config.setInputTerminator(H::getByteValue(terminator));
            return;
        }
    }
    const auto code = H::parseInt(text);
    if (code && H::InputTerminatorValue::isValid(*code)) {
        config.setInputTerminator(*code);
        return;
    }
    // Kept until the stored value is shown again: losing the focus to the box ends the editing
    // a second time.
    checkingInputTerminator = true;
    messages->error(this, util::Bundle::tolvane().getString("error"),
                    util::Bundle::tolvane().getString("terminator.must.be.between.0.and.255"));
    QMetaObject::invokeMethod(
        this,
        [this] {
            showInputTerminator();
            checkingInputTerminator = false;
        },
        Qt::QueuedConnection);
}

void ZoviziDeZizFrame2::showInputTerminator() {
    const QSignalBlocker quiet(inputTerminatorBox);
    const int value = config.getInputTerminator();
    if (const auto terminator = H::inputTerminatorForValue(value)) {
        const int index = S<H::InputTerminator>::position(*terminator);
        inputTerminatorBox->setCurrentIndex(index);
        inputTerminatorBox->setEditText(inputTerminatorBox->itemText(index));
    } else {
        inputTerminatorBox->setEditText(QString::number(value));
    }
}

void ZoviziDeZizFrame2::mathOperationBoxItemStateChanged(int) {
    config.setMathOperation(mathOperationBox->selected());
    if (mathOperationBox->selected() == H::MathOperation::NONE) {
        mathOperandTextField->clear();
    }
}

void ZoviziDeZizFrame2::delayTextFieldCaretUpdate() {
    if (pendingResets.contains(delayTextField)) {
        return;
    }
    const QString text = delayTextField->text();
    if (H::Delay::isValid(text)) {
        config.setDelay(text);
        return;
    }
    refuseField(delayTextField, util::Bundle::tolvane().getString("error.intercharacter.delay"),
                "20");
}

void ZoviziDeZizFrame2::connectButtonActionPerformed() {
    config.setConnect(autoConnectButton->isChecked() ? H::Connect::AUTO : H::Connect::MANUAL);
}

// --- validators ---

void ZoviziDeZizFrame2::MathOperandTextFieldUpdate() {
    if (pendingResets.contains(mathOperandTextField)) {
        return;
    }
    const bool typing = std::exchange(operandBeingTyped, false);
    QString text = mathOperandTextField->text();
    text.replace(u',', u'.');
    if (H::MathOperand::isValid(text)) {
        config.setMathOperand(text);
        return;
    }
    // The beginning of a number (0.001 starts with "0"): config keeps its last value until
    // the entry is complete or editing ends.
    static const QRegularExpression numberStart(QStringLiteral("^[+-]?[0-9]*\\.?[0-9]*$"));
    if (typing && numberStart.match(text).hasMatch()) {
        return;
    }
    refuseField(mathOperandTextField, util::Bundle::tolvane().getString("error.math.operand"));
}

void ZoviziDeZizFrame2::DecimalTextFieldUpdate() {
    if (pendingResets.contains(decimalTextField)) {
        return;
    }
    const QString text = decimalTextField->text();
    if (H::DecimalPlaces::isValid(text)) {
        config.setDecimalPlaces(text);
        return;
    }
    refuseField(decimalTextField, util::Bundle::tolvane().getString("error.decimal.places"));
}

void ZoviziDeZizFrame2::EditNumCharactersTextFieldUpdate() {
    if (pendingResets.contains(editNumCharactersTextField)) {
        return;
    }
    const QString text = editNumCharactersTextField->text();
    if (H::EditNumCharacters::isValid(text)) {
        config.setEditNumCharacters(text);
        return;
    }
    refuseField(editNumCharactersTextField,
                util::Bundle::tolvane().getString("error.edit.numCharacters"));
}

void ZoviziDeZizFrame2::RemoveCharactersTextFieldUpdate() {
    if (pendingResets.contains(removeCharactersTextField)) {
        return;
    }
    const QString text = removeCharactersTextField->text();
    if (H::RemoveCharacters::isValid(text)) {
        config.setRemoveCharacters(text);
        return;
    }
    refuseField(removeCharactersTextField,
                util::Bundle::tolvane().getString("error.edit.removeCharacters"));
}

void ZoviziDeZizFrame2::valueLogTextFieldUpdate() {
    if (pendingResets.contains(valueLogTextField)) {
        return;
    }
    const QString text = valueLogTextField->text();
    if (H::ValueLog::isValid(text)) {
        config.valueLog = text;
        return;
    }
    // Back to the file recorded to so far: a slip of the keyboard must not switch recording off.
    refuseField(valueLogTextField, util::Bundle::tolvane().getString("error.value.log"),
                config.valueLog);
}

void ZoviziDeZizFrame2::requestFieldsUpdate(bool editingFinished) {
    struct Field {
        QLineEdit* field;
        bool (*valid)(const QString&);
        QString& setting;
        const char* errorKey;
        QString resetText;
    };
    const Field fields[] = {
        {requestIntervalTextField, &H::RequestInterval::isValid, config.requestInterval,
         "error.request.interval", H::RequestInterval::getDefault()},
        {requestCommandTextField, &H::RequestCommand::isValid, config.requestCommand,
         "error.request.command", QString()},
        {requestHotkeyTextField, &H::RequestHotkey::isValid, config.requestHotkey,
         "error.request.hotkey", QString()},
    };
    for (const Field& f : fields) {
        if (f.field == nullptr || pendingResets.contains(f.field)) {
            continue;
        }
        const QString text = f.field->text().trimmed();
        if (f.valid(text)) {
            f.setting = text;
        } else if (editingFinished) {
            refuseField(f.field, util::Bundle::tolvane().getString(f.errorKey), f.resetText);
        }
    }
    updateRequestControls();
}

void ZoviziDeZizFrame2::refuseField(QLineEdit* field, const QString& message,
                                    const QString& resetText) {
    pendingResets.append(field);
    messages->error(this, util::Bundle::tolvane().getString("error"), message);
    // A field may not be changed from inside its own change signal. The reset text goes
    // through the check again, so the field and config agree afterwards.
    QMetaObject::invokeMethod(
        this,
        [this, field, resetText] {
            pendingResets.removeAll(field);
            field->setText(resetText);
        },
        Qt::QueuedConnection);
}

// --- plain setting controls ---

void ZoviziDeZizFrame2::bitRateBoxItemStateChanged() {
    config.setBitRate(S<H::BitRates>::position(bitRateBox->selected()));
}

void ZoviziDeZizFrame2::dataBitsBoxItemStateChanged() {
    config.setDataBits(S<H::DataBits>::position(dataBitsBox->selected()));
}

void ZoviziDeZizFrame2::stopBitsBoxItemStateChanged() {
    config.setStopBits(S<H::StopBits>::position(stopBitsBox->selected()));
}

void ZoviziDeZizFrame2::parityBoxItemStateChanged() {
    config.setParity(S<H::Parity>::position(parityBox->selected()));
}

void ZoviziDeZizFrame2::roundingMethodBoxItemStateChanged() {
    config.setRoundingMethod(roundingMethodBox->selected());
}

void ZoviziDeZizFrame2::editOperationComboBoxItemStateChanged() {
    config.setEditOperation(editOperationComboBox->selected());
}

void ZoviziDeZizFrame2::editPositionComboBoxItemStateChanged() {
    config.setEditPosition(editPositionComboBox->selected());
}

void ZoviziDeZizFrame2::decimalSeparatorBoxItemStateChanged() {
    config.setDecimalSeparator(decimalSeparatorBox->selected());
}

void ZoviziDeZizFrame2::outputTerminatorBoxItemStateChanged() {
    config.setOutputTerminator(outputTerminatorBox->selected());
}

void ZoviziDeZizFrame2::soundComboBoxItemStateChanged() {
    config.setSound(soundComboBox->selected());
}

void ZoviziDeZizFrame2::keyboardTypeBoxItemStateChanged() {
    config.setKeyboardType(keyboardTypeBox->selected());
}

void ZoviziDeZizFrame2::startWithBoxItemStateChanged() {
    config.setStartWith(startWithBox->selected());
}

void ZoviziDeZizFrame2::minimizeToTrayCheckBoxItemStateChanged() {
    config.minimizeToTray = minimizeToTrayCheckBox->isChecked();
    // Only the program's window goes to the tray; a window over a given Config stays plain.
    if (!persistent) {
        return;
    }
    if (config.minimizeToTray && !traySupport) {
        addMinimizeToTraySupport();
    } else if (!config.minimizeToTray && traySupport) {
        removeMinimizeToTraySupport();
    }
}

void ZoviziDeZizFrame2::notifyWhenMinimizedToTrayCheckBoxItemStateChanged() {
    config.notifyWhenMinimizedToTray = notifyWhenMinimizedToTrayCheckBox->isChecked();
}

void ZoviziDeZizFrame2::checkForUpdatesCheckBoxItemStateChanged() {
    config.checkForUpdates = checkForUpdatesCheckBox->isChecked();
}

void ZoviziDeZizFrame2::abortAutoStartCheckBoxItemStateChanged() {
    config.abortAutoStartWhenPrevPortNotAvailable = abortAutoStartCheckBox->isChecked();
}

void ZoviziDeZizFrame2::ignoreDuplicatesCheckBoxActionPerformed() {
    config.ignoreDuplicates = ignoreDuplicatesCheckBox->isChecked();
}

void ZoviziDeZizFrame2::reconnectCheckBoxActionPerformed() {
    config.reconnect = reconnectCheckBox->isChecked();
}

void ZoviziDeZizFrame2::stableOnlyCheckBoxActionPerformed() {
    config.stableOnly = stableOnlyCheckBox->isChecked();
}

void ZoviziDeZizFrame2::updateStableOnlyToolTip() {
    QString tip =
        util::Bundle::tolvane().getString("ZoviziDeZizFrame2.stableOnlyCheckBox.toolTipText");
    // Without a mark every reading counts as stable: say so rather than let the box look broken.
    if (!config::LineFormat::marksStability(instrumentBox->selected())) {
        tip += QLatin1Char(' ') +
               util::Bundle::tolvane().getString("ZoviziDeZizFrame2.stableOnlyCheckBox.noMark");
    }
    stableOnlyCheckBox->setToolTip(tip);
}

// --- start-up helpers ---

void ZoviziDeZizFrame2::abandonStartUp(int code) {
    startUpFailed = true;
    hide();
    exitProgram(code);
}

void ZoviziDeZizFrame2::setVisible(bool visible) {
    if (visible && startUpFailed) {
        return;
    }
    QMainWindow::setVisible(visible);
}

void ZoviziDeZizFrame2::exitProgram(int code) {
    if (services.exitProgram) {
        services.exitProgram(code);
    } else {
        QCoreApplication::exit(code);
    }
}

void ZoviziDeZizFrame2::startUpdateCheck() {
    // A build without an update server has nobody to ask.
    const QString url = util::UpdateWorker::defaultUrl();
    if (url.isEmpty()) {
        return;
    }
    // Without a say from the desktop services (a window built by a test) nothing is asked.
    if (!services.updateCheckDue || !services.updateCheckDue()) {
        return;
    }
    const auto version = serialkit::SystemProperties::get("VERSION");
    updateWorker = std::make_unique<util::UpdateWorker>(
        *this, url, QString::fromStdString(version.value_or(std::string())));
    updateWorker->start();
}

QStringList ZoviziDeZizFrame2::listPorts() {
    std::vector<std::string> listed;
    try {
        listed = serialkit::SerialPortLocal::getPortList();
    } catch (const std::exception& e) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("error.listing.available.ports") +
                            QString::fromUtf8(e.what()));
        return {};
    }
    try {
        util::FriendlyPortUtil::loadPortInfoList();
    } catch (const std::exception&) {
        // No driver records on this platform: the bare names are shown.
    }
    QStringList names;
    bool gap = false;
    for (const std::string& name : listed) {
        if (name.empty()) {
            gap = true;
        } else {
            names << QString::fromStdString(name);
        }
    }
    if (!names.isEmpty() && gap) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("error.listing.available.ports"));
    }
    return names;
}

void ZoviziDeZizFrame2::reportNoPortsUnless(const QString& port) {
    if (util::NetworkPorts::isNetworkName(port)) {
        return;
    }
    // clang-format off
    messages->error(this, util::Bundle::tolvane().getString("error"),
                    util::Bundle::tolvane().getString("no.rs.232.port.found.on.your.system.program.will.now.exit"));
    // clang-format on
}

bool ZoviziDeZizFrame2::saveSettings() {
    lastSaveError = 0;
    try {
        config::ConfigStore store;
        if (store.saveConfig(config)) {
            return true;
        }
        lastSaveError = store.lastSaveError();
        lastSaveFolder = store.settingsFolder();
        return false;
    } catch (const std::exception& e) {
        std::cerr << "saveConfig exception: " << e.what() << std::endl;
        return false;
    }
}

QString ZoviziDeZizFrame2::saveFailureText(const char* deniedKey) const {
    // A full or read-only disk is not a permission problem; say what it is, and where.
    if (lastSaveError == 0 || config::ConfigStore::isAccessDenied(lastSaveError)) {
        return util::Bundle::tolvane().getString(deniedKey);
    }
    return util::Bundle::tolvane().format(
        "settings.not.saved.because.0.folder.1",
        {config::ConfigStore::describeError(lastSaveError), lastSaveFolder});
}

// --- the log and the status line ---

void ZoviziDeZizFrame2::eventLogAppend(const QString& text) {
    if (eventLogWriter != nullptr) {
        eventLogWriter->append(text, EventLog::Style::REGULAR);
    }
}

void ZoviziDeZizFrame2::logImportantEvent(const QString& text) {
    if (eventLogWriter != nullptr) {
        eventLogWriter->append(text, EventLog::Style::IMPORTANT);
    }
}

void ZoviziDeZizFrame2::showWarning(const QString& title, const QString& message) {
    messages->warning(this, title, message);
}

void ZoviziDeZizFrame2::setStatus(const QString& text) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, text] { setStatus(text); }, Qt::QueuedConnection);
        return;
    }
    if (statusJLabel != nullptr) {
        statusJLabel->setText(text);
    }
}

void ZoviziDeZizFrame2::showNormalStatus() {
    setStatus(statusText.current());
}

void ZoviziDeZizFrame2::deviceLost(const QString& port, const QString& /*reason*/) {
    // The reason is in the event log already, with the failure that ended reading.
    setStatus(statusText.deviceLost(port));
}

void ZoviziDeZizFrame2::waitingForDevice(const QString& port) {
    const QString text = statusText.waitingForDevice(port);
    logImportantEvent(text);
    setStatus(text);
}

void ZoviziDeZizFrame2::deviceBack(const QString& port) {
    eventLogAppend(util::Bundle::tolvane().format("device.0.back", {port}));
    setStatus(statusText.deviceBack());
}

void ZoviziDeZizFrame2::processDataLine(worker::DataLine& dataLine) {
    using Outcome = worker::ValueRecorder::Outcome;
    // Before the ignore filter: a repeat it clears is recorded with its value.
    const QString value = dataLine.getProcessedData();
    if (ignorer) {
        try {
            ignorer->process(&dataLine);
        } catch (const std::exception& e) {
            // A value the filter cannot compare is typed rather than lost.
            logImportantEvent(QString::fromUtf8(e.what()));
        }
    }
    if (soundBot && dataLine.hasValue()) {
        soundBot->play();
    }
    // A value handed to the typist is recorded once its keys went out, with how that went;
    // every other line at once.
    std::shared_ptr<worker::ValueRecorder> recorder = valueRecorder;
    worker::ValueRecorder::Row row;
    if (recorder) {
        row = {.instant = dataLine.getDateTime(),
               .port = recordedPort,
               .instrument = recordedInstrument,
               .line = dataLine.getNumber(),
               .received = dataLine.getRawData(),
               .value = value,
               .outcome = Outcome::NO_VALUE};
        if (dataLine.hasValue()) {
            row.outcome = Outcome::NOT_TYPED;
        } else if (!value.isEmpty()) {
            row.outcome = Outcome::REPEAT;
        } else if (dataLine.isSkippedAsUnstable()) {
            row.outcome = Outcome::UNSTABLE;
        }
        if (!keybot || !dataLine.hasValue()) {
            recorder->record(row);
            recorder.reset();
        }
    }
    // The value is queued before the line is shown: showing it changes widgets, which under a
    // desktop with accessibility is also announced over D-Bus, and the typing need not wait.
    // Lines still arriving after a stop are shown but not typed.
    if (keybot) {
        // The value turns "typed" only once its keys went out without a failure.
        // A text may outlive this window in the process-wide queue: the log is looked at on the
        // user-interface thread only, and only if it still exists.
        const QPointer<EventLog> log(eventLogWriter);
        const quint64 id = log ? log->nextValueId() : 0;
        worker::Keybot::enqueue(dataLine.getProcessedData(), [log, id, recorder, row](bool typed) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [log, id, typed, recorder, row]() mutable {
                    if (log) {
                        log->valueTyped(id, typed);
                    }
                    if (recorder) {
                        row.outcome = typed ? Outcome::TYPED : Outcome::FAILED;
                        recorder->record(row);
                    }
                },
                Qt::QueuedConnection);
        });
        if (log) {
            log->appendQueuedDataLine(dataLine, id);
        }
    } else if (eventLogWriter != nullptr) {
        // After a stop nothing is typed, so nothing may be shown as typed either.
        eventLogWriter->appendDataLine(dataLine, false);
    }
    setStatus(statusText.lineReceived(dataLine.getNumber()));
}

// --- start and stop ---

void ZoviziDeZizFrame2::startStopJButtonActionPerformed() {
    if (running) {
        stopReading();
    } else {
        startReading();
    }
}

void ZoviziDeZizFrame2::startReading() {
    if (startUpFailed || running) {
        return;
    }
    // A stopped worker whose end has not been reported yet still holds the port; it goes now,
    // and since it will report nothing more, the stopped layout is shown for it.
    if (worker) {
        const bool reported = worker->isDone();
        worker.reset();
        if (!reported) {
            setConnectedInGUI(false);
        }
    }
    updateConfigFromTabs();
    // One typist at a time: the previous one has long finished its last text by now.
    retiringKeybot.reset();
    if (const QString problem = util::NetworkPorts::problemWith(config.getPort());
        !problem.isEmpty()) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().format("invalid.network.port.0.1",
                                                       {config.getPort(), problem}));
        return;
    }

    const H::Instrument instrument =
        config.getInstrument().value_or(S<H::Instrument>::getDefault());

    // Typing.
    std::shared_ptr<worker::KeyInjector> injector;
    QString outputName;
    try {
        if (!services.keyOutput) {
            throw std::runtime_error("No keystroke output on this desktop");
        }
        // The desktop's own dialog comes without a word about who asks, or why.
        const auto beforeAsking = [this] {
            setStatus(util::Bundle::tolvane().getString("keyboard.output.portal.asks"));
            // Painted now: the portal may hold this thread until the user has answered.
            if (statusJLabel != nullptr) {
                statusJLabel->repaint();
            }
        };
        const FrameServices::KeyOutput output =
            services.keyOutput(config.portalRestoreToken, beforeAsking);
        showNormalStatus();
        injector = output.injector;
        outputName = output.name;
        if (!injector) {
            throw std::runtime_error("No keystroke output on this desktop");
        }
        if (output.restoreToken != config.portalRestoreToken) {
            // Kept at once: the next start should not ask again, even after a crash.
            config.portalRestoreToken = output.restoreToken;
            saveSettings();
        }
        keybot = std::make_unique<worker::Keybot>(
            this, config::InstrumentPresets::getKeyMapType(instrument), config.getKeyboardType(),
            config.getOutputTerminator(), config.getStartWith(), config.getDelayAsInt(), injector);
    } catch (const std::exception& e) {
        dropStages();
        showNormalStatus();
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("error.initializing.keyboard.output") +
                            QString::fromUtf8(e.what()) + QStringLiteral("\n\n") +
                            util::Bundle::tolvane().getString("keyboard.output.what.to.do"));
        return;
    }
    try {
        if (injector->isCapsLockOn()) {
            messages->warning(this, util::Bundle::tolvane().getString("warning"),
                              util::Bundle::tolvane().getString("please.turn.off.caps.lock"));
        }
    } catch (const std::exception&) {
        // Not knowing the caps-lock state is no reason to refuse the start.
    }

    // Sound, optional: reading goes on without it.
    if (config.getSound() != H::Sound::NONE) {
        try {
            if (!services.soundOutput) {
                throw std::runtime_error("No sound output on this desktop");
            }
            soundBot = std::make_unique<worker::SoundBot>(H::getPercussionNumber(config.getSound()),
                                                          services.soundOutput());
        } catch (const std::exception& e) {
            soundBot.reset();
            // clang-format off
            messages->error(this, util::Bundle::tolvane().getString("sound.output.error"),
                            util::Bundle::tolvane().getString("error.while.initializing.sound.output") + QString::fromUtf8(e.what()));
            // clang-format on
        }
    }

    // The worker opens the port; a refusal leaves nothing of this run behind.
    try {
        if (config.ignoreDuplicates) {
            ignorer = std::make_unique<worker::Ignorer>(config);
        }
        if (config::InstrumentPresets::getInstrumentType(instrument) ==
            H::InstrumentType::TEXT) {
            worker = std::make_unique<worker::WeightWorkerBarcode>(*this, config::Config(config));
        } else if (instrument == H::Instrument::AND || instrument == H::Instrument::AND_EM) {
            worker = std::make_unique<worker::WeightWorkerAnd>(*this, config::Config(config));
        } else {
            worker = std::make_unique<worker::WeightWorker>(*this, config::Config(config));
        }
    } catch (const serialkit::IOException& e) {
        worker.reset();
        dropStages();
        const QString failure = QString::fromUtf8(e.what());
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("error.opening.port") + failure +
                            QStringLiteral("\n\n") + portFailureAdvice(failure));
        return;
    } catch (const std::invalid_argument& e) {
        worker.reset();
        dropStages();
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("invalid.setting") +
                            QString::fromUtf8(e.what()));
        return;
    } catch (const std::exception& e) {
        worker.reset();
        dropStages();
        const QString failure = QString::fromUtf8(e.what());
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("error.opening.port") + failure +
                            QStringLiteral("\n\n") + portFailureAdvice(failure));
        return;
    }

    keybot->start();
    eventLogAppend(util::Bundle::tolvane().getString("ZoviziDeZizFrame2.deviceLabel.text") + " " +
                   S<H::Instrument>::name(instrument));
    if (!config.getCustomRegEx().isEmpty()) {
        eventLogAppend("Custom regEx: " + config.getCustomRegEx());
    }
    eventLogAppend(util::Bundle::tolvane().getString("keyboard.output.started.type") + " " +
                   S<H::KeyboardType>::name(config.getKeyboardType()) + ", " +
                   util::Bundle::tolvane().getString("keyboard.output.through") + " " + outputName);
    // Recording, optional: a file that cannot be written is reported and reading goes on.
    valueRecorder.reset();
    if (!config.valueLog.isEmpty()) {
        const QString path = config.valueLog;
        eventLogAppend(util::Bundle::tolvane().format("value.log.recording.to.0", {path}));
        const QPointer<ZoviziDeZizFrame2> window(this);
        valueRecorder = std::make_shared<worker::CsvValueRecorder>(
            path, [window, path](const QString& reason) {
                if (window) {
                    window->logImportantEvent(util::Bundle::tolvane().format(
                        "value.log.not.written.0.because.1", {path, reason}));
                }
            });
        recordedPort = config.getPort();
        recordedInstrument = S<H::Instrument>::label(instrument);
    }
    running = true;
    worker->start();
    startRequests();
}

void ZoviziDeZizFrame2::startRequests() {
    stopRequests();
    if (!worker || worker::WeightWorker::requestCommandFor(config).isEmpty()) {
        return;
    }
    const int interval = config.requestInterval.toInt();
    if (interval > 0) {
        requestTimer = std::make_unique<worker::RequestTimer>([this] { requestReading(); });
        requestTimer->start(interval);
    }
    if (!config.requestHotkey.isEmpty()) {
        requestHotkey =
            platform::GlobalHotkey::create(config.requestHotkey, [this] { requestReading(); });
        // The desktop's portal is waited for with the event loop running; a stop may come first.
        if (!running) {
            requestHotkey.reset();
            return;
        }
        const bool bound = requestHotkey->available();
        const QString text =
            bound ? util::Bundle::tolvane().format("request.hotkey.active", {config.requestHotkey})
                  : requestHotkey->reason();
        requestHotkeyStatus->setText(text);
        requestHotkeyStatus->setVisible(true);
        if (bound) {
            eventLogAppend(text);
        } else {
            logImportantEvent(text);
        }
    }
    updateRequestControls();
}

void ZoviziDeZizFrame2::stopRequests() {
    requestTimer.reset();
    requestHotkey.reset();
    if (requestHotkeyStatus != nullptr) {
        requestHotkeyStatus->setVisible(false);
    }
    updateRequestControls();
}

void ZoviziDeZizFrame2::requestReading() {
    if (running && worker) {
        worker->requestReading();
    }
}

void ZoviziDeZizFrame2::updateRequestControls() {
    if (requestReadingButton == nullptr || requestIntervalTextField == nullptr) {
        return;
    }
    const bool command = !worker::WeightWorker::requestCommandFor(config).isEmpty();
    const QString why = util::Bundle::tolvane().getString("request.no.command");
    // clang-format off
    requestReadingButton->setEnabled(command && running && worker);
    requestReadingButton->setToolTip(command ? util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestReadingButton.toolTipText") : why);
    requestIntervalTextField->setEnabled(command);
    requestIntervalTextField->setToolTip(command ? util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestIntervalTextField.toolTipText") : why);
    requestHotkeyTextField->setEnabled(command);
    requestHotkeyTextField->setToolTip(command ? util::Bundle::tolvane().getString("ZoviziDeZizFrame2.requestHotkeyTextField.toolTipText") : why);
    // clang-format on
}

void ZoviziDeZizFrame2::stopReading() {
    running = false;
    // The worker reports its end (stopped layout, closed port) on a later turn of the loop.
    if (worker) {
        worker->cancel();
    }
    dropStages();
}

void ZoviziDeZizFrame2::dropStages() {
    stopRequests();
    if (keybot) {
        // It finishes the text in hand on its own thread; waiting for that here would freeze
        // the window for as long as the text takes (seconds with a long key delay).
        keybot->interrupt();
        retiringKeybot = std::move(keybot);
    }
    if (soundBot) {
        try {
            soundBot->close();
        } catch (const std::exception& e) {
            std::cerr << "Closing the sound output: " << e.what() << std::endl;
        }
        soundBot.reset();
    }
    ignorer.reset();
}

void ZoviziDeZizFrame2::finishRun() {
    if (worker && !worker->isDone()) {
        // Only the layout was switched; the run goes on.
        return;
    }
    dropStages();
    // Kept until now for the lines that still came after a stop; values still waiting to be
    // typed hold it until their rows are written.
    valueRecorder.reset();
    running = false;
    if (worker) {
        // The worker is still inside its completion; it goes once that has returned.
        const worker::WeightWorker* finished = worker.get();
        QMetaObject::invokeMethod(
            this,
            [this, finished] {
                if (worker.get() == finished) {
                    worker.reset();
                }
            },
            Qt::QueuedConnection);
    }
}

// --- the other buttons ---

void ZoviziDeZizFrame2::autoButtonActionPerformed() {
    // The ports the window offers, so the one found can be selected in its list.
    AutoPortDialog dialog(*this, portNames);
    execDialog(dialog);
}

void ZoviziDeZizFrame2::defaultButtonActionPerformed() {
    if (instrumentBox->currentIndex() < 0) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("no.default.values.available.for.this.device"));
        return;
    }
    const H::Instrument instrument = instrumentBox->selected();
    if (const auto note = config::InstrumentPresets::getDefaultMessage(instrument)) {
        messages->information(this, "Info", *note);
    }
    const config::Config preset = config::InstrumentPresets::getDefaultConfig(instrument);
    const auto pick = [](auto* box, auto tag, int code) {
        using E = decltype(tag);
        if (S<E>::isValid(code)) {
            box->select(S<E>::fromCode(code));
        }
    };
    pick(bitRateBox, H::BitRates{}, preset.getBitRate());
    bitRateBoxItemStateChanged();
    pick(dataBitsBox, H::DataBits{}, preset.getDataBits());
    dataBitsBoxItemStateChanged();
    pick(stopBitsBox, H::StopBits{}, preset.getStopBits());
    stopBitsBoxItemStateChanged();
    pick(parityBox, H::Parity{}, preset.getParity());
    parityBoxItemStateChanged();
    config.setInputTerminator(preset.getInputTerminator());
    showInputTerminator();
}

void ZoviziDeZizFrame2::refreshPortsButtonActionPerformed() {
    // The chosen port stays chosen when it is still there; a typed one is kept as it is.
    const QString shown = portNameIn(*portList);
    const QString chosen = shown.isEmpty() ? config.getPort() : shown;
    const bool typed = !shown.isEmpty() && !portNames.contains(shown);
    const QStringList names = listPorts();
    if (names.isEmpty()) {
        reportNoPortsUnless(chosen);
    }
    setPortNames(names);
    const qsizetype index = names.indexOf(chosen);
    if (index >= 0) {
        portList->setCurrentIndex(static_cast<int>(index));
    } else if (typed) {
        showTypedPort(*portList, chosen);
    }
}

void ZoviziDeZizFrame2::customizeButtonActionPerformed() {
    CustomRegExDialog::customize(this, config, messages,
                                 [this](QDialog& dialog) { return execDialog(dialog); });
}

void ZoviziDeZizFrame2::adjustIgnoreButtonActionPerformed() {
    IgnoreDialog::adjust(this, config, messages,
                         [this](QDialog& dialog) { return execDialog(dialog); });
}

int ZoviziDeZizFrame2::execDialog(QDialog& dialog) {
    return dialog.exec();
}

void ZoviziDeZizFrame2::importSettingsButtonActionPerformed() {
    SettingsTransfer(this, messages).importSettings([this](int code) { exitProgram(code); });
}

void ZoviziDeZizFrame2::exportSettingsButtonActionPerformed() {
    SettingsTransfer(this, messages).exportSettings([this] {
        updateConfigFromTabs();
        // An export of settings that could not be stored would not be what the user sees.
        if (!saveSettings()) {
            throw std::runtime_error("The settings could not be saved to " +
                                     config::ConfigStore::preferencesFileLocation().toStdString());
        }
    });
}

void ZoviziDeZizFrame2::valueLogButtonActionPerformed() {
    const QString chosen = chooseValueLogFile(valueLogTextField->text());
    if (!chosen.isEmpty()) {
        // Checked like a typed path.
        valueLogTextField->setText(chosen);
    }
}

QString ZoviziDeZizFrame2::chooseValueLogFile(const QString& current) {
    const QString start = current.isEmpty() ? QDir::home().filePath(QStringLiteral("readings.csv"))
                                            : current;
    return QFileDialog::getSaveFileName(this, QString(), start,
                                        QStringLiteral("CSV files (*.csv);;All files (*)"), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void ZoviziDeZizFrame2::tabbedPaneStateChanged(int index) {
    QWidget* left = currentPage;
    currentTabIndex = index;
    currentPage = tabbedPane->widget(index);
    if (!persistent || !oldConfig) {
        return;
    }
    // Input, processing, output and about; leaving the settings page does not save.
    if (left != inputPanel && left != processingPanel && left != outputPanel &&
        left != aboutPanel) {
        return;
    }
    updateConfigFromTabs();
    if (!config.hasChanged(*oldConfig)) {
        return;
    }
    oldConfig = std::make_unique<config::Config>(config);
    if (!saveSettings()) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        saveFailureText("autosave.error"));
    }
}

void ZoviziDeZizFrame2::aboutPaneHyperlinkUpdate(const QUrl& address) {
    try {
        LinkRunner(address).start();
    } catch (const std::invalid_argument&) {
        LinkRunner::reportFailure();
    }
}

// --- tray and closing ---

void ZoviziDeZizFrame2::addMinimizeToTraySupport() {
    if (!traySupport) {
        std::function<bool()> available = services.trayAvailable;
        if (!available) {
            available = [] { return false; };
        }
        traySupport = std::make_unique<TraySupport>(
            this, [this] { return config.notifyWhenMinimizedToTray; }, available);
    }
    traySupport->addMinimizeToTraySupport();
}

void ZoviziDeZizFrame2::removeMinimizeToTraySupport() {
    if (traySupport) {
        traySupport->removeMinimizeToTraySupport();
        traySupport.reset();
    }
}

void ZoviziDeZizFrame2::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        windowStateChanged();
    }
}

void ZoviziDeZizFrame2::windowStateChanged() {
    if (traySupport) {
        traySupport->windowStateChanged();
    }
}

void ZoviziDeZizFrame2::closeEvent(QCloseEvent* event) {
    if (running) {
        stopReading();
    }
    if (!keepSettings()) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        saveFailureText("access.error.while.saving.settings"));
    }
    event->accept();
}

bool ZoviziDeZizFrame2::keepSettings() {
    if (!persistent || startUpFailed) {
        return true;
    }
    updateConfigFromTabs();
    return saveSettings();
}

}  // namespace quorvel
