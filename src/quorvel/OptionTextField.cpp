#include "quorvel/OptionTextField.h"

#include "quorvel/OptionWidget.h"

namespace quorvel {

OptionTextField::OptionTextField(const QString& initial, config::Config* follow, QWidget* parent)
    : QLineEdit(initial, parent) {
    if (follow != nullptr) {
        followInstrumentType(this, *follow);
    }
}

}  // namespace quorvel
