#pragma once

#include <QCheckBox>

namespace quorvel {

// A boolean setting, starting with the stored value.
class OptionCheckBox : public QCheckBox {
    Q_OBJECT
public:
    OptionCheckBox(const QString& text, bool checked, QWidget* parent = nullptr);
};

}  // namespace quorvel
