#pragma once

#include "quorvel/MessagePresenter.h"

namespace quorvel {

// Modal QMessageBox boxes.
class QtMessagePresenter : public MessagePresenter {
public:
    void error(QWidget* parent, const QString& title, const QString& message) override;
    void warning(QWidget* parent, const QString& title, const QString& message) override;
    void information(QWidget* parent, const QString& title, const QString& message) override;
    bool askYesNo(QWidget* parent, const QString& title, const QString& question) override;
    bool askOkCancel(QWidget* parent, const QString& title, const QString& question) override;
    // QFileDialog, XML files first.
    QString chooseSaveFile(QWidget* parent, const QString& proposedName) override;
    QString chooseOpenFile(QWidget* parent) override;
};

}  // namespace quorvel
