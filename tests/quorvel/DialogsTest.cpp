// The ignore and custom pattern dialogs: their parts, the checks behind OK, and the window's
// compare-then-store use, driven through the buttons of a shown (non-modal) dialog.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLayout>
#include <QWidget>

#include <memory>
#include <optional>
#include <tuple>

#include "quorvel/CustomRegExDialog.h"
#include "quorvel/IgnoreDialog.h"
#include "quorvel/config/Config.h"
#include "quorvel/util/Bundle.h"
#include "support/RecordingMessagePresenter.h"

namespace quorvel {
namespace {

using config::Config;
using config::ConfigHelper;
using test::RecordingMessagePresenter;

QString text(const char* key) {
    return util::Bundle::tolvane().getString(key);
}

template <typename W>
W* part(QWidget& dialog, const char* name) {
    W* widget = dialog.findChild<W*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

void expectBorders(QWidget& dialog) {
    QWidget* pane = part<QWidget>(dialog, "dialogPane");
    QWidget* bar = part<QWidget>(dialog, "buttonBar");
    ASSERT_TRUE(pane && pane->layout() && bar && bar->layout());
    EXPECT_EQ(pane->layout()->contentsMargins(), QMargins(12, 12, 12, 12));
    EXPECT_EQ(bar->layout()->contentsMargins().top(), 12);
    EXPECT_NE(part<QWidget>(dialog, "contentPanel"), nullptr);
}

std::optional<QString> none() {
    return std::nullopt;
}

class DialogsTest : public ::testing::Test {
  protected:
    QWidget owner;
    std::shared_ptr<RecordingMessagePresenter> messages =
        std::make_shared<RecordingMessagePresenter>();
    Config config;

    void expectOneError(const char* key) {
        ASSERT_EQ(messages->boxes.size(), 1u);
        EXPECT_EQ(messages->boxes[0].kind, RecordingMessagePresenter::Kind::ERROR);
        EXPECT_EQ(messages->boxes[0].title, text("error"));
        EXPECT_EQ(messages->boxes[0].message, text(key));
        messages->boxes.clear();
    }
};

// ---- ignore dialog -------------------------------------------------------------------------

TEST_F(DialogsTest, IgnoreDialogParts) {
    IgnoreDialog dialog(&owner, config, messages);
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.parentWidget(), &owner);
    EXPECT_EQ(dialog.windowTitle(), text("IgnoreDialog.this.title"));
    expectBorders(dialog);
    EXPECT_EQ(part<QLabel>(dialog, "label2")->text(), text("IgnoreDialog.label2.text"));
    EXPECT_EQ(part<QLabel>(dialog, "label3")->text(), text("IgnoreDialog.label3.text"));
    EXPECT_EQ(part<QLineEdit>(dialog, "ignoreTimeLimitTextField"), dialog.ignoreTimeLimitTextField);
    EXPECT_EQ(part<QLineEdit>(dialog, "ignoreDifferenceTextField"),
              dialog.ignoreDifferenceTextField);
    EXPECT_EQ(dialog.ignoreTimeLimitTextField->toolTip(),
              text("IgnoreDialog.ignoreTimeLimitTextField.toolTipText"));
    EXPECT_EQ(dialog.ignoreDifferenceTextField->toolTip(),
              text("IgnoreDialog.ignoreDifferenceTextField.toolTipText"));
    bool unit = false;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        unit = unit || label->text() == "ms";
    }
    EXPECT_TRUE(unit);
    EXPECT_EQ(part<QPushButton>(dialog, "okButton"), dialog.okButton);
    EXPECT_EQ(dialog.okButton->text(), "OK");
    EXPECT_EQ(part<QPushButton>(dialog, "cancelButton"), dialog.cancelButton);
    EXPECT_EQ(dialog.cancelButton->text(), text("IgnoreDialog.cancelButton.text"));
    // Nothing is a result before the window sets them.
    EXPECT_EQ(dialog.getIgnoreTimeLimit(), none());
    EXPECT_EQ(dialog.getIgnoreDifference(), none());
}

TEST_F(DialogsTest, IgnoreDifferenceIsOffForTextInstruments) {
    config.setInstrument(ConfigHelper::Instrument::BARCODE_ALPHA);
    EXPECT_FALSE(IgnoreDialog(&owner, config, messages).ignoreDifferenceTextField->isEnabled());
    config.setInstrument(ConfigHelper::Instrument::GENERIC);
    IgnoreDialog numeric(&owner, config, messages);
    EXPECT_TRUE(numeric.ignoreDifferenceTextField->isEnabled());
    EXPECT_TRUE(numeric.ignoreTimeLimitTextField->isEnabled());
    config.setInstrument(std::nullopt);
    EXPECT_TRUE(IgnoreDialog(&owner, config, messages).ignoreDifferenceTextField->isEnabled());
}

TEST_F(DialogsTest, IgnoreOkRefusesWhatIsNoPositiveNumber) {
    IgnoreDialog dialog(&owner, config, messages);
    dialog.setIgnoreTimeLimit("500");
    dialog.setIgnoreDifference("0.1");
    dialog.show();
    for (const auto& [limit, difference] : {
             std::tuple<QString, QString>{"0", ""},
             {"-5", ""},
             {"1.5", ""},
             {"abc", ""},
             {"2147483648", ""},
             {"", "0"},
             {"", "0,0"},
             {"", "-1"},
             {"", "x"},
             {"", "1,2,3"},
             {"10", "0"},
         }) {
        dialog.ignoreTimeLimitTextField->setText(limit);
        dialog.ignoreDifferenceTextField->setText(difference);
        dialog.okButton->click();
        SCOPED_TRACE((limit + " / " + difference).toStdString());
        expectOneError("ignore.error");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.ignoreTimeLimitTextField->text(), limit);
        EXPECT_EQ(dialog.ignoreDifferenceTextField->text(), difference);
        EXPECT_EQ(dialog.getIgnoreTimeLimit(), std::optional<QString>("500"));
        EXPECT_EQ(dialog.getIgnoreDifference(), std::optional<QString>("0.1"));
    }
}

