#include "quorvel/OptionCheckBox.h"

namespace quorvel {

OptionCheckBox::OptionCheckBox(const QString& text, bool checked, QWidget* parent)
    : QCheckBox(text, parent) {
    setChecked(checked);
}

}  // namespace quorvel
