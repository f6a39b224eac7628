#include "serialkit/PosixSerial.h"
#include "serialkit/RoutingSerial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "serialkit/ReceiveBuffer.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SystemProperties.h"
#include "serialkit/Termios2.h"
#include "support/Pty.h"

namespace serialkit {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// ReceiveBuffer: the decoding of the driver's error marks and the per-byte error flags.

std::string drain(ReceiveBuffer& rx) {
    std::string out;
    std::uint8_t b = 0;
    while (rx.take(&b, 1) == 1) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

void feed(ReceiveBuffer& rx, const std::string& raw, std::uint8_t kind = ReceiveBuffer::PARITY) {
    rx.append(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size(),
              [kind] { return kind; });
}

TEST(ReceiveBufferTest, DecodesMarksAndDoubledFF) {
    ReceiveBuffer rx;
    feed(rx, std::string("a\xff\xff"
                         "b\xff\x00"
                         "c\xff\x00\x00"
                         "d",
                         11));
    EXPECT_EQ(rx.size(), 6u);
    EXPECT_EQ(drain(rx), std::string("a\xff"
                                     "bc\x00"
                                     "d",
                                     6));
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::PARITY), 1);
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::BREAK), 1);
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::FRAME), 0);
}

TEST(ReceiveBufferTest, ErrorCountsOnlyOnceTheByteIsHandedOutAndClearsOnQuery) {
    ReceiveBuffer rx;
    feed(rx,
         std::string("a\xff\x00"
                     "bc",
                     5),
         ReceiveBuffer::FRAME);
    std::uint8_t b = 0;
    ASSERT_EQ(rx.take(&b, 1), 1u);
    EXPECT_EQ(b, 'a');
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::FRAME), 0) << "the marked byte is still waiting";
    ASSERT_EQ(rx.take(&b, 1), 1u);
    EXPECT_EQ(b, 'b');
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::PARITY), 0);
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::FRAME), 1);
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::FRAME), 0) << "the query clears it";
    ASSERT_EQ(rx.take(&b, 1), 1u);
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::FRAME), 0);
}

TEST(ReceiveBufferTest, KindIsAskedOnlyWhenAMarkedByteCame) {
    ReceiveBuffer rx;
    int asked = 0;
    auto kind = [&asked] {
        ++asked;
        return ReceiveBuffer::FRAME;
    };
    const std::string clean("x\xff\xffy\xff\x00\x00", 7);  // doubled FF and a break only
    rx.append(reinterpret_cast<const std::uint8_t*>(clean.data()), clean.size(), kind);
    EXPECT_EQ(asked, 0);
    const std::string marked("\xff\x00q\xff\x00r", 6);
    rx.append(reinterpret_cast<const std::uint8_t*>(marked.data()), marked.size(), kind);
    EXPECT_EQ(asked, 1);
}

TEST(ReceiveBufferTest, MarkSplitAtEveryPointDecodesTheSame) {
    const std::string raw(
        "A\xff\x00"
        "B\xff\xff"
        "C\xff\x00\x00"
        "D",
        11);
    const std::string want(
        "AB\xff"
        "C\x00"
        "D",
        6);
    for (std::size_t cut = 0; cut <= raw.size(); ++cut) {
        ReceiveBuffer rx;
        feed(rx, raw.substr(0, cut));
        std::string got = drain(rx);
        feed(rx, raw.substr(cut));
        got += drain(rx);
        EXPECT_EQ(got, want) << "cut at " << cut;
        EXPECT_EQ(rx.takeSeen(ReceiveBuffer::PARITY), 1) << "cut at " << cut;
        EXPECT_EQ(rx.takeSeen(ReceiveBuffer::BREAK), 1) << "cut at " << cut;
        EXPECT_FALSE(rx.partialMark());
    }
}

TEST(ReceiveBufferTest, PartialMarkWaitsAndClearForgetsIt) {
    ReceiveBuffer rx;
    feed(rx, "\xff");
    EXPECT_TRUE(rx.empty());
    EXPECT_TRUE(rx.partialMark());
    rx.clear();
    EXPECT_FALSE(rx.partialMark());
    feed(rx, std::string("\x00z", 2));
    EXPECT_EQ(drain(rx), std::string("\x00z", 2)) << "after a flush the NUL is plain data";
    EXPECT_EQ(rx.takeSeen(ReceiveBuffer::PARITY), 0);
}

TEST(ReceiveBufferTest, StrayFFIsKeptWithTheByteAfterIt) {
    ReceiveBuffer rx;
    feed(rx,
         "\xff"
         "A");
    EXPECT_EQ(drain(rx),
              "\xff"
              "A");
}

