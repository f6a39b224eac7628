#pragma once

#include <QRadioButton>

namespace quorvel {
namespace config {
class Config;
}

// The "connect automatically" choice, selected when the stored connect mode is AUTO.
class AutoConnectButton : public QRadioButton {
    Q_OBJECT
public:
    AutoConnectButton(const QString& text, const config::Config& config, QWidget* parent = nullptr);
};

}  // namespace quorvel
