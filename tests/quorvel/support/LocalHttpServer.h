#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace quorvel::test {

// A local HTTP server that answers each request with a fixed reply, slowly, or never at all.
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
    // Sends each answer's head at once and then its body one byte per `intervalMs`, as a
    // server on a bad line might.
    void trickle(int intervalMs) { trickleMs_ = intervalMs; }

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
            const QByteArray reply = replies_.at(std::min(requests_.size(), replies_.size()) - 1);
            if (trickleMs_ > 0) {
                sendSlowly(socket, reply);
                return;
            }
            socket->write(reply);
            socket->disconnectFromHost();
        });
    }

    void sendSlowly(QTcpSocket* socket, const QByteArray& reply) {
        auto* timer = new QTimer(socket);
        const qsizetype head = reply.indexOf("\r\n\r\n");
        auto sent = std::make_shared<qsizetype>(head < 0 ? 0 : head + 4);
        socket->write(reply.left(*sent));
        QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, reply, sent] {
            if (*sent >= reply.size()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(reply.mid((*sent)++, 1));
        });
        timer->start(trickleMs_);
    }

    QTcpServer server_;
    QList<QByteArray> replies_;
    QList<QByteArray> requests_;
    bool stalled_ = false;
    int trickleMs_ = 0;
};

}  // namespace quorvel::test
