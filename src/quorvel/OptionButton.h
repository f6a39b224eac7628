#pragma once

#include <QPushButton>

namespace quorvel {

// A push button of a settings page.
class OptionButton : public QPushButton {
    Q_OBJECT
public:
    explicit OptionButton(const QString& text, QWidget* parent = nullptr);
};

}  // namespace quorvel
