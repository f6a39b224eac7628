#include "quorvel/ZoviziDeZizFrame2.h"


#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QMetaObject>
#include <QPixmap>
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

#include "quorvel/QtMessagePresenter.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/FriendlyPortUtil.h"

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
}

ZoviziDeZizFrame2::~ZoviziDeZizFrame2() {
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

    aboutPanel = new QWidget(tabbedPane);
    aboutPanel->setObjectName("aboutPanel");
    auto* aboutLayout = new QVBoxLayout(aboutPanel);
    aboutPane = new QTextBrowser(aboutPanel);
    aboutPane->setObjectName("aboutPane");
    aboutPane->setReadOnly(true);
    // Links go through aboutPaneHyperlinkUpdate, never straight to the browser or a file.
    aboutPane->setOpenLinks(false);
    aboutPane->setOpenExternalLinks(false);
    aboutPane->setHtml(util::Bundle::tolvane().getString("ZoviziDeZizFrame2.aboutPane.text"));
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

    auto* content = new QWidget(this);
    content->setObjectName("contentPane");
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(4, 2, 4, 2);
    contentLayout->addWidget(tabbedPane, 1);
    contentLayout->addWidget(statusJLabel);
    setCentralWidget(content);
    resize(WIDTH, HEIGHT);

    connectHandlers();
}

QWidget* ZoviziDeZizFrame2::buildInputPanel() {
    auto* page = new QWidget(tabbedPane);
    page->setObjectName("inputPanel");
    auto* grid = pageGrid(page, 3);

    portList = new PrototypeComboBox(QString(53, u'X'), QString(16, u'X'), page);
    portList->setObjectName("portList");
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
    connect(tabbedPane, &QTabWidget::currentChanged, this,
            [this](int index) { tabbedPaneStateChanged(index); });
    connect(aboutPane, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& address) { aboutPaneHyperlinkUpdate(address); });

    connect(instrumentBox, &QComboBox::currentIndexChanged, this,
            &ZoviziDeZizFrame2::instrumentBoxItemStateChanged);
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
    }
}

// --- reading the controls back ---

void ZoviziDeZizFrame2::updateConfigFromTabs() {
    if (portList->currentIndex() >= 0) {
        config.setPort(util::FriendlyPortUtil::getUnfriendlyPortName(portList->currentText()));
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
    ignoreDuplicatesCheckBoxActionPerformed();

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
            statusJLabel->setText(
                util::Bundle::tolvane().getString("switch.to.target.application"));
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
            statusJLabel->setText(
                util::Bundle::tolvane().getString("ZoviziDeZizFrame2.statusJLabel.text"));
        }
    } catch (const std::exception&) {
        messages->error(this, util::Bundle::tolvane().getString("error"),
                        util::Bundle::tolvane().getString("internal.error"));
    }
}

// --- handlers with more to do than storing ---

void ZoviziDeZizFrame2::instrumentBoxItemStateChanged(int index) {
    if (index < 0) {
        return;
    }
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

// --- actions: the application fills these in ---

void ZoviziDeZizFrame2::startStopJButtonActionPerformed() {
    // Starting and stopping the reading belong to the application.
}

void ZoviziDeZizFrame2::autoButtonActionPerformed() {
    // The auto port dialog belongs to the application.
}

void ZoviziDeZizFrame2::defaultButtonActionPerformed() {
    // Loading the instrument's line defaults belongs to the application.
}

void ZoviziDeZizFrame2::refreshPortsButtonActionPerformed() {
    // Listing the ports again belongs to the application.
}

void ZoviziDeZizFrame2::customizeButtonActionPerformed() {
    // The custom pattern dialog belongs to the application.
}

void ZoviziDeZizFrame2::adjustIgnoreButtonActionPerformed() {
    // The ignore dialog belongs to the application.
}

void ZoviziDeZizFrame2::importSettingsButtonActionPerformed() {
    // Importing settings belongs to the application.
}

void ZoviziDeZizFrame2::exportSettingsButtonActionPerformed() {
    // Exporting settings belongs to the application.
}

void ZoviziDeZizFrame2::tabbedPaneStateChanged(int) {
    // Saving on leaving a page belongs to the application.
}

void ZoviziDeZizFrame2::aboutPaneHyperlinkUpdate(const QUrl&) {
    // Opening the about page's links belongs to the application.
}

}  // namespace quorvel
