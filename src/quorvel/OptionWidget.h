#pragma once

class QWidget;

namespace quorvel {
namespace config {
class Config;
}

// Enables `widget` while the selected instrument delivers numbers ("NUMBER") and disables it
// while it delivers text ("TEXT"), following `config`'s change notification; the value stays.
// Safe whichever of the two is destroyed first.
void followInstrumentType(QWidget* widget, config::Config& config);

}  // namespace quorvel
