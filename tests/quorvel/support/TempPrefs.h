#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "quorvel/prefs/FilePreferencesFactory.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::support {

// Reads and writes whole files for tests; these need no preferences code, so every test
// executable can use them.
QByteArray readWholeFile(const QString& path);
void writeWholeFile(const QString& path, const QByteArray& bytes);

// A temporary folder holding the preferences file for one test. While it lives, the factory
// resolves to `file()` and the store's messages are collected in `messages()`; destruction
// restores the property, the logger and the factory. The factory is only touched in this
// header, so test executables without the preferences library can still link the support code.
class TempPrefs {
  public:
    explicit TempPrefs(const QString& fileName = QStringLiteral("prefs.txt"))
        : file_(dir_.filePath(fileName)),
          previous_(serialkit::SystemProperties::get(property())),
          messages_(std::make_shared<Messages>()) {
        if (!dir_.isValid()) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        serialkit::SystemProperties::set(property(), file_.toStdString());
        prefs::FilePreferencesFactory::resetForTesting();
        std::weak_ptr<Messages> sink = messages_;
        prefs::FilePreferencesFactory::setLogger([sink](const QString& line) {
            if (auto m = sink.lock()) {
                std::lock_guard<std::mutex> guard(m->mutex);
                m->lines << line;
            }
        });
    }

    ~TempPrefs() {
        prefs::FilePreferencesFactory::setBeforeReplaceHookForTesting({});
        prefs::FilePreferencesFactory::setWriteFailureForTesting(0);
        prefs::FilePreferencesFactory::resetForTesting();
        prefs::FilePreferencesFactory::setLogger({});
        if (previous_) {
            serialkit::SystemProperties::set(property(), *previous_);
        } else {
            serialkit::SystemProperties::clear(property());
        }
    }

    TempPrefs(const TempPrefs&) = delete;
    TempPrefs& operator=(const TempPrefs&) = delete;

    QString dir() const { return dir_.path(); }
    QString file() const { return file_; }
    QByteArray read() const { return readWholeFile(file_); }
    void write(const QByteArray& bytes) const { writeWholeFile(file_, bytes); }

    // Everything the store logged since construction (or the last clearMessages).
    QStringList messages() const {
        std::lock_guard<std::mutex> guard(messages_->mutex);
        return messages_->lines;
    }
    void clearMessages() {
        std::lock_guard<std::mutex> guard(messages_->mutex);
        messages_->lines.clear();
    }

  private:
    struct Messages {
        std::mutex mutex;
        QStringList lines;
    };
    static std::string property() { return prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE; }

    QTemporaryDir dir_;
    QString file_;
    std::optional<std::string> previous_;
    std::shared_ptr<Messages> messages_;
};

}  // namespace quorvel::support
