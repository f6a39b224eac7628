#include "quorvel/OptionButton.h"

namespace quorvel {

OptionButton::OptionButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

}  // namespace quorvel
