#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>

#include "quorvel/worker/ValueRecorder.h"

namespace quorvel::worker {

// Appends one CSV row per line to a file (RFC 4180: quoted where needed, CRLF row ends, UTF-8).
// The file is a lab record: it is only ever appended to, never truncated or rewritten, and each
// row goes to the system before record() returns. Use from one thread.
class CsvValueRecorder : public ValueRecorder {
  public:
    using FailureReport = std::function<void(const QString& reason)>;

    // Opens `path` at once, so that a file that cannot be written is known before the first
    // line. The first failure to open or write is passed to `reportFailure`; after it, every
    // row is tried again without a word.
    CsvValueRecorder(const QString& path, FailureReport reportFailure);

    CsvValueRecorder(const CsvValueRecorder&) = delete;
    CsvValueRecorder& operator=(const CsvValueRecorder&) = delete;

    void record(const Row& row) override;

    // "typed", "repeat", "unstable", "no value", "failed", "not typed".
    static QString outcomeWord(Outcome outcome);
    // 2026-12-09T14:03:07.123+01:00: the offset is written even when it is zero.
    static QString timeText(const QDateTime& instant);

  private:
    // Opens the file when it is not open; writes the header into a new or empty file.
    bool ensureOpen();
    bool writeAll(const QByteArray& bytes);
    // The file has a last byte that is not a line end: a row broken off by an earlier failure.
    bool endsInsideARow() const;
    void fail(const QString& reason);

    QFile file_;
    FailureReport reportFailure_;
    bool reported_ = false;
};

}  // namespace quorvel::worker
