#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/support/LocalHttpServer.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/util/ReadRemoteUpdate.h"
#include "quorvel/util/UpdateWorker.h"
#include "serialkit/IOException.h"
#include "serialkit/SystemProperties.h"

using quorvel::test::LocalHttpServer;
using quorvel::util::Bundle;
using quorvel::util::FetchLimits;
using quorvel::util::ReadRemoteUpdate;
using quorvel::util::UpdateWorker;
using quorvel::util::UpdateWorkerView;

namespace {

const QString kCurrent = QStringLiteral("2017.1.0.2");

QString text(const char* key) {
    return Bundle::tolvane().getString(QString::fromLatin1(key));
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QByteArray httpAnswer(const QByteArray& body, const QByteArray& status = "200 OK") {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray versionDocument(const QByteArray& version) {
    return "<?xml version=\"1.0\"?>\n<tolvane>\n  <version2>" + version +
           "</version2>\n  <date>20180301</date>\n</tolvane>\n";
}

class RecordingUpdateView : public UpdateWorkerView {
public:
    void setStatus(const QString& status) override {
        statuses.push_back(status);
        threads.push_back(std::this_thread::get_id());
    }
    QStringList statuses;
    std::vector<std::thread::id> threads;
};

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.port() != 0);
        // The notice links to the update server's page, here the test's own.
        serialkit::SystemProperties::set(UpdateWorker::kServerProperty,
                                         server.base().toStdString());
        newer = Bundle::tolvane().format("update.available", {server.base() + "/"});
    }
    void TearDown() override { serialkit::SystemProperties::clear(UpdateWorker::kServerProperty); }

    // Runs one check against `url` to its completion.
    std::unique_ptr<UpdateWorker> check(const QString& url, const QString& current = kCurrent,
                                        FetchLimits limits = {}) {
        auto worker = std::make_unique<UpdateWorker>(view, url, current, limits);
        worker->start();
        EXPECT_TRUE(waitUntil([&] { return worker->isDone(); }));
        // The status line is touched only on the user-interface thread.
        for (const auto& thread : view.threads)
            EXPECT_EQ(thread, std::this_thread::get_id());
        return worker;
    }

    LocalHttpServer server;
    RecordingUpdateView view;
    QString newer;
};

}  // namespace

TEST(CompareVersionsTest, NumericPartsDecideFromLeftToRight) {
    EXPECT_TRUE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2017.1.0.10"));
    EXPECT_TRUE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2018.0.0.0"));
    EXPECT_TRUE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2017.2.0.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2016.9.9.9"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.10", "2017.1.0.9"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2017.1.0.2"));
    // Only the parts both have are compared.
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2017.1.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0", "2017.1.0.5"));
}

TEST(CompareVersionsTest, FewPointsAndUnreadableTexts) {
    // A remote with at most one point is compared as one decimal number.
    EXPECT_TRUE(ReadRemoteUpdate::compareVersions("2017.1", "2017.2"));
    EXPECT_TRUE(ReadRemoteUpdate::compareVersions("9", "10"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.5", "2017.10"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1", "2017.10"));  // the same number
    // ...so a current version with more points cannot be read that way.
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2018"));
    // A current version with at most one point is older than any dotted remote one.
    EXPECT_TRUE(ReadRemoteUpdate::compareVersions("2017.1", "2010.1.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("", "2017.1.0.2"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", ""));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions(QString(), "2018.1.0.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2018.x.0.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", "2018..0.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1.0.2", " 2018.1.0.0"));
    EXPECT_FALSE(ReadRemoteUpdate::compareVersions("2017.1", "abc"));
}

TEST(FindXMLTest, TextBetweenTheFirstTags) {
    EXPECT_EQ(ReadRemoteUpdate::findXML("before <version2>2018.1.0.0</version2> after", "version2"),
              "2018.1.0.0");
    EXPECT_EQ(ReadRemoteUpdate::findXML("<date>20180301</date><date>1</date>", "date"), "20180301");
    EXPECT_EQ(ReadRemoteUpdate::findXML("<version2></version2>", "version2"), "");
    EXPECT_EQ(ReadRemoteUpdate::findXML("<version2>2018.1.0.0", "version2"), "");
    EXPECT_EQ(ReadRemoteUpdate::findXML("2018.1.0.0</version2>", "version2"), "");
    EXPECT_EQ(ReadRemoteUpdate::findXML("</version2>x<version2>2018</version2>", "version2"), "");
    EXPECT_EQ(ReadRemoteUpdate::findXML("<version>2018.1.0.0</version>", "version2"), "");
    EXPECT_EQ(ReadRemoteUpdate::findXML("", "date"), "");
}

