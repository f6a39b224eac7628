#include "quorvel/DecimalSeparatorBox.h"

namespace quorvel {

DecimalSeparatorBox::DecimalSeparatorBox(config::Config& config, QWidget* parent)
    : OptionComboBox(config.getDecimalSeparator(), &config, parent) {}

}  // namespace quorvel