TEST(ReceiveBufferTest, LongStreamSurvivesCompaction) {
    ReceiveBuffer rx;
    std::string want;
    std::string got;
    for (int round = 0; round < 50; ++round) {
        std::string chunk;
        for (int i = 0; i < 1000; ++i) {
            chunk.push_back(static_cast<char>('a' + (round * 1000 + i) % 26));
        }
        want += chunk;
        feed(rx, chunk);
        std::uint8_t buf[700];
        std::size_t n = rx.take(buf, sizeof buf);  // leave some behind each round
        got.append(reinterpret_cast<char*>(buf), n);
    }
    got += drain(rx);
    EXPECT_EQ(got, want);
}

// ---------------------------------------------------------------------------------------------
// PosixSerial against real pseudo-terminals.

SerialConfig configFor(const std::string& path) {
    return SerialConfig(path);
}

class PosixSerialTest : public ::testing::Test {
  protected:
    // Opens the pty's slave; the handle.
    int open(SerialConfig& cfg) {
        int r = serial.SerOpenPort(cfg);
        EXPECT_EQ(r, NativeSerial::OPEN_OK) << serial.SerLastError(-1);
        return cfg.getPort() - 1;
    }
    int openPty() {
        cfg = configFor(pty.slavePath());
        return open(cfg);
    }

    termios masterTermios() {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.masterFd(), &t), 0);
        return t;
    }

    // Reads n bytes from the port, waiting with SerWaitRx; stops early after `limit`.
    std::string readPort(int h, std::size_t n, std::chrono::milliseconds limit = 10s) {
        std::string out;
        const auto deadline = Clock::now() + limit;
        std::uint8_t buf[1000];
        while (out.size() < n && Clock::now() < deadline) {
            int r = serial.SerGetData(h, buf, sizeof buf);
            if (r < 0) {
                ADD_FAILURE() << "SerGetData failed: " << serial.SerLastError(h);
                break;
            }
            if (r == 0) {
                serial.SerWaitRx(h, 200);
            }
            out.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(r));
        }
        return out;
    }

    testsupport::Pty pty;
    PosixSerial serial;
    SerialConfig cfg;
};

TEST_F(PosixSerialTest, OpenSetsPortNumberAndHandlesAreReused) {
    testsupport::Pty other;
    int h = openPty();
    EXPECT_EQ(h, 0);
    SerialConfig cfg2 = configFor(other.slavePath());
    EXPECT_EQ(open(cfg2), 1);
    EXPECT_EQ(serial.SerClosePort(0), 0);
    EXPECT_EQ(serial.SerClosePort(0), -1) << "already closed";
    SerialConfig again = configFor(pty.slavePath());
    EXPECT_EQ(open(again), 0) << "the free slot is used again";
}

TEST_F(PosixSerialTest, SecondOpenIsRefusedAsInUseUntilClosed) {
    int h = openPty();
    SerialConfig same = configFor(pty.slavePath());
    EXPECT_EQ(serial.SerOpenPort(same), NativeSerial::ERR_IN_USE);

    PosixSerial otherBackend;
    SerialConfig fromOther = configFor(pty.slavePath());
    EXPECT_EQ(otherBackend.SerOpenPort(fromOther), NativeSerial::ERR_IN_USE);

    ASSERT_EQ(serial.SerClosePort(h), 0);
    EXPECT_EQ(otherBackend.SerOpenPort(fromOther), NativeSerial::OPEN_OK);
}

// The result of SerOpenPort(path) in a child process to which TIOCEXCL applies, that is,
// one that does not run as root; 98 when the child cannot drop root.
int openFromOrdinaryUser(const std::string& path) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) {
            ::_exit(98);
        }
        PosixSerial other;
        SerialConfig c(path);
        int r = other.SerOpenPort(c);
        if (r == NativeSerial::OPEN_OK) {
            other.SerClosePort(c.getPort() - 1);  // leaves the line as it found it
        }
        ::_exit(r == NativeSerial::OPEN_OK ? 0 : r >= 1000 && r < 1010 ? r - 1000 : 99);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    int code = WEXITSTATUS(status);
    return code == 0 || code >= 90 ? code : code + 1000;
}