TEST(UpdateServerTest, PropertyOverridesTheBuiltInServerAndHttpStaysLocal) {
    serialkit::SystemProperties::remove(UpdateWorker::kServerProperty);
    const QString builtIn = UpdateWorker::defaultUrl();
    const struct {
        const char* server;
        const char* url;
    } cases[] = {
        {"updates.example.org", "https://updates.example.org/version.xml"},
        {"updates.example.org:8443/", "https://updates.example.org:8443/version.xml"},
        {"https://updates.example.org", "https://updates.example.org/version.xml"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080/version.xml"},
        {"http://localhost:8080", "http://localhost:8080/version.xml"},
        {"http://[::1]:8080", "http://[::1]:8080/version.xml"},
        // Anywhere else plain http is not trusted.
        {"http://updates.example.org", "https://updates.example.org/version.xml"},
        {"http://127.0.0.1.example.org", "https://127.0.0.1.example.org/version.xml"},
    };
    for (const auto& c : cases) {
        serialkit::SystemProperties::set(UpdateWorker::kServerProperty, c.server);
        EXPECT_EQ(UpdateWorker::defaultUrl(), QString::fromLatin1(c.url)) << c.server;
    }
    // An empty property leaves the build's server, which is either none or asked over https.
    serialkit::SystemProperties::set(UpdateWorker::kServerProperty, "");
    EXPECT_EQ(UpdateWorker::defaultUrl(), builtIn);
    EXPECT_TRUE(builtIn.isEmpty() || builtIn.startsWith("https://")) << builtIn.toStdString();
    serialkit::SystemProperties::clear(UpdateWorker::kServerProperty);
}

TEST(UpdateServerTest, CheckIsDueOnAboutOneStartInFour) {
    int due = 0;
    constexpr int kStarts = 4000;
    for (int i = 0; i < kStarts; ++i)
        due += UpdateWorker::isCheckDue() ? 1 : 0;
    // Far outside these bounds only with a broken draw (chance of a false alarm below 1e-15).
    EXPECT_GT(due, kStarts * 18 / 100);
    EXPECT_LT(due, kStarts * 32 / 100);
}

TEST_F(UpdateCheckTest, NewerVersionIsReported) {
    server.answer(httpAnswer("text before " + versionDocument("2018.1.0.0") + " text after"));
    const auto worker = check(UpdateWorker::defaultUrl());

    EXPECT_EQ(view.statuses, QStringList({text("checking.for.update"), newer}));
    EXPECT_TRUE(newer.contains("<a href=\"" + server.base() + "/\">")) << newer.toStdString();
    ASSERT_NE(worker->getResult(), nullptr);
    EXPECT_EQ(worker->getResult()->getRemoteVersion(), "2018.1.0.0");
    EXPECT_EQ(worker->getResult()->getRemoteReleaseDate(), "20180301");
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests().front().startsWith("GET /version.xml HTTP/1.1\r\n"));

    // A build and a process that name no server get the notice without a link.
    serialkit::SystemProperties::remove(UpdateWorker::kServerProperty);
    if (UpdateWorker::updateServer().isEmpty()) {
        view.statuses.clear();
        check(server.base() + "/version.xml");
        EXPECT_EQ(view.statuses.last(), text("update.available.no.link"));
    }
}

TEST_F(UpdateCheckTest, SameOrOlderVersionRestoresTheNormalStatus) {
    server.answer(httpAnswer(versionDocument("2017.1.0.2")));
    check(server.base() + "/version.xml");
    EXPECT_EQ(view.statuses,
              QStringList({text("checking.for.update"), text("ZoviziDeZizFrame2.statusJLabel.text")}));

    view.statuses.clear();
    check(server.base() + "/version.xml", "2019.1.0.0");
    EXPECT_EQ(view.statuses.last(), text("ZoviziDeZizFrame2.statusJLabel.text"));

    // No version element at all: nothing to report either.
    LocalHttpServer other;
    other.answer(httpAnswer("<html>maintenance</html>"));
    view.statuses.clear();
    const auto worker = check(other.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), text("ZoviziDeZizFrame2.statusJLabel.text"));
    ASSERT_NE(worker->getResult(), nullptr);
    EXPECT_EQ(worker->getResult()->getRemoteVersion(), "");
}

