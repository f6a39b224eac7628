#include "quorvel/OptionWidget.h"

#include <QPointer>
#include <QWidget>

#include "quorvel/config/Config.h"

namespace quorvel {

void followInstrumentType(QWidget* widget, config::Config& config) {
    using Type = config::ConfigHelper::InstrumentType;
    // The listener stays with the Config, which may outlive the widget: the guard turns
    // into null when the widget goes, and a Config that goes first simply takes it along.
    QPointer<QWidget> guard(widget);
    config.addPropertyChangeListener(
        [guard](const QString& property, std::optional<config::ConfigHelper::Instrument>,
                std::optional<config::ConfigHelper::Instrument>) {
            if (guard.isNull()) {
                return;
            }
            if (property == config::Setting<Type>::name(Type::NUMBER)) {
                guard->setEnabled(true);
            } else if (property == config::Setting<Type>::name(Type::TEXT)) {
                guard->setEnabled(false);
            }
        });
}

}  // namespace quorvel