TEST_F(PosixSerialTest, ExclusiveDeviceIsInUseForOtherUsersButPlainBusyWithoutALock) {
    fs::permissions(
        pty.slavePath(),
        fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    int h = openPty();
    int r = openFromOrdinaryUser(pty.slavePath());
    if (r == 98) {
        GTEST_SKIP() << "cannot drop root here";
    }
    EXPECT_EQ(r, NativeSerial::ERR_IN_USE) << "our port holds flock and TIOCEXCL";
    ASSERT_EQ(serial.SerClosePort(h), 0);
    // The far end stays open, so the tty lives on: our close must not leave it exclusive.
    EXPECT_EQ(openFromOrdinaryUser(pty.slavePath()), NativeSerial::OPEN_OK);

    // Some other program made the line exclusive without taking a lock.
    int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    EXPECT_EQ(openFromOrdinaryUser(pty.slavePath()), NativeSerial::ERR_BUSY);
    ::ioctl(fd, TIOCNXCL);
    EXPECT_EQ(openFromOrdinaryUser(pty.slavePath()), NativeSerial::OPEN_OK);
    ::close(fd);
}

TEST_F(PosixSerialTest, OpenFailuresMapToTheirCodes) {
    SerialConfig missing("/dev/no-such-serial-port-here");
    EXPECT_EQ(serial.SerOpenPort(missing), NativeSerial::ERR_NO_SUCH_DEVICE);
    EXPECT_EQ(serial.SerLastError(-1), "No such file or directory");

    SerialConfig null("/dev/null");
    EXPECT_EQ(serial.SerOpenPort(null), NativeSerial::ERR_NOT_VALID);

    fs::path file = fs::temp_directory_path() / ("posixserial-plain-" + std::to_string(::getpid()));
    std::ofstream(file) << "not a terminal";
    SerialConfig regular(file.string());
    EXPECT_EQ(serial.SerOpenPort(regular), NativeSerial::ERR_NOT_VALID);
    fs::remove(file);

    SerialConfig dir("/tmp");
    EXPECT_EQ(serial.SerOpenPort(dir), NativeSerial::ERR_NOT_VALID);
}

TEST_F(PosixSerialTest, BareNameAndBaseNamePlusNumberFindTheDevice) {
    std::string path = pty.slavePath();  // /dev/pts/N
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u);
    std::string number = path.substr(std::string("/dev/pts/").size());

    SerialConfig bare("pts/" + number);
    EXPECT_EQ(open(bare), 0);
    serial.SerClosePort(0);

    SerialConfig byNumber(std::stoi(number));
    byNumber.setBaseName("/dev/pts/");
    EXPECT_EQ(open(byNumber), 0);
}

TEST_F(PosixSerialTest, BytesWrittenBeforeOpenAreReadAfterwards) {
    pty.write("early");
    int h = openPty();
    EXPECT_EQ(readPort(h, 5, 3s), "early");
}

TEST_F(PosixSerialTest, ConfigureEveryLineSettingAndReadItBack) {
    openPty();
    // A pseudo-terminal keeps PARODD, CMSPAR, CSTOPB, the rate and the input flags, but forces
    // eight data bits and no parity, so those two are checked only for success.
    for (int parity = 0; parity <= 4; ++parity) {
        for (int data = 0; data <= 3; ++data) {
            for (int stop = 0; stop <= 1; ++stop) {
                SCOPED_TRACE(testing::Message()
                             << "parity " << parity << " data " << data << " stop " << stop);
                cfg.setParity(parity);
                cfg.setDataBits(data);
                cfg.setStopBits(stop);
                cfg.setBitRate(SerialConfig::BR_19200);
                ASSERT_EQ(serial.SerConfigure(cfg), 0) << serial.SerLastError(0);
                termios t = masterTermios();
                bool odd = parity == SerialConfig::PY_ODD || parity == SerialConfig::PY_MARK;
                bool sticky = parity == SerialConfig::PY_MARK || parity == SerialConfig::PY_SPACE;
                EXPECT_EQ((t.c_cflag & PARODD) != 0, odd);
                EXPECT_EQ((t.c_cflag & CMSPAR) != 0, sticky);
                EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop == 1);
                EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
                EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
                EXPECT_TRUE(t.c_iflag & INPCK);
                EXPECT_TRUE(t.c_iflag & PARMRK);
                EXPECT_FALSE(t.c_iflag & (IGNPAR | ISTRIP | ICRNL | IGNBRK | BRKINT));
                EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
                EXPECT_FALSE(t.c_oflag & OPOST);
                EXPECT_TRUE(t.c_cflag & CLOCAL);
                EXPECT_TRUE(t.c_cflag & CREAD);
                EXPECT_EQ(t.c_cc[VMIN], 1);
            }
        }
    }
}

TEST_F(PosixSerialTest, ConfigureBitRates) {
    openPty();
    const std::pair<int, speed_t> rates[] = {
        {SerialConfig::BR_110, B110},
        {SerialConfig::BR_9600, B9600},
        {SerialConfig::BR_115200, B115200},
        {SerialConfig::BR_921600, B921600},
        {57600, B57600},  // a literal rate that is also a standard one
    };
    for (const auto& [rate, speed] : rates) {
        cfg.setBitRate(rate);
        ASSERT_EQ(serial.SerConfigure(cfg), 0) << rate;
        termios t = masterTermios();
        EXPECT_EQ(cfgetospeed(&t), speed) << rate;
    }

    cfg.setBitRate(250000);  // not a B constant: goes through termios2
    ASSERT_EQ(serial.SerConfigure(cfg), 0) << serial.SerLastError(0);
    Termios2 t2{};
    ASSERT_EQ(::ioctl(pty.masterFd(), kGetTermios2, &t2), 0);
    EXPECT_EQ(t2.c_ospeed, 250000u);
    EXPECT_EQ(t2.c_ispeed, 250000u);

    cfg.setBitRate(20);  // neither an index nor a literal rate
    EXPECT_NE(serial.SerConfigure(cfg), 0);
}

