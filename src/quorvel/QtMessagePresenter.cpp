#include "quorvel/QtMessagePresenter.h"

#include <QMessageBox>

namespace quorvel {

void QtMessagePresenter::error(QWidget* parent, const QString& title, const QString& message) {
    QMessageBox::critical(parent, title, message);
}

void QtMessagePresenter::warning(QWidget* parent, const QString& title, const QString& message) {
    QMessageBox::warning(parent, title, message);
}

void QtMessagePresenter::information(QWidget* parent, const QString& title,
                                     const QString& message) {
    QMessageBox::information(parent, title, message);
}

bool QtMessagePresenter::askYesNo(QWidget* parent, const QString& title,
                                  const QString& question) {
    // Closing the box counts as "no".
    return QMessageBox::question(parent, title, question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool QtMessagePresenter::askOkCancel(QWidget* parent, const QString& title,
                                     const QString& question) {
    return QMessageBox::question(parent, title, question, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

}  // namespace quorvel