TEST_F(DialogsTest, IgnoreOkAcceptsPositiveNumbersAndEmptyTexts) {
    for (const auto& [limit, difference, stored] : {
             std::tuple<QString, QString, QString>{"250", "0,5", "0.5"},
             {"1", "0.001", "0.001"},
             {"2147483647", "12", "12"},
             {"", "", ""},
         }) {
        SCOPED_TRACE((limit + " / " + difference).toStdString());
        IgnoreDialog dialog(&owner, config, messages);
        dialog.setIgnoreTimeLimit("500");
        dialog.setIgnoreDifference("0.1");
        dialog.show();
        dialog.ignoreTimeLimitTextField->setText(limit);
        dialog.ignoreDifferenceTextField->setText(difference);
        dialog.okButton->click();
        EXPECT_TRUE(messages->boxes.empty());
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.getIgnoreTimeLimit(), std::optional<QString>(limit));
        EXPECT_EQ(dialog.getIgnoreDifference(), std::optional<QString>(stored));
    }
}

TEST_F(DialogsTest, AdjustFillsTheDialogAndStoresWhatOkAccepted) {
    config.setIgnoreTimeLimit("500");
    config.setIgnoreDifference("0.1");
    IgnoreDialog::adjust(&owner, config, messages, [](QDialog& shown) {
        auto& dialog = dynamic_cast<IgnoreDialog&>(shown);
        dialog.show();
        EXPECT_EQ(dialog.ignoreTimeLimitTextField->text(), "500");
        EXPECT_EQ(dialog.ignoreDifferenceTextField->text(), "0.1");
        dialog.ignoreTimeLimitTextField->setText("750");
        dialog.ignoreDifferenceTextField->setText("0,5");
        dialog.okButton->click();
        return dialog.result();
    });
    EXPECT_EQ(config.getIgnoreTimeLimit(), "750");
    EXPECT_EQ(config.getIgnoreDifference(), "0.5");
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(DialogsTest, AdjustWithBothFieldsEmptiedStoresTwoEmptyValues) {
    config.setIgnoreTimeLimit("500");
    config.setIgnoreDifference("0.1");
    IgnoreDialog::adjust(&owner, config, messages, [](QDialog& shown) {
        auto& dialog = dynamic_cast<IgnoreDialog&>(shown);
        dialog.show();
        dialog.ignoreTimeLimitTextField->clear();
        dialog.ignoreDifferenceTextField->clear();
        dialog.okButton->click();
        return dialog.result();
    });
    EXPECT_EQ(config.getIgnoreTimeLimit(), "");
    EXPECT_EQ(config.getIgnoreDifference(), "");
}

TEST_F(DialogsTest, AdjustKeepsTheDialogOpenUntilTheInputIsCorrected) {
    config.setIgnoreTimeLimit("500");
    IgnoreDialog::adjust(&owner, config, messages, [this](QDialog& shown) {
        auto& dialog = dynamic_cast<IgnoreDialog&>(shown);
        dialog.show();
        dialog.ignoreTimeLimitTextField->setText("0");
        dialog.okButton->click();
        expectOneError("ignore.error");
        EXPECT_TRUE(dialog.isVisible());
        dialog.ignoreTimeLimitTextField->setText("100");
        dialog.okButton->click();
        EXPECT_FALSE(dialog.isVisible());
        return dialog.result();
    });
    EXPECT_EQ(config.getIgnoreTimeLimit(), "100");
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(DialogsTest, AdjustCancelledAfterEditingChangesNothing) {
    config.setIgnoreTimeLimit("500");
    config.setIgnoreDifference("0.1");
    IgnoreDialog::adjust(&owner, config, messages, [](QDialog& shown) {
        auto& dialog = dynamic_cast<IgnoreDialog&>(shown);
        dialog.show();
        dialog.ignoreTimeLimitTextField->setText("9999");
        dialog.ignoreDifferenceTextField->setText("0");
        dialog.cancelButton->click();
        EXPECT_FALSE(dialog.isVisible());
        return dialog.result();
    });
    EXPECT_EQ(config.getIgnoreTimeLimit(), "500");
    EXPECT_EQ(config.getIgnoreDifference(), "0.1");
    EXPECT_TRUE(messages->boxes.empty());
}

// ---- custom pattern dialog -----------------------------------------------------------------

TEST_F(DialogsTest, CustomRegExDialogParts) {
    CustomRegExDialog dialog(&owner, messages);
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.parentWidget(), &owner);
    EXPECT_EQ(dialog.windowTitle(), text("CustomRegExDialog.this.title"));
    expectBorders(dialog);
    EXPECT_EQ(part<QLabel>(dialog, "label2")->text(), text("CustomRegExDialog.label2.text"));
    EXPECT_EQ(part<QLabel>(dialog, "label3")->text(), text("CustomRegExDialog.label3.text"));
    EXPECT_EQ(part<QPlainTextEdit>(dialog, "regExTextArea"), dialog.regExTextArea);
    EXPECT_EQ(part<JLabelHtml>(dialog, "label4"), dialog.label4);
    EXPECT_EQ(dialog.label4->originalText(), text("CustomRegExDialog.label4.text"));
    EXPECT_EQ(part<QPushButton>(dialog, "okButton"), dialog.okButton);
    EXPECT_EQ(dialog.okButton->text(), "OK");
    EXPECT_EQ(part<QPushButton>(dialog, "cancelButton"), dialog.cancelButton);
    EXPECT_EQ(dialog.cancelButton->text(), text("CustomRegExDialog.cancelButton.text"));
    EXPECT_EQ(dialog.getCustomRegEx(), none());
    dialog.setCustomRegEx("([0-9]+)");
    EXPECT_EQ(dialog.regExTextArea->toPlainText(), "([0-9]+)");
    EXPECT_EQ(dialog.getCustomRegEx(), std::optional<QString>("([0-9]+)"));
}

TEST_F(DialogsTest, CustomRegExOkRefusesWhatTheSettingRefuses) {
    CustomRegExDialog dialog(&owner, messages);
    dialog.setCustomRegEx("(\\d+) kg");
    dialog.show();
    for (const QString& refused : {QString("([0-9]+"), QString("[0-9]+"), QString(")([0-9]+)"),
                                   QString("([0-9]+))"), QString("(+)")}) {
        SCOPED_TRACE(refused.toStdString());
        dialog.regExTextArea->setPlainText(refused);
        dialog.okButton->click();
        expectOneError("invalid.expression");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.regExTextArea->toPlainText(), refused);
        EXPECT_EQ(dialog.getCustomRegEx(), std::optional<QString>("(\\d+) kg"));
    }
}