TEST_F(PosixSerialTest, ConfigureHandshakes) {
    openPty();
    struct Case {
        int handshake;
        bool crtscts;
        bool ixon;
        bool ixoff;
    };
    const Case cases[] = {
        {SerialConfig::HS_NONE, false, false, false},
        {SerialConfig::HS_XONXOFF, false, true, true},
        {SerialConfig::HS_CTSRTS, true, false, false},
        {SerialConfig::HS_HARD_IN, true, false, false},
        {SerialConfig::HS_HARD_OUT, true, false, false},
        {SerialConfig::HS_SOFT_IN, false, false, true},
        {SerialConfig::HS_SOFT_OUT, false, true, false},
        {SerialConfig::HS_HARD_IN | SerialConfig::HS_SOFT_OUT, true, true, false},
        {SerialConfig::HS_NONE, false, false, false},  // and everything off again
    };
    for (const Case& c : cases) {
        cfg.setHandshake(c.handshake);
        ASSERT_EQ(serial.SerConfigure(cfg), 0) << c.handshake;
        termios t = masterTermios();
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts) << c.handshake;
        EXPECT_EQ((t.c_iflag & IXON) != 0, c.ixon) << c.handshake;
        EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.ixoff) << c.handshake;
    }
}

TEST_F(PosixSerialTest, DsrDtrHandshakeIsRefused) {
    openPty();
    std::optional<std::string> saved = SystemProperties::get("SK_OSNAME");
    SystemProperties::set("SK_OSNAME", "Windows 7");  // a record that accepts DSR/DTR
    SerialConfig dsr(pty.slavePath());
    if (saved) {
        SystemProperties::set("SK_OSNAME", *saved);
    } else {
        SystemProperties::clear("SK_OSNAME");
    }
    dsr.setHandshake(SerialConfig::HS_DSRDTR);
    dsr.setPortNum(cfg.getPort());
    EXPECT_NE(serial.SerConfigure(dsr), 0);
    EXPECT_FALSE(serial.SerLastError(0).empty());
}

TEST_F(PosixSerialTest, ConfigureOfAClosedHandleFails) {
    SerialConfig closed(pty.slavePath());
    closed.setPortNum(3);
    EXPECT_EQ(serial.SerConfigure(closed), -1);
}

TEST_F(PosixSerialTest, ReadsABurstInOrderIncludingFF) {
    int h = openPty();
    ASSERT_EQ(serial.SerConfigure(cfg), 0);
    std::string burst;
    for (int i = 0; i < 10000; ++i) {
        burst.push_back(static_cast<char>(i % 256));  // every value, 0377 among them
    }
    auto writer = std::async(std::launch::async, [&] { pty.write(burst); });
    std::string got = readPort(h, burst.size());
    writer.get();
    ASSERT_EQ(got.size(), burst.size());
    EXPECT_TRUE(got == burst);
    EXPECT_EQ(serial.SerSigParityErr(h), 0);
    EXPECT_EQ(serial.SerSigFrameErr(h), 0);
    EXPECT_EQ(serial.SerSigBreak(h), 0);
}

