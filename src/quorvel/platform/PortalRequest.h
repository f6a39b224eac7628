#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

namespace quorvel::platform {

// One call of a desktop portal method that answers through a Request object's Response
// signal, waited for in a local event loop. Used by the portal outputs and shortcuts alike.
struct PortalAnswer {
    enum class Kind {
        ANSWERED,     // `code` and `results` hold the Response (0 = success, 1 = cancelled)
        CALL_FAILED,  // the method call itself failed; `error` says why
        NO_ANSWER,    // no Response within the time; the request was closed
    };
    Kind kind = Kind::NO_ANSWER;
    unsigned int code = 0;
    QVariantMap results;
    QString error;
};

// Calls `interface`.`method` on the desktop portal with `arguments`, whose last element is the
// options map; a handle token is added to it. Blocks up to `callTimeoutMs` for the call and
// `answerTimeoutMs` for the Response.
PortalAnswer callPortal(const QString& interface, const QString& method, QVariantList arguments,
                        int callTimeoutMs, int answerTimeoutMs);

// A token unique for this connection, for handle and session tokens.
QString portalToken(const char* prefix);

// An object path from a result, which older portals send as a string.
QString portalPath(const QVariant& value);

}  // namespace quorvel::platform
