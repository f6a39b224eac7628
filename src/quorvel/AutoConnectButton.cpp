#include "quorvel/AutoConnectButton.h"

#include "quorvel/config/Config.h"

namespace quorvel {

AutoConnectButton::AutoConnectButton(const QString& text, const config::Config& config,
                                     QWidget* parent)
    : QRadioButton(text, parent) {
    setChecked(config.getConnect() == config::ConfigHelper::Connect::AUTO);
}

}  // namespace quorvel