TEST_F(UpdateCheckTest, SilentServerFailsAfterTheReadTimeout) {
    server.stall();
    QElapsedTimer clock;
    clock.start();
    const auto worker = check(server.base() + "/version.xml");
    const qint64 elapsed = clock.elapsed();

    EXPECT_EQ(view.statuses, QStringList({text("checking.for.update"), text("update.check.failed")}));
    EXPECT_EQ(worker->getResult(), nullptr);
    EXPECT_GE(elapsed, 4000);
    EXPECT_LT(elapsed, 10000);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(UpdateCheckTest, TricklingServerFailsAfterTheOverallLimit) {
    // A byte every 100 ms keeps the read time-out from ever passing; the answer would take 15 s.
    server.answer(httpAnswer(versionDocument("2018.1.0.0")));
    server.trickle(100);
    QElapsedTimer clock;
    clock.start();
    const auto worker =
        check(server.base() + "/version.xml", kCurrent, FetchLimits{1000, 400, 1500});
    const qint64 elapsed = clock.elapsed();

    EXPECT_EQ(view.statuses, QStringList({text("checking.for.update"), text("update.check.failed")}));
    EXPECT_EQ(worker->getResult(), nullptr);
    EXPECT_GE(elapsed, 1400);
    EXPECT_LT(elapsed, 5000);
}

TEST_F(UpdateCheckTest, TimeoutIsTheFailureText) {
    server.stall();
    try {
        const ReadRemoteUpdate fetched(server.base() + "/version.xml", kCurrent);
        FAIL() << "a silent server must fail the fetch";
    } catch (const serialkit::IOException& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
}

TEST_F(UpdateCheckTest, OversizedAnswersFailCleanly) {
    // Announced by its length...
    const QByteArray big = versionDocument("2018.1.0.0") + QByteArray(200 * 1024, 'x');
    server.answer(httpAnswer(big));
    check(server.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), text("update.check.failed"));

    // ...or only noticed while reading, with no length given.
    LocalHttpServer flood;
    flood.answer("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big);
    view.statuses.clear();
    const auto worker = check(flood.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), text("update.check.failed"));
    EXPECT_EQ(worker->getResult(), nullptr);

    // Just at the limit is still read.
    LocalHttpServer edge;
    QByteArray full = versionDocument("2018.1.0.0");
    full += QByteArray(ReadRemoteUpdate::kMaxContentBytes - full.size(), ' ');
    edge.answer(httpAnswer(full));
    view.statuses.clear();
    check(edge.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), newer);
}

TEST_F(UpdateCheckTest, ErrorsAndUnreachableServersFail) {
    server.answer(httpAnswer("not here", "404 Not Found"));
    check(server.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), text("update.check.failed"));

    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    view.statuses.clear();
    check(QStringLiteral("http://127.0.0.1:%1/version.xml").arg(closedPort));
    EXPECT_EQ(view.statuses.last(), text("update.check.failed"));

    view.statuses.clear();
    check("ftp://127.0.0.1/version.xml");
    EXPECT_EQ(view.statuses.last(), text("update.check.failed"));
}

TEST_F(UpdateCheckTest, RedirectsMustKeepTheScheme) {
    server.answer("HTTP/1.1 302 Found\r\nLocation: /moved/version.xml\r\nContent-Length: 0\r\n"
                  "Connection: close\r\n\r\n");
    server.answer(httpAnswer(versionDocument("2018.1.0.0")));
    check(server.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), newer);
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(server.requests().at(1).startsWith("GET /moved/version.xml "));

    LocalHttpServer other;
    other.answer(QStringLiteral("HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:%1/version.xml\r\n"
                                "Content-Length: 0\r\nConnection: close\r\n\r\n")
                     .arg(other.port())
                     .toLatin1());
    view.statuses.clear();
    const auto worker = check(other.base() + "/version.xml");
    EXPECT_EQ(view.statuses.last(), text("update.check.failed"));
    EXPECT_EQ(worker->getResult(), nullptr);
    EXPECT_EQ(other.requests().size(), 1);
    // Refused by the check itself, not by a TLS hand-shake failing against a plain server.
    try {
        ReadRemoteUpdate::readURLContent(other.base() + "/version.xml");
        ADD_FAILURE() << "a redirect to https was followed";
    } catch (const serialkit::IOException& e) {
        EXPECT_THAT(std::string(e.what()),
                    ::testing::StartsWith("Redirect to another scheme refused"));
    }
}

TEST_F(UpdateCheckTest, CancelEndsARunningCheckWithoutAReport) {
    server.stall();
    auto worker = std::make_unique<UpdateWorker>(view, server.base() + "/version.xml", kCurrent);
    worker->start();
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
    QElapsedTimer clock;
    clock.start();
    worker->cancel();
    ASSERT_TRUE(waitUntil([&] { return worker->isDone(); }));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(worker->getResult(), nullptr);
    EXPECT_FALSE(view.statuses.contains(text("update.check.failed")));

    // Dropping a worker mid-check neither hangs nor reports afterwards.
    view.statuses.clear();
    worker = std::make_unique<UpdateWorker>(view, server.base() + "/version.xml", kCurrent);
    worker->start();
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 2; }));
    clock.restart();
    worker.reset();
    EXPECT_LT(clock.elapsed(), 3000);
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(view.statuses.contains(text("update.check.failed")));
}