TEST_F(PosixSerialTest, GetByteAndReadyCount) {
    int h = openPty();
    EXPECT_EQ(serial.SerGetByte(h), NativeSerial::NO_DATA);
    EXPECT_EQ(serial.SerRxReadyCount(h), 0);
    pty.write(
        std::string("\xff\x00"
                    "AB",
                    4));
    ASSERT_EQ(serial.SerWaitRx(h, 5000), NativeSerial::WAIT_DATA);
    // Let all four bytes arrive before counting.
    for (int i = 0; i < 100 && serial.SerRxReadyCount(h) < 4; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(serial.SerRxReadyCount(h), 4);
    EXPECT_EQ(serial.SerGetByte(h), 0xff);
    EXPECT_EQ(serial.SerRxReadyCount(h), 3) << "the rest waits in the port's buffer";
    EXPECT_EQ(serial.SerGetByte(h), 0x00);
    EXPECT_EQ(serial.SerGetByte(h), 'A');
    EXPECT_EQ(serial.SerGetByte(h), 'B');
    EXPECT_EQ(serial.SerGetByte(h), NativeSerial::NO_DATA);
    EXPECT_EQ(serial.SerSigParityErr(h), 0) << "a literal FF 00 from the far end is no mark";
}

TEST_F(PosixSerialTest, RxFlushDropsWaitingInput) {
    int h = openPty();
    pty.write("stale");
    ASSERT_EQ(serial.SerWaitRx(h, 5000), NativeSerial::WAIT_DATA);
    EXPECT_EQ(serial.SerGetByte(h), 's');  // the rest now sits in the port's buffer
    EXPECT_EQ(serial.SerRxFlush(h), 0);
    EXPECT_EQ(serial.SerGetByte(h), NativeSerial::NO_DATA);
    pty.write("new");
    EXPECT_EQ(readPort(h, 3, 3s), "new");
}

TEST_F(PosixSerialTest, WritesReachTheFarEnd) {
    int h = openPty();
    const std::string hello = "hello";
    EXPECT_EQ(serial.SerPutData(h, reinterpret_cast<const std::uint8_t*>(hello.data()), 5), 5);
    EXPECT_EQ(serial.SerPutByte(h, 0xff), 0);
    EXPECT_EQ(serial.SerTxDrain(h), 0);
    EXPECT_EQ(pty.read(6, 3000), "hello\xff");
    EXPECT_GE(serial.SerTxBufCount(h), 0);
    EXPECT_EQ(serial.SerTxFlush(h), 0);
}

TEST_F(PosixSerialTest, LargeWriteWaitsForRoom) {
    int h = openPty();
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('A' + i % 23);
    }
    auto reader = std::async(std::launch::async, [&] { return pty.read(big.size(), 20000); });
    int n = serial.SerPutData(h, reinterpret_cast<const std::uint8_t*>(big.data()),
                              static_cast<int>(big.size()));
    EXPECT_EQ(n, static_cast<int>(big.size()));
    EXPECT_TRUE(reader.get() == big);
}

TEST_F(PosixSerialTest, WriteWithTimeoutReturnsWhatWasAcceptedWhenTheLineStalls) {
    int h = openPty();
    ASSERT_EQ(serial.SerSetTimeoutTx(h, 200), 0);
    EXPECT_EQ(serial.SerGetTimeoutTx(h), 200);
    std::string big(4 * 1024 * 1024, 'x');  // far more than the line holds; nobody reads
    auto start = Clock::now();
    int n = serial.SerPutData(h, reinterpret_cast<const std::uint8_t*>(big.data()),
                              static_cast<int>(big.size()));
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(big.size()));
    EXPECT_LT(Clock::now() - start, 10s);
}

TEST_F(PosixSerialTest, WaitReturnsOnDataTimeoutAndWake) {
    int h = openPty();
    EXPECT_EQ(serial.SerWaitRx(h, 50), NativeSerial::WAIT_TIMEOUT);

    auto start = Clock::now();
    EXPECT_EQ(serial.SerWaitRx(h, 300), NativeSerial::WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 250ms);

    auto waiter = std::async(std::launch::async, [&] { return serial.SerWaitRx(h, -1); });
    std::this_thread::sleep_for(50ms);
    pty.write("z");
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), NativeSerial::WAIT_DATA);
    EXPECT_EQ(serial.SerGetByte(h), 'z');

    auto sleeper = std::async(std::launch::async, [&] { return serial.SerWaitRx(h, -1); });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(serial.SerWakeRx(h), 0);
    ASSERT_EQ(sleeper.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(sleeper.get(), NativeSerial::WAIT_WOKEN);
    EXPECT_EQ(serial.SerWaitRx(h, 50), NativeSerial::WAIT_TIMEOUT) << "the wake was used up";
}

