#include "quorvel/IgnoreDialog.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "quorvel/DialogFrame.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/Bundle.h"

namespace quorvel {

namespace {

using config::ConfigHelper;

// A result absent from the dialog counts as different from any stored text.
bool differs(const std::optional<QString>& result, const QString& stored) {
    return !result.has_value() || *result != stored;
}

}  // namespace

IgnoreDialog::IgnoreDialog(QWidget* owner, const config::Config& config,
                           std::shared_ptr<MessagePresenter> messages)
    : QDialog(owner), messages_(std::move(messages)) {
    initComponents();
    // A text instrument sends no numbers, so there is no difference to speak of.
    const auto instrument = config.getInstrument();
    if (instrument.has_value() && config::InstrumentPresets::getInstrumentType(*instrument) ==
                                      ConfigHelper::InstrumentType::TEXT) {
        ignoreDifferenceTextField->setEnabled(false);
    }
}

void IgnoreDialog::initComponents() {
    setObjectName("IgnoreDialog");
    setModal(true);
    setWindowTitle(util::Bundle::tolvane().getString("IgnoreDialog.this.title"));

    const DialogFrame frame = DialogFrame::build(*this);
    QWidget* contentPanel = frame.contentPanel;
    auto* grid = new QGridLayout(contentPanel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);

    auto* label2 =
        new QLabel(util::Bundle::tolvane().getString("IgnoreDialog.label2.text"), contentPanel);
    label2->setObjectName("label2");
    ignoreTimeLimitTextField = new QLineEdit(contentPanel);
    ignoreTimeLimitTextField->setObjectName("ignoreTimeLimitTextField");
    ignoreTimeLimitTextField->setToolTip(
        util::Bundle::tolvane().getString("IgnoreDialog.ignoreTimeLimitTextField.toolTipText"));
    auto* unitLabel = new QLabel(QStringLiteral("ms"), contentPanel);
    unitLabel->setObjectName("unitLabel");
    label2->setBuddy(ignoreTimeLimitTextField);

    auto* label3 =
        new QLabel(util::Bundle::tolvane().getString("IgnoreDialog.label3.text"), contentPanel);
    label3->setObjectName("label3");
    ignoreDifferenceTextField = new QLineEdit(contentPanel);
    ignoreDifferenceTextField->setObjectName("ignoreDifferenceTextField");
    ignoreDifferenceTextField->setToolTip(
        util::Bundle::tolvane().getString("IgnoreDialog.ignoreDifferenceTextField.toolTipText"));
    label3->setBuddy(ignoreDifferenceTextField);

    grid->addWidget(label2, 0, 0);
    grid->addWidget(ignoreTimeLimitTextField, 0, 1);
    grid->addWidget(unitLabel, 0, 2);
    grid->addWidget(label3, 1, 0);
    grid->addWidget(ignoreDifferenceTextField, 1, 1);
    grid->setColumnStretch(1, 1);

    const DialogFrame::OkCancel buttons =
        frame.addOkCancel(util::Bundle::tolvane().getString("IgnoreDialog.cancelButton.text"));
    okButton = buttons.okButton;
    cancelButton = buttons.cancelButton;
    okButton->setDefault(true);

    connect(okButton, &QPushButton::clicked, this, [this] { okButtonActionPerformed(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancelButtonActionPerformed(); });
}

void IgnoreDialog::setIgnoreTimeLimit(const QString& text) {
    ignoreTimeLimit_ = text;
    ignoreTimeLimitTextField->setText(text);
}

void IgnoreDialog::setIgnoreDifference(const QString& text) {
    ignoreDifference_ = text;
    ignoreDifferenceTextField->setText(text);
}

void IgnoreDialog::okButtonActionPerformed() {
    const QString timeLimit = ignoreTimeLimitTextField->text();
    // Many users write the decimal comma; the setting is stored with a point.
    const QString difference = QString(ignoreDifferenceTextField->text()).replace(u',', u'.');
    // The same rules the setting is checked with on load, so what is accepted here loads again.
    if (!ConfigHelper::IgnoreTimeLimit::isValid(timeLimit) ||
        !ConfigHelper::IgnoreDifference::isValid(difference)) {
        if (messages_) {
            messages_->error(this, util::Bundle::tolvane().getString("error"),
                             util::Bundle::tolvane().getString("ignore.error"));
        }
        return;
    }
    ignoreTimeLimit_ = timeLimit;
    ignoreDifference_ = difference;
    accept();
}

void IgnoreDialog::cancelButtonActionPerformed() {
    reject();
}

void IgnoreDialog::adjust(QWidget* owner, config::Config& config,
                          std::shared_ptr<MessagePresenter> messages,
                          const std::function<int(QDialog&)>& exec) {
    IgnoreDialog dialog(owner, config, std::move(messages));
    dialog.setIgnoreTimeLimit(config.getIgnoreTimeLimit());
    dialog.setIgnoreDifference(config.getIgnoreDifference());
    if (exec) {
        exec(dialog);
    } else {
        dialog.exec();
    }
    if (differs(dialog.getIgnoreTimeLimit(), config.getIgnoreTimeLimit())) {
        config.setIgnoreTimeLimit(dialog.getIgnoreTimeLimit().value_or(QString()));
    }
    if (differs(dialog.getIgnoreDifference(), config.getIgnoreDifference())) {
        config.setIgnoreDifference(dialog.getIgnoreDifference().value_or(QString()));
    }
}

}  // namespace quorvel
