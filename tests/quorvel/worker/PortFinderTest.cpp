// Finding a device again, with pseudo-terminals as the devices and a by-id folder of our own.
#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <optional>
#include <string>

#include "quorvel/worker/PortFinder.h"
#include "support/Pty.h"

namespace quorvel::worker {
namespace {

namespace fs = std::filesystem;

QString q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

TEST(PortFinderTest, AnAdapterIsFoundByItsByIdLinkAndAnyOtherPortByItsName) {
    testsupport::Pty first;
    testsupport::Pty second;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path root = dir.path().toStdString();
    const fs::path byId = root / "by-id";
    fs::create_directory(byId);
    const fs::path adapter = byId / "usb-FTDI_X-if00-port0";
    fs::create_symlink("/nonexistent/ttyUSB9", byId / "usb-A_gone-if00-port0");
    fs::create_symlink(first.slavePath(), adapter);
    const fs::path alias = root / "scale";
    fs::create_symlink(first.slavePath(), alias);
    const std::string pts = first.slavePath().substr(std::string("/dev/").size());

    // By its own name, through a link of the user's, or bare as the serial library takes it.
    for (const QString& port :
         {QString::fromStdString(first.slavePath()), q(alias), QString::fromStdString(pts)}) {
        SCOPED_TRACE(port.toStdString());
        PortFinder finder(port, q(byId));
        EXPECT_EQ(finder.byIdLink(), q(adapter));
        EXPECT_EQ(finder.whereNow(), QString::fromStdString(first.slavePath()));
    }

    PortFinder adapterFinder(QString::fromStdString(first.slavePath()), q(byId));
    // Unplugged: away, even though the old name is still there (another device may take it).
    fs::remove(adapter);
    EXPECT_EQ(adapterFinder.whereNow(), std::nullopt);
    // Back under another name.
    fs::create_symlink(second.slavePath(), adapter);
    EXPECT_EQ(adapterFinder.whereNow(), QString::fromStdString(second.slavePath()));

    // Without a by-id link: the port's own name, as long as it exists.
    PortFinder plain(q(alias), q(root / "no-such-folder"));
    EXPECT_TRUE(plain.byIdLink().isEmpty());
    EXPECT_EQ(plain.whereNow(), q(alias));
    fs::remove(alias);
    EXPECT_EQ(plain.whereNow(), std::nullopt);

    // A network name has no node and no link: it is answered as it is, every time.
    for (const char* name : {"tcp://10.0.0.5:4001", "RFC2217://[::1]:2217", "tcp://no-port"}) {
        SCOPED_TRACE(name);
        PortFinder network(QString::fromLatin1(name), q(byId));
        EXPECT_TRUE(network.byIdLink().isEmpty());
        EXPECT_EQ(network.whereNow(), QString::fromLatin1(name));
        EXPECT_EQ(network.whereNow(), QString::fromLatin1(name));
    }
}

}  // namespace
}  // namespace quorvel::worker
