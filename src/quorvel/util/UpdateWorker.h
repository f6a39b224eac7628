#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

#include "quorvel/util/FetchLimits.h"
#include "quorvel/util/ReadRemoteUpdate.h"
#include "quorvel/util/UpdateWorkerView.h"

namespace quorvel::util {

// Asks the update server in the background for the newest version and tells the status line.
// Construct, start and destroy on the user-interface thread; the view must outlive the worker.
class UpdateWorker {
public:
    // Overrides the server of the build ("updates.example.org", asked over https); plain http
    // is kept only for this machine, e.g. a local test server ("http://127.0.0.1:8080").
    static constexpr const char* kServerProperty = "UPDATE_SERVER";

    // `limits` are the real ones unless a test wants a quicker end.
    UpdateWorker(UpdateWorkerView& view, QString url, QString currentVersion,
                 FetchLimits limits = {});
    // Cancels a running check and waits for its thread; a pending completion is dropped.
    ~UpdateWorker();
    UpdateWorker(const UpdateWorker&) = delete;
    UpdateWorker& operator=(const UpdateWorker&) = delete;

    // Once; later calls do nothing.
    void start();
    // Any thread. The status line keeps what it shows.
    void cancel();
    // True once the completion has run (user-interface thread).
    bool isDone() const { return done_; }
    // The finished check, or null after a failure, a cancellation or before completion.
    const ReadRemoteUpdate* getResult() const { return done_ ? result_.get() : nullptr; }
    const QString& getUrl() const { return url_; }

    // The server: the process property, else the build setting; empty when neither names one.
    static QString updateServer();
    // "https://" + server + "/version.xml"; a server given with https, or with http on this
    // machine, keeps its scheme. Empty when there is no server: then nothing is checked.
    static QString defaultUrl();
    // The update server's home page ("https://" + server + "/"), where a newer version is to be
    // had; empty when there is no server, and then the notice carries no link.
    static QString downloadPage();
    // True for one start in four, so the server is not asked on every start.
    static bool isCheckDue();

private:
    void run();
    void complete();
    void post(const QString& status);
    // The server's address with its scheme and without a path; empty when there is none.
    static QString serverAddress();

    UpdateWorkerView& view_;
    QString url_;
    QString currentVersion_;
    FetchLimits limits_;
    std::atomic<bool> cancelled_{false};
    bool started_ = false;
    bool done_ = false;
    // Written by the check's thread before it posts the completion, read after that.
    std::unique_ptr<ReadRemoteUpdate> result_;
    std::unique_ptr<QObject> receiver_;
    std::unique_ptr<QThread> thread_;
};

}  // namespace quorvel::util
