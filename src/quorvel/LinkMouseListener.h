#pragma once

#include <QObject>

namespace quorvel {

// Installed on a label: a left click on a link text starts a LinkRunner for its address.
class LinkMouseListener : public QObject {
    Q_OBJECT
public:
    explicit LinkMouseListener(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace quorvel