TEST_F(PosixSerialTest, WakeWithNobodyWaitingEndsTheNextWait) {
    int h = openPty();
    EXPECT_EQ(serial.SerWakeRx(h), 0);
    auto start = Clock::now();
    EXPECT_EQ(serial.SerWaitRx(h, 10000), NativeSerial::WAIT_WOKEN);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(PosixSerialTest, WaitAnswersAtOnceWhileBytesAreBuffered) {
    int h = openPty();
    pty.write("ab");
    for (int i = 0; i < 500 && serial.SerRxReadyCount(h) < 2; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(serial.SerGetByte(h), 'a');  // takes both from the driver, hands out one
    EXPECT_EQ(serial.SerWaitRx(h, 0), NativeSerial::WAIT_DATA);
    EXPECT_EQ(serial.SerGetByte(h), 'b');
    EXPECT_EQ(serial.SerWaitRx(h, 0), NativeSerial::WAIT_TIMEOUT);
}

TEST_F(PosixSerialTest, CloseWakesAWaiterAndReleasesThePort) {
    int h = openPty();
    auto waiter = std::async(std::launch::async, [&] { return serial.SerWaitRx(h, -1); });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(serial.SerClosePort(h), 0);
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    int r = waiter.get();
    EXPECT_TRUE(r == NativeSerial::WAIT_WOKEN || r == -1) << r;
    EXPECT_EQ(serial.SerGetByte(h), NativeSerial::READ_FAILED) << "the handle is gone";

    PosixSerial other;
    SerialConfig again(pty.slavePath());
    EXPECT_EQ(other.SerOpenPort(again), NativeSerial::OPEN_OK) << "the lock went with the close";
}

TEST_F(PosixSerialTest, ConcurrentWaitsWakesAndCloseDoNotCrash) {
    for (int round = 0; round < 20; ++round) {
        SerialConfig c(pty.slavePath());
        ASSERT_EQ(serial.SerOpenPort(c), NativeSerial::OPEN_OK);
        int h = c.getPort() - 1;
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop) {
                if (serial.SerWaitRx(h, 20) < 0) {
                    break;
                }
                std::uint8_t buf[64];
                if (serial.SerGetData(h, buf, sizeof buf) < 0) {
                    break;
                }
            }
        });
        std::thread waker([&] {
            for (int i = 0; i < 50 && !stop; ++i) {
                serial.SerWakeRx(h);
            }
        });
        pty.write("data");
        std::this_thread::sleep_for(5ms);
        EXPECT_EQ(serial.SerClosePort(h), 0);
        stop = true;
        reader.join();
        waker.join();
    }
}

TEST_F(PosixSerialTest, DeviceLossIsAReadFailureWithAReason) {
    int h = openPty();
    pty.closeMaster();
    EXPECT_EQ(serial.SerGetByte(h), NativeSerial::READ_FAILED);
    EXPECT_EQ(serial.SerLastError(h), "Input/output error");
    std::uint8_t buf[8];
    EXPECT_EQ(serial.SerGetData(h, buf, sizeof buf), NativeSerial::READ_FAILED);
    EXPECT_EQ(serial.SerWaitRx(h, 1000), -1);
    EXPECT_EQ(serial.SerRxReadyCount(h), -1);
    EXPECT_EQ(serial.SerPutByte(h, 'x'), -1);
    EXPECT_EQ(serial.SerClosePort(h), 0);
}

TEST_F(PosixSerialTest, WaitingReaderSeesDeviceLoss) {
    int h = openPty();
    auto waiter = std::async(std::launch::async, [&] { return serial.SerWaitRx(h, -1); });
    std::this_thread::sleep_for(100ms);
    pty.closeMaster();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), -1);
    EXPECT_FALSE(serial.SerLastError(h).empty());
}

TEST_F(PosixSerialTest, ModemLinesOnAPseudoTerminal) {
    int h = openPty();
    EXPECT_EQ(serial.SerSetDTR(h, true), 0);
    EXPECT_EQ(serial.SerSetRTS(h, true), 0);
    EXPECT_EQ(serial.SerSetDTR(h, false), 0);
    EXPECT_EQ(serial.SerSetRTS(h, false), 0);
    EXPECT_EQ(serial.SerSigCTS(h), 0);
    EXPECT_EQ(serial.SerSigDSR(h), 0);
    EXPECT_EQ(serial.SerSigCD(h), 0);
    EXPECT_EQ(serial.SerSigRing(h), 0);
    EXPECT_EQ(serial.SerSigOverrun(h), 0);
    EXPECT_EQ(serial.SerRxOverflow(h), 0);
    EXPECT_EQ(serial.SerSendBreak(h, 10), 0);
    EXPECT_EQ(serial.SerSendBreak(h, 0), 0);
}

TEST_F(PosixSerialTest, CallsOnAnUnknownHandleFail) {
    std::uint8_t b = 0;
    EXPECT_EQ(serial.SerGetByte(4), NativeSerial::READ_FAILED);
    EXPECT_EQ(serial.SerGetData(-1, &b, 1), NativeSerial::READ_FAILED);
    EXPECT_EQ(serial.SerPutData(4, &b, 1), -1);
    EXPECT_EQ(serial.SerPutByte(4, b), -1);
    EXPECT_EQ(serial.SerRxReadyCount(4), -1);
    EXPECT_EQ(serial.SerSetDTR(4, true), -1);
    EXPECT_EQ(serial.SerSigCTS(4), -1);
    EXPECT_EQ(serial.SerWaitRx(4, 0), -1);
    EXPECT_EQ(serial.SerWakeRx(4), -1);
    EXPECT_EQ(serial.SerClosePort(4), -1);
    EXPECT_EQ(serial.SerLastError(4), "");
}

