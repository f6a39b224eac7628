#pragma once

#include <QString>

class QWidget;

namespace quorvel {

// Every message box and question of the windows goes through here, so that tests can record
// them and answer without a modal box. Titles and messages are display texts.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;

    virtual void error(QWidget* parent, const QString& title, const QString& message) = 0;
    virtual void warning(QWidget* parent, const QString& title, const QString& message) = 0;
    virtual void information(QWidget* parent, const QString& title, const QString& message) = 0;
    // True for "yes" / "OK".
    virtual bool askYesNo(QWidget* parent, const QString& title, const QString& question) = 0;
    virtual bool askOkCancel(QWidget* parent, const QString& title, const QString& question) = 0;
    // File choosers; an empty result means the user cancelled.
    virtual QString chooseSaveFile(QWidget* parent, const QString& proposedName) = 0;
    virtual QString chooseOpenFile(QWidget* parent) = 0;
};

}  // namespace quorvel
