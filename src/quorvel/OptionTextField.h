#pragma once

#include <QLineEdit>

namespace quorvel {
namespace config {
class Config;
}

// A setting's text field, starting with the stored text. The main window's validators are
// attached to it separately.
class OptionTextField : public QLineEdit {
    Q_OBJECT
public:
    // `follow`: enabled only while the instrument delivers numbers.
    explicit OptionTextField(const QString& initial, config::Config* follow = nullptr,
                             QWidget* parent = nullptr);
};

}  // namespace quorvel