TEST_F(PosixSerialTest, TimeoutsAreKeptPerPort) {
    int h = openPty();
    EXPECT_EQ(serial.SerGetTimeoutRx(h), 0);
    EXPECT_EQ(serial.SerSetTimeoutRx(h, 1500), 0);
    EXPECT_EQ(serial.SerGetTimeoutRx(h), 1500);
    EXPECT_EQ(serial.SerSetTimeoutRx(h, -5), -1);
    EXPECT_EQ(serial.SerGetTimeoutRx(h), 1500);
}

TEST(PosixSerialPlatformTest, UnsupportedCallsAnswerPlainly) {
    PosixSerial serial;
    SerialConfig cfg;
    std::string failure;
    EXPECT_GT(serial.SerGetLibVer(), 0);
    EXPECT_EQ(serial.SerGetName(0), "");
    EXPECT_EQ(serial.SerGetPowerMode(0), -1);
    EXPECT_EQ(serial.SerSetPowerMode(0, 1), -1);
    EXPECT_EQ(serial.SerGetInstanceLock(), -1);
    EXPECT_EQ(serial.SerFlowTask(0), -1);
    EXPECT_EQ(serial.SerServerTask(cfg, failure), -1);
    EXPECT_FALSE(failure.empty());
}

TEST(PosixSerialPlatformTest, RegisteredUnderTheLinuxNames) {
    for (const char* name : {"skLux86", "skLuxArm", "skLux86_64bit", "skLuxArm64"}) {
        // Device paths and network names each reach their own backend behind one driver.
        auto backend = NativeLibrary::load(name);
        EXPECT_NE(dynamic_cast<RoutingSerial*>(backend.get()), nullptr) << name;
    }
}

// ---------------------------------------------------------------------------------------------
// Discovery against a prepared sysfs tree.

class RecordingReceiver : public PortListReceiver {
  public:
    void addPortName(const std::string& name) override { names.push_back(name); }
    void addPortInfo(const std::string& portName, const std::string& manufacturer,
                     const std::string& description) override {
        infos.push_back({portName, manufacturer, description});
    }
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> infos;
};

class FakeSysfs {
  public:
    FakeSysfs() {
        root_ = fs::temp_directory_path() / ("posixserial-sysfs-" + std::to_string(::getpid()) +
                                             "-" + std::to_string(counter_++));
        fs::create_directories(classTty());
        fs::create_directories(root_ / "dev");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path classTty() const { return root_ / "class" / "tty"; }
    std::string dev() const { return (root_ / "dev").string(); }

    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }

    // A tty entry whose device sits at devices/<devicePath>, bound to `driver` when given.
    fs::path addTty(const std::string& name, const std::string& devicePath,
                    const std::string& driver, std::optional<int> type = std::nullopt) {
        fs::path device = root_ / "devices" / devicePath;
        fs::create_directories(device);
        if (!driver.empty()) {
            fs::path drv = root_ / "bus" / "drivers" / driver;
            fs::create_directories(drv);
            fs::create_directory_symlink(drv, device / "driver");
        }
        fs::path entry = classTty() / name;
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
        if (type) {
            write(entry / "type", std::to_string(*type));
        }
        return device;
    }
    void markSerialBase(const std::string& devicePath) {
        fs::path bus = root_ / "bus" / "serial-base";
        fs::create_directories(bus);
        fs::create_directory_symlink(bus, root_ / "devices" / devicePath / "subsystem");
    }
    void bind(const std::string& devicePath, const std::string& driver) {
        fs::path drv = root_ / "bus" / "drivers" / driver;
        fs::create_directories(drv);
        fs::create_directory_symlink(drv, root_ / "devices" / devicePath / "driver");
    }
    // A USB device as sysfs shows one: on the usb bus, with a vendor id, and what it says of
    // itself where given.
    void addUsbDevice(const std::string& devicePath, const std::string& product,
                      const std::string& manufacturer) {
        fs::path device = root_ / "devices" / devicePath;
        fs::path bus = root_ / "bus" / "usb";
        fs::create_directories(device);
        fs::create_directories(bus);
        fs::create_directory_symlink(bus, device / "subsystem");
        write(device / "idVendor", "0403");
        if (!product.empty()) {
            write(device / "product", product);
        }
        if (!manufacturer.empty()) {
            write(device / "manufacturer", manufacturer);
        }
    }
    void addVirtual(const std::string& name) { fs::create_directories(classTty() / name); }
    fs::path devices() const { return root_ / "devices"; }

  private:
    static inline int counter_ = 0;
    fs::path root_;
};

