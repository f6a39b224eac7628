#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

namespace quorvel::test {

// A local HTTP server that answers each request with a fixed reply, or never answers at all.
class LocalHttpServer {
public:
    LocalHttpServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                serve(socket);
        });
    }

    // The answer for the request of that number (0-based); the last one given answers the rest.
    void answer(QByteArray reply) { replies_.push_back(std::move(reply)); }
    void stall() { stalled_ = true; }

    QString base() const {
        return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
    }
    quint16 port() const { return server_.serverPort(); }
    const QList<QByteArray>& requests() const { return requests_; }

private:
    void serve(QTcpSocket* socket) {
        socket->setParent(&server_);
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (!buffer->contains("\r\n\r\n"))
                return;
            requests_.push_back(*buffer);
            buffer->clear();
            if (stalled_ || replies_.isEmpty())
                return;
            socket->write(replies_.at(std::min(requests_.size(), replies_.size()) - 1));
            socket->disconnectFromHost();
        });
    }

    QTcpServer server_;
    QList<QByteArray> replies_;
    QList<QByteArray> requests_;
    bool stalled_ = false;
};

}  // namespace quorvel::test
