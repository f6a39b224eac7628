// The option widgets: their lists, initial values, and how they follow the instrument type.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include <memory>

#include "quorvel/AutoConnectButton.h"
#include "quorvel/DecimalSeparatorBox.h"
#include "quorvel/OptionButton.h"
#include "quorvel/OptionCheckBox.h"
#include "quorvel/OptionComboBox.h"
#include "quorvel/OptionTextField.h"
#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"

namespace quorvel {
namespace {

using config::Config;
using config::InstrumentPresets;
using config::Setting;
using H = config::ConfigHelper;

// One instrument of each type, found from the presets rather than assumed.
H::Instrument firstInstrumentOfType(H::InstrumentType type) {
    for (H::Instrument instrument : Setting<H::Instrument>::values()) {
        if (InstrumentPresets::getInstrumentType(instrument) == type) {
            return instrument;
        }
    }
    ADD_FAILURE() << "no instrument of type " << Setting<H::InstrumentType>::name(type).toStdString();
    return Setting<H::Instrument>::getDefault();
}

H::Instrument textInstrument() { return firstInstrumentOfType(H::InstrumentType::TEXT); }
H::Instrument numberInstrument() { return firstInstrumentOfType(H::InstrumentType::NUMBER); }

// Each combo box as the main window creates it, with the Config field it shows.
struct StartWithCase {
    using E = H::StartWith;
    using Box = StartWithBox;
    static void store(Config& c, E v) { c.setStartWith(v); }
    static std::unique_ptr<Box> make(Config& c) { return std::make_unique<Box>(c.getStartWith()); }
    static constexpr bool follows = false;
};
struct SoundCase {
    using E = H::Sound;
    using Box = SoundComboBox;
    static void store(Config& c, E v) { c.setSound(v); }
    static std::unique_ptr<Box> make(Config& c) { return std::make_unique<Box>(c.getSound()); }
    static constexpr bool follows = false;
};
struct RoundingMethodCase {
    using E = H::RoundingMethod;
    using Box = RoundingMethodBox;
    static void store(Config& c, E v) { c.setRoundingMethod(v); }
    static std::unique_ptr<Box> make(Config& c) {
        return std::make_unique<Box>(c.getRoundingMethod(), &c);
    }
    static constexpr bool follows = true;
};
struct MathOperationCase {
    using E = H::MathOperation;
    using Box = MathOperationBox;
    static void store(Config& c, E v) { c.setMathOperation(v); }
    static std::unique_ptr<Box> make(Config& c) {
        return std::make_unique<Box>(c.getMathOperation(), &c);
    }
    static constexpr bool follows = true;
};
struct EditPositionCase {
    using E = H::EditPosition;
    using Box = EditPositionComboBox;
    static void store(Config& c, E v) { c.setEditPosition(v); }
    static std::unique_ptr<Box> make(Config& c) { return std::make_unique<Box>(c.getEditPosition()); }
    static constexpr bool follows = false;
};
struct EditOperationCase {
    using E = H::EditOperation;
    using Box = EditOperationComboBox;
    static void store(Config& c, E v) { c.setEditOperation(v); }
    static std::unique_ptr<Box> make(Config& c) {
        return std::make_unique<Box>(c.getEditOperation());
    }
    static constexpr bool follows = false;
};
struct DecimalSeparatorCase {
    using E = H::DecimalSeparator;
    using Box = DecimalSeparatorBox;
    static void store(Config& c, E v) { c.setDecimalSeparator(v); }
    static std::unique_ptr<Box> make(Config& c) { return std::make_unique<Box>(c); }
    static constexpr bool follows = true;
};

template <typename Case>
class OptionComboBoxTest : public ::testing::Test {};

using ComboCases = ::testing::Types<StartWithCase, SoundCase, RoundingMethodCase,
                                    MathOperationCase, EditPositionCase, EditOperationCase,
                                    DecimalSeparatorCase>;
TYPED_TEST_SUITE(OptionComboBoxTest, ComboCases);

TYPED_TEST(OptionComboBoxTest, ListsEveryConstantInDeclaredOrderWithItsLabel) {
    using E = typename TypeParam::E;
    Config config;
    const auto box = TypeParam::make(config);
    const auto& values = Setting<E>::values();
    ASSERT_EQ(box->count(), static_cast<int>(values.size()));
    ASSERT_GE(box->count(), 2);
    for (int i = 0; i < box->count(); ++i) {
        const E value = values.at(static_cast<std::size_t>(i));
        EXPECT_EQ(box->itemText(i), Setting<E>::label(value)) << "item " << i;
        EXPECT_FALSE(box->itemText(i).isEmpty()) << "item " << i;
        EXPECT_EQ(box->itemData(i).toInt(), Setting<E>::position(value)) << "item " << i;
    }
}

TYPED_TEST(OptionComboBoxTest, StartsWithTheStoredValueSelected) {
    using E = typename TypeParam::E;
    for (E value : Setting<E>::values()) {
        Config config;
        TypeParam::store(config, value);
        const auto box = TypeParam::make(config);
        EXPECT_EQ(box->selected(), value) << Setting<E>::name(value).toStdString();
        EXPECT_EQ(box->currentText(), Setting<E>::label(value));
    }
}

TYPED_TEST(OptionComboBoxTest, SelectAndSelectedRoundTrip) {
    using E = typename TypeParam::E;
    Config config;
    const auto box = TypeParam::make(config);
    // Backwards, so that every step moves the selection.
    const auto& values = Setting<E>::values();
    for (auto it = values.rbegin(); it != values.rend(); ++it) {
        box->select(*it);
        EXPECT_EQ(box->selected(), *it) << Setting<E>::name(*it).toStdString();
        EXPECT_EQ(box->currentIndex(), Setting<E>::position(*it));
    }
    // No selection at all reads as the type's default.
    box->setCurrentIndex(-1);
    EXPECT_EQ(box->selected(), Setting<E>::getDefault());
}

TYPED_TEST(OptionComboBoxTest, FollowsTheInstrumentTypeOnlyWhenNumeric) {
    using E = typename TypeParam::E;
    Config config;
    const E last = Setting<E>::values().back();
    TypeParam::store(config, last);
    const auto box = TypeParam::make(config);

    config.setInstrument(textInstrument());
    EXPECT_EQ(box->isEnabled(), !TypeParam::follows);
    EXPECT_EQ(box->selected(), last);  // disabling keeps the value

    config.setInstrument(numberInstrument());
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(box->selected(), last);
}

// The five numeric controls of the main window and the others, created as the window does.
struct Page {
    explicit Page(Config& config)
        : roundingMethodBox(new RoundingMethodBox(H::RoundingMethod::FLOOR, &config, &root)),
          mathOperationBox(new MathOperationBox(H::MathOperation::DIVIDE, &config, &root)),
          mathOperandTextField(new OptionTextField("2.5", &config, &root)),
          decimalTextField(new OptionTextField("3", &config, &root)),
          decimalSeparatorBox(new DecimalSeparatorBox(config, &root)),
          startWithBox(new StartWithBox(H::StartWith::F5, nullptr, &root)),
          soundComboBox(new SoundComboBox(H::Sound::COWBELL, nullptr, &root)),
          editPositionComboBox(new EditPositionComboBox(H::EditPosition::LAST, nullptr, &root)),
          editOperationComboBox(new EditOperationComboBox(H::EditOperation::KEEP, nullptr, &root)),
          editNumCharactersTextField(new OptionTextField("4", nullptr, &root)),
          ignoreDuplicatesCheckBox(new OptionCheckBox("dup", true, &root)),
          customizeButton(new OptionButton("customize", &root)),
          autoConnectButton(new AutoConnectButton("auto", config, &root)) {}

