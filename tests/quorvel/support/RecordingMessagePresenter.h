#pragma once

#include <QString>

#include <deque>
#include <vector>

#include "quorvel/MessagePresenter.h"

namespace quorvel::test {

// Records every box and question and answers questions from a script (default: yes / OK),
// so no test ever blocks on a modal box.
class RecordingMessagePresenter : public MessagePresenter {
public:
    enum class Kind { ERROR, WARNING, INFORMATION, YES_NO, OK_CANCEL };
    struct Box {
        Kind kind;
        QString title;
        QString message;
    };

    void error(QWidget*, const QString& title, const QString& message) override {
        boxes.push_back({Kind::ERROR, title, message});
    }
    void warning(QWidget*, const QString& title, const QString& message) override {
        boxes.push_back({Kind::WARNING, title, message});
    }
    void information(QWidget*, const QString& title, const QString& message) override {
        boxes.push_back({Kind::INFORMATION, title, message});
    }
    bool askYesNo(QWidget*, const QString& title, const QString& question) override {
        boxes.push_back({Kind::YES_NO, title, question});
        return nextAnswer();
    }
    bool askOkCancel(QWidget*, const QString& title, const QString& question) override {
        boxes.push_back({Kind::OK_CANCEL, title, question});
        return nextAnswer();
    }

    QString chooseSaveFile(QWidget*, const QString& proposedName) override {
        proposedNames.push_back(proposedName);
        return nextFile();
    }
    QString chooseOpenFile(QWidget*) override { return nextFile(); }

    // Paths for the next file choosers, in order; none left means "cancelled".
    void chooseFile(const QString& path) { files.push_back(path); }
    std::vector<QString> proposedNames;
    std::deque<QString> files;

    // Answers for the next questions, in order.
    void answer(bool yes) { answers.push_back(yes); }

    std::vector<Box> boxes;
    std::deque<bool> answers;

private:
    QString nextFile() {
        if (files.empty()) {
            return QString();
        }
        QString path = files.front();
        files.pop_front();
        return path;
    }
    bool nextAnswer() {
        if (answers.empty()) {
            return true;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
};

}  // namespace quorvel::test