TEST_F(DialogsTest, CustomizeStoresAnAcceptedExpression) {
    config.setCustomRegEx("(\\d+) kg");
    CustomRegExDialog::customize(&owner, config, messages, [this](QDialog& shown) {
        auto& dialog = dynamic_cast<CustomRegExDialog&>(shown);
        dialog.show();
        EXPECT_EQ(dialog.regExTextArea->toPlainText(), "(\\d+) kg");
        dialog.regExTextArea->setPlainText("([0-9.]+");
        dialog.okButton->click();
        expectOneError("invalid.expression");
        dialog.regExTextArea->setPlainText("ST,GS,\\s*([0-9.]+)");
        dialog.okButton->click();
        EXPECT_FALSE(dialog.isVisible());
        return dialog.result();
    });
    EXPECT_EQ(config.getCustomRegEx(), "ST,GS,\\s*([0-9.]+)");
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(DialogsTest, CustomizeAcceptsTheEmptyExpression) {
    config.setCustomRegEx("(\\d+) kg");
    CustomRegExDialog::customize(&owner, config, messages, [](QDialog& shown) {
        auto& dialog = dynamic_cast<CustomRegExDialog&>(shown);
        dialog.show();
        dialog.regExTextArea->clear();
        dialog.okButton->click();
        return dialog.result();
    });
    EXPECT_EQ(config.getCustomRegEx(), "");
    EXPECT_TRUE(messages->boxes.empty());
}

TEST_F(DialogsTest, CustomizeOkUnchangedOrCancelKeepsTheExpression) {
    config.setCustomRegEx("(\\d+) kg");
    CustomRegExDialog::customize(&owner, config, messages, [](QDialog& shown) {
        auto& dialog = dynamic_cast<CustomRegExDialog&>(shown);
        dialog.show();
        dialog.okButton->click();
        return dialog.result();
    });
    EXPECT_EQ(config.getCustomRegEx(), "(\\d+) kg");

    CustomRegExDialog::customize(&owner, config, messages, [](QDialog& shown) {
        auto& dialog = dynamic_cast<CustomRegExDialog&>(shown);
        dialog.show();
        dialog.regExTextArea->setPlainText("(.*)");
        dialog.cancelButton->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        return dialog.result();
    });
    EXPECT_EQ(config.getCustomRegEx(), "(\\d+) kg");
    EXPECT_TRUE(messages->boxes.empty());
}

}  // namespace
}  // namespace quorvel