TEST(PosixSerialDiscoveryTest, ListsRealPortsSortedWithDriverInfo) {
    FakeSysfs sys;
    sys.addVirtual("tty0");
    sys.addVirtual("ptmx");
    sys.addTty("ttyS0", "platform/serial8250/tty/ttyS0", "serial8250", 0);
    sys.addTty("ttyS3", "platform/serial8250/tty/ttyS3", "serial8250", 0);
    // serial_core's port and controller devices sit between ttyS1 and its UART.
    sys.addTty("ttyS1", "pnp0/00:04/00:04:0/00:04:0.0", "port", 4);
    sys.markSerialBase("pnp0/00:04/00:04:0/00:04:0.0");
    sys.markSerialBase("pnp0/00:04/00:04:0");
    sys.bind("pnp0/00:04", "serial");
    sys.addTty("ttyS2", "pnp0/00:05/tty/ttyS2", "");  // no driver bound
    sys.addTty("ttyUSB0", "pci0/usb1/1-2/1-2:1.0/ttyUSB0", "ftdi_sio");
    sys.addUsbDevice("pci0/usb1/1-2", "FT232R USB UART", "FTDI");
    sys.addTty("ttyACM10", "pci0/usb1/1-4/1-4:1.0", "cdc_acm");
    sys.addUsbDevice("pci0/usb1/1-4", "", "Acme Scales");
    sys.addTty("ttyACM2", "pci0/usb1/1-3/1-3:1.0", "cdc_acm");
    sys.addUsbDevice("pci0/usb1/1-3", "Balance", "Acme");
    // A card on another bus whose parent happens to have files of the same names.
    sys.addTty("ttyS4", "pci1/0000:02:00.0/0000:03:00.0", "exar_serial", 4);
    FakeSysfs::write(sys.devices() / "pci1/0000:02:00.0/manufacturer", "not the port's");
    FakeSysfs::write(sys.devices() / "pci1/0000:02:00.0/product", "not the port's");

    PosixSerial serial(sys.classTty().string(), "/dev");
    RecordingReceiver rec;
    serial.SerGetPortList(rec);
    EXPECT_EQ(rec.names, (std::vector<std::string>{"/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyS1",
                                                   "/dev/ttyS4", "/dev/ttyUSB0"}));
    std::vector<std::vector<std::string>> want = {
        {"/dev/ttyACM2", "Acme", "Balance"},         {"/dev/ttyACM10", "Acme Scales", "cdc_acm"},
        {"/dev/ttyS1", "serial", "serial"},          {"/dev/ttyS4", "exar_serial", "exar_serial"},
        {"/dev/ttyUSB0", "FTDI", "FT232R USB UART"},
    };
    EXPECT_EQ(rec.infos, want);
}

TEST(PosixSerialDiscoveryTest, MissingTreeListsNothing) {
    PosixSerial serial("/nonexistent/class/tty", "/dev");
    RecordingReceiver rec;
    serial.SerGetPortList(rec);
    EXPECT_TRUE(rec.names.empty());
    EXPECT_TRUE(rec.infos.empty());
}

TEST(PosixSerialDiscoveryTest, ManufacturerOfAnOpenPort) {
    testsupport::Pty pty;
    FakeSysfs sys;
    // The open port is found by its device node's name, here the pty's number.
    std::string node = fs::path(pty.slavePath()).filename().string();
    sys.addTty(node, "pci0/usb1/1-5/1-5:1.0/tty", "pl2303");
    sys.addUsbDevice("pci0/usb1/1-5", "", "Prolific");
    PosixSerial serial(sys.classTty().string(), "/dev");
    SerialConfig cfg(pty.slavePath());
    ASSERT_EQ(serial.SerOpenPort(cfg), NativeSerial::OPEN_OK);
    EXPECT_EQ(serial.SerGetPortMfgr(cfg.getPort() - 1), "Prolific");
    EXPECT_EQ(serial.SerGetPortMfgr(7), "");
}

TEST(PosixSerialDiscoveryTest, DeviceNotificationOnNewNode) {
    FakeSysfs sys;
    PosixSerial serial(sys.classTty().string(), sys.dev());
    std::mutex m;
    std::condition_variable cv;
    int calls = 0;
    ASSERT_EQ(serial.SerRegisterDeviceNotification([&] {
        std::lock_guard<std::mutex> lock(m);
        ++calls;
        cv.notify_all();
    }),
              0);
    FakeSysfs::write(fs::path(sys.dev()) / "ttyUSB7", "");
    {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, 10s, [&] { return calls > 0; }));
    }
    EXPECT_EQ(serial.SerUnregisterDeviceNotification(), 0);
    int before = 0;
    {
        std::lock_guard<std::mutex> lock(m);
        before = calls;
    }
    FakeSysfs::write(fs::path(sys.dev()) / "ttyUSB8", "");
    std::this_thread::sleep_for(200ms);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(calls, before) << "no calls after unregistering";
}

}  // namespace
}  // namespace serialkit
