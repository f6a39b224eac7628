#pragma once

#include "quorvel/OptionComboBox.h"

namespace quorvel {

// The decimal separator choice; only meaningful while the instrument delivers numbers.
class DecimalSeparatorBox : public OptionComboBox<config::ConfigHelper::DecimalSeparator> {
public:
    explicit DecimalSeparatorBox(config::Config& config, QWidget* parent = nullptr);
};

}  // namespace quorvel
