#include "quorvel/QtMessagePresenter.h"

#include <QDir>
#include <QFileDialog>
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

namespace {

QString settingsFilter() {
    return QStringLiteral("Settings (*.xml);;All files (*)");
}

}  // namespace

QString QtMessagePresenter::chooseSaveFile(QWidget* parent, const QString& proposedName) {
    // The program asks its own overwrite question, after the choice.
    return QFileDialog::getSaveFileName(parent, QString(), QDir::home().filePath(proposedName),
                                        settingsFilter(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtMessagePresenter::chooseOpenFile(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QDir::homePath(), settingsFilter());
}

}  // namespace quorvel