    std::vector<QWidget*> followers() const {
        return {roundingMethodBox, mathOperationBox, mathOperandTextField, decimalTextField,
                decimalSeparatorBox};
    }
    std::vector<QWidget*> others() const {
        return {startWithBox,          soundComboBox,   editPositionComboBox,
                editOperationComboBox, editNumCharactersTextField, ignoreDuplicatesCheckBox,
                customizeButton,       autoConnectButton};
    }

    void expectValuesKept() const {
        EXPECT_EQ(roundingMethodBox->selected(), H::RoundingMethod::FLOOR);
        EXPECT_EQ(mathOperationBox->selected(), H::MathOperation::DIVIDE);
        EXPECT_EQ(mathOperandTextField->text(), "2.5");
        EXPECT_EQ(decimalTextField->text(), "3");
        EXPECT_EQ(decimalSeparatorBox->selected(), H::DecimalSeparator::COMMA);
        EXPECT_EQ(startWithBox->selected(), H::StartWith::F5);
        EXPECT_EQ(editNumCharactersTextField->text(), "4");
        EXPECT_TRUE(ignoreDuplicatesCheckBox->isChecked());
    }

    QWidget root;
    RoundingMethodBox* roundingMethodBox;
    MathOperationBox* mathOperationBox;
    OptionTextField* mathOperandTextField;
    OptionTextField* decimalTextField;
    DecimalSeparatorBox* decimalSeparatorBox;
    StartWithBox* startWithBox;
    SoundComboBox* soundComboBox;
    EditPositionComboBox* editPositionComboBox;
    EditOperationComboBox* editOperationComboBox;
    OptionTextField* editNumCharactersTextField;
    OptionCheckBox* ignoreDuplicatesCheckBox;
    OptionButton* customizeButton;
    AutoConnectButton* autoConnectButton;
};

TEST(OptionWidgetsInstrumentType, TextInstrumentDisablesExactlyTheNumericControls) {
    Config config;
    config.setDecimalSeparator(H::DecimalSeparator::COMMA);
    Page page(config);
    for (QWidget* w : page.followers()) ASSERT_TRUE(w->isEnabled());

    config.setInstrument(textInstrument());
    for (QWidget* w : page.followers()) EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    for (QWidget* w : page.others()) EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
    page.expectValuesKept();

    // Still text: nothing changes back on its own.
    config.setInstrument(textInstrument());
    for (QWidget* w : page.followers()) EXPECT_FALSE(w->isEnabled());

    config.setInstrument(numberInstrument());
    for (QWidget* w : page.followers()) EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
    page.expectValuesKept();
}

TEST(OptionWidgetsInstrumentType, NonFollowersKeepTheirOwnEnabledState) {
    Config config;
    Page page(config);
    for (QWidget* w : page.others()) w->setEnabled(false);

    config.setInstrument(numberInstrument());
    for (QWidget* w : page.others()) EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    config.setInstrument(textInstrument());
    for (QWidget* w : page.others()) EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
}

TEST(OptionWidgetsInstrumentType, ClearingTheInstrumentChangesNothing) {
    Config config;
    Page page(config);
    config.setInstrument(textInstrument());
    config.setInstrument(std::nullopt);
    for (QWidget* w : page.followers()) EXPECT_FALSE(w->isEnabled());
}

TEST(OptionWidgetsLifetime, WidgetDestroyedBeforeTheConfig) {
    Config config;
    auto gone = std::make_unique<OptionTextField>("1", &config);
    OptionTextField survivor("2", &config);
    {
        // Destroyed together with its parent.
        QWidget parent;
        new RoundingMethodBox(H::RoundingMethod::UP, &config, &parent);
    }
    gone.reset();

    config.setInstrument(textInstrument());
    EXPECT_FALSE(survivor.isEnabled());
    config.setInstrument(numberInstrument());
    EXPECT_TRUE(survivor.isEnabled());
}

TEST(OptionWidgetsLifetime, ConfigDestroyedBeforeTheWidget) {
    auto config = std::make_unique<Config>();
    config->setDecimalSeparator(H::DecimalSeparator::COMMA);
    DecimalSeparatorBox box(*config);
    OptionTextField field("7", config.get());
    config->setInstrument(textInstrument());
    config.reset();

    EXPECT_FALSE(box.isEnabled());
    EXPECT_EQ(box.selected(), H::DecimalSeparator::COMMA);
    box.setEnabled(true);
    box.select(H::DecimalSeparator::DOT);
    EXPECT_EQ(box.selected(), H::DecimalSeparator::DOT);
    EXPECT_EQ(field.text(), "7");
}

TEST(OptionWidgetsLifetime, MovedConfigStillTellsItsWidgets) {
    Config original;
    OptionTextField field("5", &original);
    Config moved(std::move(original));
    moved.setInstrument(textInstrument());
    EXPECT_FALSE(field.isEnabled());
    // A copy carries no listeners.
    Config copy(moved);
    copy.setInstrument(numberInstrument());
    EXPECT_FALSE(field.isEnabled());
}

TEST(OptionWidgetsInitialValues, StartFromTheStoredValues) {
    Config config;
    EXPECT_EQ(OptionTextField("12,5").text(), "12,5");
    EXPECT_TRUE(OptionTextField("").text().isEmpty());

    OptionCheckBox on("tray", true);
    OptionCheckBox off("updates", false);
    EXPECT_TRUE(on.isChecked());
    EXPECT_FALSE(off.isChecked());
    EXPECT_EQ(on.text(), "tray");

    EXPECT_EQ(OptionButton("Export").text(), "Export");

    config.setConnect(H::Connect::MANUAL);
    EXPECT_FALSE(AutoConnectButton("auto", config).isChecked());
    config.setConnect(H::Connect::AUTO);
    AutoConnectButton autoButton("auto", config);
    EXPECT_TRUE(autoButton.isChecked());
    EXPECT_EQ(autoButton.text(), "auto");
}

// The window's icon set is embedded at the sizes the window asks for.
TEST(ApplicationIcon, EverySizeIsEmbeddedAtItsOwnSize) {
    for (int size : {16, 20, 24, 32}) {
        const QString path = QString(":/tolvane%1.png").arg(size);
        const QImage image(path);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size)) << path.toStdString();
        // Rounded corners on a transparent ground, a solid middle.
        EXPECT_LT(qAlpha(image.pixel(0, 0)), 128) << path.toStdString();
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << path.toStdString();
    }
}

}  // namespace
}  // namespace quorvel
