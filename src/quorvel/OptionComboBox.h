#pragma once

#include <QComboBox>

#include "quorvel/OptionWidget.h"
#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"

namespace quorvel {

// A combo box of every constant of one setting type, in declared order, showing their labels.
// Item data is the constant's position.
template <typename E>
class OptionComboBox : public QComboBox {
public:
    using S = config::Setting<E>;

    // `follow`: enabled only while `config`'s instrument delivers numbers.
    OptionComboBox(E initial, config::Config* follow = nullptr, QWidget* parent = nullptr)
        : QComboBox(parent) {
        for (E value : S::values()) {
            addItem(S::label(value), S::position(value));
        }
        select(initial);
        if (follow != nullptr) {
            followInstrumentType(this, *follow);
        }
    }

    E selected() const {
        const int index = currentIndex();
        return index < 0 ? S::getDefault() : S::values().at(static_cast<std::size_t>(index));
    }
    void select(E value) { setCurrentIndex(S::position(value)); }
};

// The main window's option boxes; those of numeric settings are created with `follow`.
using StartWithBox = OptionComboBox<config::ConfigHelper::StartWith>;
using SoundComboBox = OptionComboBox<config::ConfigHelper::Sound>;
using RoundingMethodBox = OptionComboBox<config::ConfigHelper::RoundingMethod>;
using MathOperationBox = OptionComboBox<config::ConfigHelper::MathOperation>;
using EditPositionComboBox = OptionComboBox<config::ConfigHelper::EditPosition>;
using EditOperationComboBox = OptionComboBox<config::ConfigHelper::EditOperation>;

}  // namespace quorvel
