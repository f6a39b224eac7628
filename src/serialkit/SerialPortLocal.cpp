#include "serialkit/SerialPortLocal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <regex>
#include <thread>

#include "serialkit/DeviceNotificationCallback.h"
#include "serialkit/ErrorStatusHandler.h"
#include "serialkit/FlowControlTask.h"
#include "serialkit/IOException.h"
#include "serialkit/NativeHandleMutex.h"
#include "serialkit/NativeSerial.h"
#include "serialkit/NetworkPortName.h"
#include "serialkit/Platform.h"
#include "serialkit/SerialServerTask.h"
#include "serialkit/SystemProperties.h"
#include "serialkit/tool/SortVector.h"
#include "serialkit/tool/StringCompare.h"

namespace serialkit {

namespace {

using namespace std::chrono_literals;

const char* const kVersionText = "Serialkit Library: version 10.2.3: build ";
const char* const kBannerLine = "Serialkit: serial port access for instruments and readers";
const char* const kNoLibraryText = "native library not loaded";

// Stands in for the driver while none is loaded, so that every port call fails cleanly with
// that operation's own failure message.
class MissingNativeSerial final : public NativeSerial {
  public:
    int SerOpenPort(SerialConfig&) override { return -1; }
    int SerConfigure(SerialConfig&) override { return -1; }
    int SerClosePort(int) override { return -1; }
    int SerGetByte(int) override { return READ_FAILED; }
    int SerGetData(int, std::uint8_t*, int) override { return READ_FAILED; }
    int SerPutByte(int, std::uint8_t) override { return -1; }
    int SerPutData(int, const std::uint8_t*, int) override { return -1; }
    int SerRxReadyCount(int) override { return -1; }
    int SerTxBufCount(int) override { return -1; }
    int SerRxFlush(int) override { return -1; }
    int SerTxFlush(int) override { return -1; }
    int SerTxDrain(int) override { return -1; }
    int SerSetDTR(int, bool) override { return -1; }
    int SerSetRTS(int, bool) override { return -1; }
    int SerSigCTS(int) override { return -1; }
    int SerSigDSR(int) override { return -1; }
    int SerSigCD(int) override { return -1; }
    int SerSigRing(int) override { return -1; }
    int SerSigBreak(int) override { return -1; }
    int SerSigFrameErr(int) override { return -1; }
    int SerSigOverrun(int) override { return -1; }
    int SerSigParityErr(int) override { return -1; }
    int SerRxOverflow(int) override { return -1; }
    int SerSendBreak(int, int) override { return -1; }
    int SerSetTimeoutRx(int, int) override { return -1; }
    int SerSetTimeoutTx(int, int) override { return -1; }
    int SerGetTimeoutRx(int) override { return -1; }
    int SerGetTimeoutTx(int) override { return -1; }
    void SerGetPortList(PortListReceiver&) override {}
    int SerResetPortDriver(SerialConfig&) override { return -1; }
    int SerGetLibVer() override { return -1; }
    std::string SerGetName(int) override { return ""; }
    int SerGetInstanceLock() override { return -1; }
    int SerSetInstanceLock(int) override { return -1; }
    int SerGetPowerMode(int) override { return -1; }
    int SerSetPowerMode(int, int) override { return -1; }
    int SerGetResumeState() override { return -1; }
    int SerGetStatusAPM() override { return -1; }
    std::string SerGetPortMfgr(int) override { return ""; }
    int SerFlowTask(int) override { return -1; }
    int SerServerTask(SerialConfig&, std::string& failure) override {
        failure = kNoLibraryText;
        return -1;
    }
    int SerRegisterDeviceNotification(std::function<void()>) override { return -1; }
    int SerUnregisterDeviceNotification() override { return -1; }
    int SerWaitRx(int, int) override { return -1; }
    int SerWakeRx(int) override { return -1; }
    std::string SerLastError(int) override { return kNoLibraryText; }
};

struct Features {
    bool supSigBreak = false;
    bool supSendBreak = true;
    bool supSigFrameErr = false;
    bool supSigOverrun = false;
    bool supSigParityErr = false;
    bool supRxOverflow = false;
    bool supSigRing = false;
    bool supSigCTS = false;
    bool supSigDSR = false;
    bool supSigCD = false;
    bool supSetRTS = false;
    bool supSetDTR = false;
    bool supRxReadyCount = false;
    bool supTxBufCount = false;
    bool supSetTimeoutTx = false;
    bool supNoIndexBitRate = false;
    bool supGetPortList = false;
    bool supSetPowerMode = false;
    bool supGetStatusAPM = false;
    bool supInstanceLock = false;
    bool supParityMarkSpace = false;
    bool supDriverInfo = false;
    bool supUnplugPort = false;
    bool supGetResumeState = false;
    bool pollRxTimeout = false;
};

struct ClassState {
    std::string osName;
    std::string osArch;
    std::string runtimeVersion;
    std::string runtimeVendor;
    std::string skLib;
    bool skLibLoaded = false;
    // Set with the Windows driver: getPortList then sorts COM names by number.
    bool windowsLib = false;
    int maxBitRate = 115200;
    int portListMode = 0;
    std::string defaultPortName;
    std::vector<std::string> portList;
    std::vector<PortDriverInfo> portListInfo;
    std::shared_ptr<DeviceNotificationCallback> deviceCallback;
    Features features;
    std::shared_ptr<NativeSerial> native = std::make_shared<MissingNativeSerial>();
    // Kept for callers of the class that sort texts; the class itself does not use it.
    tool::SortVector<std::string> sortedNames{std::make_shared<tool::StringCompare>()};
};

std::recursive_mutex& classMutex() {
    static std::recursive_mutex m;
    return m;
}

ClassState& rawState() {
    static ClassState state;
    return state;
}

bool started = false;

void startUpLocked(ClassState& s);

void ensureStarted() {
    std::lock_guard<std::recursive_mutex> lock(classMutex());
    if (!started) {
        started = true;
        startUpLocked(rawState());
    }
}

struct Locked {
    std::unique_lock<std::recursive_mutex> lock;
    ClassState& s;
};

Locked locked() {
    ensureStarted();
    return Locked{std::unique_lock<std::recursive_mutex>(classMutex()), rawState()};
}

Features features() {
    return locked().s.features;
}

std::shared_ptr<NativeSerial> classNative() {
    return locked().s.native;
}

void print(const std::string& line) {
    std::cout << line << std::endl;
}

std::string toLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && toLower(a) == toLower(b);
}

bool containsNetware(const std::string& osName) {
    return toLower(osName).find("netware") != std::string::npos;
}

bool oneOf(const std::string& value, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return value == n; });
}

bool isWindowsName(const std::string& os) {
    return oneOf(
        os, {"Windows", "Windows 95", "Windows 98", "Windows Me", "Windows NT", "Windows XP",
             "Windows 2000", "Windows 2003", "Windows 2008", "Windows Vista", "Windows Server 2008",
             "Windows Server 2008 R2", "Windows Server 2012", "Windows Server 2012 R2", "Windows 7",
             "Windows NT (unknown)", "Windows 8", "Windows 8.1", "Windows 10"});
}

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n\f\v";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::optional<std::string> property(const std::string& name) {
    auto value = SystemProperties::get(name);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::string defaultRuntimeVersion() {
    return std::to_string(__cplusplus);
}

std::string defaultRuntimeVendor() {
#if defined(__clang__)
    return "LLVM";
#elif defined(__GNUC__)
    return "GNU";
#else
    return "unknown";
#endif
}

std::string userFolderLibrary(const std::string& name) {
    return SystemProperties::get("user.home", "") + "\\" + name + ".dll";
}

void printLoadFailure(const std::exception& e, const std::string& name) {
    print(std::string(e.what()) + ": Check that native library " + name +
          " is in proper directory");
}

// The platform name: "SK_OSNAME" when set, else the system's own.
std::string osNameSetting() {
    auto skOsName = property("SK_OSNAME");
    return skOsName ? *skOsName : systemOsName();
}

// Runs one driver call under the process-wide lock of opens, closes and configures.
template <typename Call>
int underHandleLock(Call call) {
    std::lock_guard<NativeHandleMutex> lock(NativeHandleMutex::getInstance());
    return call();
}

void featureSetupLocked(ClassState& s) {
    Features f;
    s.maxBitRate = 115200;
    s.defaultPortName = "";
    const std::string& os = s.osName;
    const bool netware = containsNetware(os);

    if ((isWindowsName(os) && os != "Windows 2008") ||
        oneOf(os, {"Windows CE", "WindowsCE", "OS/2"}) || netware) {
        s.maxBitRate = 921600;
        f.supDriverInfo =
            oneOf(os, {"Windows", "Windows 10", "Windows 8.1", "Windows 8", "Windows 7",
                       "Windows NT (unknown)", "Windows Server 2008", "Windows Server 2008 R2",
                       "Windows Server 2012", "Windows Vista", "Windows 2003", "Windows 2000",
                       "Windows XP"});
        f.supParityMarkSpace = true;
        f.supInstanceLock = true;
        f.supGetPortList = true;
        f.supGetStatusAPM = true;
        f.supSigBreak = true;
        f.supSigFrameErr = true;
        f.supSigParityErr = true;
        f.supSigOverrun = true;
        f.supRxOverflow = true;
        f.supRxReadyCount = true;
        f.supTxBufCount = true;
        f.supSetTimeoutTx = true;
        f.supSigRing = true;
        f.supSetRTS = true;
        f.supSetDTR = true;
        f.supSigCD = true;
        f.supSigCTS = true;
        f.supSigDSR = true;
        f.supUnplugPort = true;
        f.pollRxTimeout = false;
        f.supNoIndexBitRate = os == "OS/2";
        if (netware) {
            f.supGetPortList = false;
            f.pollRxTimeout = true;
        }
        s.defaultPortName = "COM1";
    } else if (os == "Mac OS") {
        s.maxBitRate = 921600;
        f.supGetPortList = true;
        f.supSigBreak = true;
        f.supSigFrameErr = true;
        f.supSigParityErr = true;
        f.supSigOverrun = true;
        f.supRxOverflow = true;
        f.supRxReadyCount = true;
        f.supTxBufCount = true;
        f.supSetTimeoutTx = true;
        f.supSetDTR = true;
        f.supSigCTS = true;
        f.pollRxTimeout = true;
        f.supNoIndexBitRate = true;
        s.defaultPortName = "Modem Port";
    } else if (os == "Mac OS X") {
        s.maxBitRate = 230400;
        f.supParityMarkSpace = true;
        f.supGetPortList = true;
        f.supGetStatusAPM = true;
        f.supRxReadyCount = true;
        f.supTxBufCount = true;
        f.supSetRTS = true;
        f.supSetDTR = true;
        f.supSigCD = true;
        f.supSigCTS = true;
        f.supSigDSR = true;
        f.pollRxTimeout = true;
        s.defaultPortName = "";
    } else if (oneOf(os, {"Linux", "FreeBSD", "Solaris", "SunOS", "HP-UX", "Irix", "AIX", "OSF1",
                          "UnixWare"})) {
        f.supParityMarkSpace = true;
        f.supRxReadyCount = true;
        f.supTxBufCount = true;
        f.supSigRing = true;
        f.supSetRTS = true;
        f.supSetDTR = true;
        f.supSigCD = true;
        f.supSigCTS = true;
        f.supSigDSR = true;
        f.pollRxTimeout = true;
        s.defaultPortName = "/dev/tty0";
        if (os == "Linux") {
            f.supGetStatusAPM = true;
            s.defaultPortName = "/dev/ttyS0";
            if (s.osArch == "armv4l" || s.osArch == "arm") {
                f.supSetPowerMode = true;
                f.supGetResumeState = true;
            }
            // Our POSIX driver also discovers ports with their drivers and reports line
            // errors and breaks.
            f.supGetPortList = true;
            f.supDriverInfo = true;
            f.supSigParityErr = true;
            f.supSigFrameErr = true;
            f.supSigOverrun = true;
            f.supSigBreak = true;
        } else if (os == "Solaris" || os == "SunOS") {
            s.defaultPortName = "/dev/ttya";
        } else if (os == "Irix") {
            f.supSetRTS = false;
            f.supSetDTR = false;
            f.supSigCTS = false;
        } else if (os == "UnixWare") {
            f.supSetRTS = false;
        } else if (os == "OSF1") {
            s.defaultPortName = "/dev/tty00";
        }
    } else if (os == "EPOC") {
        f.supGetPortList = true;
        f.supSigFrameErr = true;
        f.supSigParityErr = true;
        f.supSigOverrun = true;
        f.supRxReadyCount = true;
        f.supTxBufCount = true;
        f.supSetTimeoutTx = true;
        f.supSetRTS = true;
        f.supSetDTR = true;
        f.supSigCD = true;
        f.supSigCTS = true;
        f.supSigDSR = true;
        f.supNoIndexBitRate = true;
        f.pollRxTimeout = false;
        f.supSendBreak = false;
        s.defaultPortName = "COMM::0";
    }
    s.features = f;
}

void setNativeLibNameLocked(ClassState& s) {
    const std::string& os = s.osName;
    const std::string& arch = s.osArch;
    std::string lib;
    s.windowsLib = false;

    if (isWindowsName(os)) {
        lib = (s.runtimeVersion == "1.0.2" || s.runtimeVersion == "102") ? "skWinNm" : "skWin";
        s.windowsLib = true;
    } else if (os == "EPOC") {
        if (arch == "x86") {
            lib = "skEpocx86";
        } else if (arch == "arm") {
            lib = "skEpocArm";
        }
    } else if (oneOf(os, {"Windows CE", "WindowsCE", "Windows CE  Java"})) {
        if (arch == "MIPS") {
            lib = "skWceMips";
        } else if (arch == "SH3") {
            lib = "skWceSh3";
        } else if (arch == "SH4") {
            lib = "skWceSh4";
        } else if (oneOf(arch, {"ARM", "Strong ARM", "XSCALE"})) {
            lib = "skWceArm";
        } else if (arch == "x86") {
            lib = "skWceX86";
        }
    } else if (os == "OS/2") {
        lib = "skos2j";
    } else if (os == "Mac OS") {
        lib = "skMac";
    } else if (os == "Mac OS X") {
        lib = "skMacOSX";
    } else if (os == "Linux") {
        if (oneOf(arch, {"x86", "i386", "i486", "i586", "i686"})) {
            lib = "skLux86";
        } else if (oneOf(arch, {"armv4l", "arm", "armv5tel", "armv5l"})) {
            lib = "skLuxArm";
        } else if (arch == "amd64") {
            lib = "skLux86_64bit";
        } else if (arch == "aarch64") {
            // 64-bit Arm boards.
            lib = "skLuxArm64";
        }
    } else if (os == "FreeBSD") {
        if (arch == "i386" || arch == "x86") {
            lib = "skBsdx86";
        }
    } else if (os == "Solaris" || os == "SunOS") {
        if (arch == "x86") {
            lib = "skSolx86";
        } else if (arch == "sparc") {
            lib = "skSolSparc";
        }
    } else if (os == "HP-UX") {
        if (oneOf(arch, {"PA-RISC", "PA_RISC", "PA_RISC2.0"})) {
            lib = "skHpxPaRisc";
        }
    } else if (os == "Irix") {
        if (arch == "mips") {
            lib = "skIrxMips";
        }
    } else if (os == "AIX") {
        if (arch == "POWER_PC" || arch == "ppc") {
            lib = "skAixPpc";
        }
    } else if (os == "UnixWare" || os == "OpenServer") {
        if (arch == "IA32") {
            lib = "skUxWareIA32";
        }
    } else if (os == "OSF1") {
        if (arch == "alpha") {
            lib = "skTru64Alpha";
        }
    }
    if (containsNetware(os)) {
        lib = "SkNw";
    }
    s.skLib = lib;
}

// Loads the driver named `file`; throws what the registry throws.
std::shared_ptr<NativeSerial> loadLibrary(const std::string& file) {
    auto native = NativeLibrary::load(file);
    if (!native) {
        throw std::runtime_error("native library " + file + " could not be created");
    }
    return native;
}

void loadLocked(ClassState& s) {
    const std::string& name = s.skLib;
    try {
        s.native = loadLibrary(name);
        s.skLibLoaded = true;
        print("SerialPort class loaded: " + name);
        return;
    } catch (const std::exception& e) {
        if (s.osName != "Windows 7") {
            printLoadFailure(e, name);
            return;
        }
        print(std::string(e.what()) + ": Native library load failed " + name +
              " trying user's folder");
    }
    try {
        s.native = loadLibrary(userFolderLibrary(name));
        s.skLibLoaded = true;
        print("SerialPort class loaded users: " + name);
    } catch (const std::exception& e) {
        printLoadFailure(e, name);
    }
}

void startUpLocked(ClassState& s) {
    s = ClassState{};
    auto skOsName = property("SK_OSNAME");
    auto skOsArch = property("SK_OSARCH");
    s.osName = skOsName ? *skOsName : systemOsName();
    s.osArch = (skOsName && skOsArch) ? *skOsArch : systemOsArch();
    s.runtimeVersion = SystemProperties::get("runtime.version", defaultRuntimeVersion());
    s.runtimeVendor = SystemProperties::get("runtime.vendor", defaultRuntimeVendor());

    print(kVersionText + std::to_string(SerialPortLocal::BUILD_NUM));
    print(kBannerLine);
    print("os.name=\"" + s.osName + "\"  os.arch=\"" + s.osArch + "\"");

    featureSetupLocked(s);
    setNativeLibNameLocked(s);
    if (s.skLib.empty()) {
        print("osName=" + s.osName + " osArch=" + s.osArch);
        print("Platform not supported, check VM properties os.name & os.arch");
        std::cout.flush();
        // No native part: the library stays unloaded and the caller reports it, rather than
        // the whole program vanishing from inside a library call.
        return;
    }
    loadLocked(s);
}

// Collects what the driver's discovery reports into the class-wide lists.
class ClassPortListReceiver : public PortListReceiver {
  public:
    void addPortName(const std::string& name) override { SerialPortLocal::addPortName(name); }
    void addPortInfo(const std::string& portName, const std::string& manufacturer,
                     const std::string& description) override {
        SerialPortLocal::addPortInfo(portName, manufacturer, description);
    }
};

// COM names sorted by their number, then every other name in discovery order.
std::vector<std::string> windowsOrder(const std::vector<std::string>& names) {
    static const std::regex com("COM([0-9]+)");
    std::vector<long long> numbers;
    std::vector<std::string> others;
    for (const auto& name : names) {
        std::smatch m;
        bool numbered = false;
        if (std::regex_search(name, m, com)) {
            try {
                numbers.push_back(std::stoll(m[1].str()));
                numbered = true;
            } catch (const std::out_of_range&) {
                // Too many digits to be a port number: keep the name as it is.
            }
        }
        // A name shorter than three characters, or one that starts with "COM" but carries
        // no number, is kept in discovery order rather than lost.
        if (name.compare(0, 3, "COM") != 0 || !numbered) {
            others.push_back(name);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<std::string> ordered;
    ordered.reserve(numbers.size() + others.size());
    for (long long n : numbers) {
        ordered.push_back("COM" + std::to_string(n));
    }
    ordered.insert(ordered.end(), others.begin(), others.end());
    return ordered;
}

void dispatchDeviceNotification() {
    print("Serialkit.deviceNotification");
    std::shared_ptr<DeviceNotificationCallback> callback;
    {
        auto l = locked();
        callback = l.s.deviceCallback;
    }
    if (callback) {
        callback->deviceChanged();
    }
}

std::string openErrorText(int result) {
    switch (result) {
        case NativeSerial::ERR_ALREADY_OPEN:
            return "Port is already open";
        case NativeSerial::ERR_IN_USE:
            return "Port is in use";
        case NativeSerial::ERR_NOT_VALID:
            return "Port not valid";
        case NativeSerial::ERR_NO_SUCH_DEVICE:
            return "2: No such device";
        case NativeSerial::ERR_PERMISSION:
            return "Permission denied";
        case NativeSerial::ERR_BUSY:
            return "Device busy";
        case NativeSerial::ERR_NO_DEVICE:
            return "19: No such device";
        case NativeSerial::ERR_REFUSED:
            return "Connection refused";
        case NativeSerial::ERR_UNREACHABLE:
            return "Host unreachable";
        case NativeSerial::ERR_TIMEOUT:
            return "Connection timed out";
        case NativeSerial::ERR_HOST_NOT_FOUND:
            return "Host name not found";
        case NativeSerial::ERR_CLOSED_BY_SERVER:
            return "Connection closed by the device server";
        case NativeSerial::ERR_OPEN_STOPPED:
            return "Connecting was stopped";
        default:
            return ": " + std::to_string(result);
    }
}

int checkBusyWith(NativeSerial& native, const std::string& osName, SerialConfig& cfg, int result) {
    if (osName != "Solaris" && osName != "SunOS") {
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + 3000ms;
    while (result == 16 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(500ms);
        result = native.SerOpenPort(cfg);
    }
    return result;
}

// The transmit time-out for a whole buffer at the record's rate, or -1 when the record
// carries no usable rate.
long long txTimeoutFor(const SerialConfig& cfg) {
    const int bitRate = cfg.getBitRate();
    long long rate = -1;
    if (bitRate > 30) {
        rate = bitRate;
    } else if (bitRate >= 0 && bitRate < static_cast<int>(SerialConfig::bitRateNumbers.size())) {
        rate = SerialConfig::bitRateNumbers[static_cast<std::size_t>(bitRate)];
    }
    if (rate / 10 <= 0) {
        return -1;
    }
    const long long txLen = std::max(0, cfg.getTxLen());
    long long ms = ((txLen * (1000000 / (rate / 10))) / 1000) * 100;
    return std::min<long long>(ms, INT_MAX);
}

}  // namespace

// ---------------------------------------------------------------- class-wide

std::vector<std::string> SerialPortLocal::getPortList() {
    ensureStarted();
    auto listProperty = SystemProperties::get("SERIAL_PORT_LIST");
    if (listProperty && !trim(*listProperty).empty()) {
        auto l = locked();
        const std::string& text = *listProperty;
        std::size_t begin = 0;
        while (begin <= text.size()) {
            // A network name carries ':' itself, so it ends where its port digits end.
            std::size_t start = begin;
            while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) {
                ++start;
            }
            const std::size_t networkLength = NetworkPortName::lengthAtStart(text.substr(start));
            std::size_t end = text.find_first_of(";:", start + networkLength);
            if (end == std::string::npos) {
                end = text.size();
            }
            std::string token = trim(text.substr(begin, end - begin));
            if (!token.empty() &&
                std::find(l.s.portList.begin(), l.s.portList.end(), token) == l.s.portList.end()) {
                l.s.portList.push_back(token);
            }
            begin = end + 1;
        }
        return l.s.portList;
    }

    Features f;
    std::shared_ptr<NativeSerial> native;
    {
        auto l = locked();
        f = l.s.features;
        native = l.s.native;
    }
    if (f.supGetPortList) {
        {
            auto l = locked();
            l.s.portList.clear();
        }
        // Discovery runs without the class lock so ports in use on other threads go on.
        ClassPortListReceiver receiver;
        try {
            native->SerGetPortList(receiver);
        } catch (const std::exception& e) {
            print(std::string("getPortList: ") + e.what());
        }
        auto l = locked();
        if (l.s.windowsLib) {
            l.s.portList = windowsOrder(l.s.portList);
        }
        return l.s.portList;
    }

    auto l = locked();
    if (!l.s.portList.empty()) {
        print("getPortList: using list created with addPortName");
    } else {
        print("getPortList: port discovery not currently supported on this platform.");
        print("Options:");
        print("A) addPortName can be used to build a list of device names ");
        print("B) start the program with -DSERIAL_PORT_LIST=COM1;COM2;COM3 (Windows port names)");
        print("   or -DSERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyUSB0 (device paths)");
    }
    return l.s.portList;
}

void SerialPortLocal::addPortName(const std::string& name) {
    auto l = locked();
    for (const auto& existing : l.s.portList) {
        if (equalsIgnoreCase(existing, name)) {
            return;
        }
    }
    l.s.portList.push_back(name);
}

void SerialPortLocal::addPortInfo(const std::string& portName, const std::string& manufacturer,
                                  const std::string& description) {
    auto l = locked();
    for (const auto& existing : l.s.portListInfo) {
        if (equalsIgnoreCase(existing.getPortName(), portName)) {
            return;
        }
    }
    l.s.portListInfo.emplace_back(portName, manufacturer, description);
}

std::vector<PortDriverInfo> SerialPortLocal::getDriverInfoList() {
    auto l = locked();
    if (!l.s.features.supDriverInfo) {
        throw IOException("Not supported on this platform");
    }
    if (l.s.portList.empty()) {
        throw IOException("Must call SerialPortLocal.getPortList method first");
    }
    return l.s.portListInfo;
}

void SerialPortLocal::clearPortListInfo() {
    locked().s.portListInfo.clear();
}

bool SerialPortLocal::isSupported(const std::string& feature) {
    const Features f = features();
    static const std::pair<const char*, bool Features::*> names[] = {
        {"sigBreak", &Features::supSigBreak},
        {"sendBreak", &Features::supSendBreak},
        {"sigFrameErr", &Features::supSigFrameErr},
        {"sigOverrun", &Features::supSigOverrun},
        {"sigParityErr", &Features::supSigParityErr},
        {"rxOverflow", &Features::supRxOverflow},
        {"sigRing", &Features::supSigRing},
        {"sigCTS", &Features::supSigCTS},
        {"sigDSR", &Features::supSigDSR},
        {"sigCD", &Features::supSigCD},
        {"setRTS", &Features::supSetRTS},
        {"setDTR", &Features::supSetDTR},
        {"rxReadyCount", &Features::supRxReadyCount},
        {"txBufCount", &Features::supTxBufCount},
        {"setTimeoutTx", &Features::supSetTimeoutTx},
        {"noIndexBitRate", &Features::supNoIndexBitRate},
        {"getPortList", &Features::supGetPortList},
        {"setPowerMode", &Features::supSetPowerMode},
        {"getStatusAPM", &Features::supGetStatusAPM},
        {"InstanceLock", &Features::supInstanceLock},
        {"ParityMarkSpace", &Features::supParityMarkSpace},
        {"supDriverInfo", &Features::supDriverInfo},
        {"UnplugPort", &Features::supUnplugPort},
    };
    for (const auto& [name, flag] : names) {
        if (feature == name) {
            return f.*flag;
        }
    }
    return false;
}

bool SerialPortLocal::isLibraryLoaded() {
    return locked().s.skLibLoaded;
}

std::string SerialPortLocal::getVersionText() {
    return kVersionText + std::to_string(BUILD_NUM);
}

int SerialPortLocal::getMaxBitRate() {
    return locked().s.maxBitRate;
}

int SerialPortLocal::getPortListMode() {
    return locked().s.portListMode;
}

void SerialPortLocal::setPortListMode(int mode) {
    locked().s.portListMode = mode;
}

int SerialPortLocal::getInstanceLock() {
    if (!features().supInstanceLock) {
        return -1;
    }
    return classNative()->SerGetInstanceLock();
}

int SerialPortLocal::setInstanceLock(int value) {
    if (!features().supInstanceLock) {
        return -1;
    }
    return classNative()->SerSetInstanceLock(value);
}

int SerialPortLocal::getPowerMode(int port) {
    if (!features().supSetPowerMode) {
        return -1;
    }
    auto native = classNative();
    const int result = underHandleLock([&] { return native->SerGetPowerMode(port); });
    if (result >= 5000) {
        throw IOException("getPowerMode failed: " + std::to_string(result));
    }
    return result;
}

void SerialPortLocal::setPowerMode(int port, int mode) {
    if (!features().supSetPowerMode) {
        return;
    }
    auto native = classNative();
    const int result = underHandleLock([&] { return native->SerSetPowerMode(port, mode); });
    if (result != 0) {
        throw IOException("setPowerMode failed: " + std::to_string(result));
    }
}

int SerialPortLocal::getResumeState(bool /*clear*/) {
    if (!features().supGetResumeState) {
        return -1;
    }
    return classNative()->SerGetResumeState();
}

int SerialPortLocal::getStatusAPM() {
    if (!features().supGetStatusAPM) {
        return -1;
    }
    return classNative()->SerGetStatusAPM();
}

int SerialPortLocal::checkBusy(SerialConfig& cfg, int result) {
    auto native = classNative();
    return checkBusyWith(*native, getOsName(), cfg, result);
}

std::string SerialPortLocal::stripCOM(const std::string& text) {
    static const std::regex com("COM[0-9]+");
    std::smatch m;
    if (std::regex_search(text, m, com)) {
        return m[0].str();
    }
    return text;
}

void SerialPortLocal::featureSetup() {
    featureSetupLocked(locked().s);
}

void SerialPortLocal::setNativeLibName() {
    setNativeLibNameLocked(locked().s);
}

void SerialPortLocal::srvTaskCheck(SerialPortLocal& port) {
    if (getOsName() != "EPOC") {
        return;
    }
    if (!port.serverTask_ || !port.serverTask_->isAlive()) {
        port.config_.setPortNum(0);
        port.serverTask_.reset();
        port.serverTask_ = std::make_unique<SerialServerTask>(port, port.native_);
        port.serverTask_->start();
    }
    SerialServerTask& task = *port.serverTask_;
    // Bounded, so a server that never answers cannot hang the caller.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        const int number = task.getPortNumber();
        if (task.hasFailed() || number == -1) {
            try {
                port.config_.setPortNum(-1);
            } catch (const std::invalid_argument&) {
                // Only an "EPOC" record takes -1; the open fails below all the same.
            }
            throw IOException("srvTaskCheck: " + task.getMessage());
        }
        if (number != 0) {
            port.config_.setPortNum(number);
            return;
        }
        if (!task.isAlive()) {
            throw IOException("srvTaskCheck: server task ended without a port");
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw IOException("srvTaskCheck: server task did not answer");
        }
        std::this_thread::sleep_for(100ms);
    }
}

std::string SerialPortLocal::getOsName() {
    return locked().s.osName;
}

std::string SerialPortLocal::getOsArch() {
    return locked().s.osArch;
}

std::string SerialPortLocal::getNativeLibName() {
    return locked().s.skLib;
}

std::string SerialPortLocal::getDefaultPortName() {
    return locked().s.defaultPortName;
}

void SerialPortLocal::useNative(std::shared_ptr<NativeSerial> native) {
    auto l = locked();
    l.s.skLibLoaded = native != nullptr;
    l.s.native = native ? std::move(native) : std::make_shared<MissingNativeSerial>();
}

void SerialPortLocal::reinitialize() {
    std::lock_guard<std::recursive_mutex> lock(classMutex());
    started = true;
    startUpLocked(rawState());
}

// ---------------------------------------------------------------- construction

SerialPortLocal::SerialPortLocal(const SerialConfig& config) : config_(config) {
    {
        auto l = locked();
        l.s.osName = osNameSetting();
        native_ = l.s.native;
    }
    open();
}

SerialPortLocal::SerialPortLocal() {
    auto l = locked();
    if (!l.s.skLibLoaded) {
        const std::string name = l.s.skLib;
        print("SerialPortLocal: Attempt to load: " + name);
        try {
            l.s.native = loadLibrary(l.s.osName == "Windows 7" ? userFolderLibrary(name) : name);
            l.s.skLibLoaded = true;
            print("SerialPortLocal: SerialPort class loaded: " + name);
        } catch (const std::exception& e) {
            printLoadFailure(e, name);
        }
    }
    // The name is read again as the other constructor does, with the override honoured:
    // the system's own name here would pair one platform's name with another's flags.
    l.s.osName = osNameSetting();
    config_ = SerialConfig(l.s.defaultPortName);
    native_ = l.s.native;
}

SerialPortLocal::~SerialPortLocal() {
    try {
        stopFlowTask();
    } catch (...) {
        // Releasing a port never throws.
    }
    closeQuietly();
}

// ---------------------------------------------------------------- per port

void SerialPortLocal::requireSupport(bool supported, const char* op) const {
    if (!supported) {
        throw IOException(std::string(op) + " not supported on " + getOsName());
    }
}

void SerialPortLocal::requireOpen(const char* op) const {
    if (handle_.load() < 0) {
        throw IOException(std::string(op) + ": Port not open");
    }
}

void SerialPortLocal::requireSupportAndOpen(bool supported, const char* op) const {
    requireSupport(supported, op);
    requireOpen(op);
}

template <typename... Params, typename... Args>
int SerialPortLocal::callNative(int (NativeSerial::*call)(int, Params...), const char* failure,
                                Args... args) {
    const int result = (native().*call)(handle_.load(), args...);
    if (result < 0) {
        throw IOException(failure);
    }
    return result;
}

void SerialPortLocal::sendAll(const std::uint8_t* data, int count, const char* shortfall) {
    const int sent = native().SerPutData(handle_.load(), data, count);
    if (sent != count) {
        throw IOException(shortfall + std::to_string(sent) + " of " + std::to_string(count) +
                          " bytes");
    }
}

void SerialPortLocal::stopFlowTask() {
    if (flowTask_) {
        flowTask_->join();
        flowTask_.reset();
    }
}

void SerialPortLocal::closeQuietly() noexcept {
    try {
        close();
    } catch (...) {
        // The port is marked closed whatever the driver answered.
    }
}

void SerialPortLocal::open() {
    if (!open_.load()) {
        // A closed port follows the driver that is loaded now.
        std::lock_guard<std::mutex> lock(nativeMutex_);
        native_ = classNative();
    }
    if (getOsName() != "Windows 95") {
        config_.setHardFlow(false);
    }
    srvTaskCheck(*this);
    const int result = underHandleLock([&] { return native().SerOpenPort(config_); });
    if (result != NativeSerial::OPEN_OK) {
        throw IOException(config_.getPortNameString() +
                          ": SerOpenPort failed: " + openErrorText(result));
    }
    open_.store(true);
    wrSinceTxBufEmpty_ = false;
    rdSinceRxBufCheck_ = false;
    handle_.store(config_.getPort() - 1);
    try {
        configure(config_);
        applyOpenTimeouts();
    } catch (...) {
        // A failed open leaves the port closed, never half open.
        closeQuietly();
        throw;
    }
}

void SerialPortLocal::applyOpenTimeouts() {
    if (getOsName() == "Mac OS") {
        setTimeoutRx(2000);
        setTimeoutTx(2000);
        return;
    }
    setTimeoutRx(0);
    if (features().supSetTimeoutTx) {
        const long long ms = txTimeoutFor(config_);
        if (ms >= 0) {
            setTimeoutTx(static_cast<int>(ms));
        }
    }
}

void SerialPortLocal::close() {
    wrSinceTxBufEmpty_ = false;
    rdSinceRxBufCheck_ = false;
    stopFlowTask();
    if (!open_.load()) {
        return;
    }
    open_.store(false);
    const int result = underHandleLock([&] { return native().SerClosePort(handle_.load()); });
    handle_.store(-1);
    if (result != 0) {
        throw IOException("ClosePort failed");
    }
}

void SerialPortLocal::configure() {
    configure(config_);
}

void SerialPortLocal::configure(SerialConfig& cfg) {
    if (handle_.load() < 0) {
        throw IOException("configure: Port is not open");
    }
    stopFlowTask();
    const Features f = features();
    if (!f.supNoIndexBitRate) {
        const int index = SerialConfig::getBitRateIndex(cfg.getBitRate());
        if (index >= 0) {
            cfg.setBitRate(index);
        } else if (!cfg.validBitRateIndex()) {
            throw IOException("Unsupported Serial Port Bit Rate");
        }
    }
    if (!f.supParityMarkSpace && cfg.getParity() > SerialConfig::PY_EVEN) {
        throw IOException("Unsupported Mark/Space parity");
    }
    // The driver finds the port by the record's number; a record that was not used to open
    // this port would otherwise address another one.
    if (cfg.getPort() != handle_.load() + 1) {
        cfg.setPortNum(handle_.load() + 1);
    }
    const int result = underHandleLock([&] { return native().SerConfigure(cfg); });
    if (result != 0) {
        // The driver's reason, where it gives one (a device server that dropped the line).
        const std::string why = native().SerLastError(handle_.load());
        throw IOException("Configure failed: " + std::to_string(result) +
                          (why.empty() ? "" : ": " + why));
    }
    const int handshake = cfg.getHandshake();
    if (getOsName() == "Windows 95" && cfg.getHardFlow() &&
        (handshake == SerialConfig::HS_CTSRTS || handshake == SerialConfig::HS_DSRDTR) &&
        !flowTask_) {
        flowTask_ = std::make_unique<FlowControlTask>(*this, native_);
        flowTask_->start();
    }
}

void SerialPortLocal::reset() {
    if (handle_.load() < 0) {
        throw IOException("reset: Port is not open");
    }
    const bool keepTx = features().supSetTimeoutTx;
    const int savedTx = keepTx ? native().SerGetTimeoutTx(handle_.load()) : 0;
    close();
    srvTaskCheck(*this);
    const std::string osName = getOsName();
    const int result = underHandleLock([&] {
        const int opened = native().SerOpenPort(config_);
        return checkBusyWith(native(), osName, config_, opened);
    });
    if (result != NativeSerial::OPEN_OK) {
        throw IOException("reset: SerOpenPort failed: " + std::to_string(result));
    }
    open_.store(true);
    handle_.store(config_.getPort() - 1);
    try {
        if (keepTx) {
            setTimeoutTx(savedTx);
        }
        configure(config_);
    } catch (...) {
        closeQuietly();
        throw;
    }
}

void SerialPortLocal::resetPortDriver() {
    requireSupport(features().supDriverInfo, "resetPortDriver");
    if (handle_.load() >= 0) {
        throw IOException("resetPortDriver: Port must be closed");
    }
    {
        std::lock_guard<std::mutex> lock(nativeMutex_);
        native_ = classNative();
    }
    const int result = underHandleLock([&] { return native().SerResetPortDriver(config_); });
    if (result != 0) {
        throw IOException("Reset port driver failed: " + std::to_string(result));
    }
}

bool SerialPortLocal::pollForBytes(int count) {
    if (!features().pollRxTimeout) {
        return true;
    }
    const int handle = handle_.load();
    const int timeoutMs = native().SerGetTimeoutRx(handle);
    if (timeoutMs <= 0) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int ready = native().SerRxReadyCount(handle);
        // A failing count is left to the read, which reports it.
        if (ready < 0 || ready >= count) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
}

int SerialPortLocal::getByte() {
    if (!pollForBytes(1)) {
        return -1;
    }
    const int handle = handle_.load();
    const int result = native().SerGetByte(handle);
    rdSinceRxBufCheck_ = true;
    if (result == NativeSerial::READ_FAILED) {
        // A vanished device must not look like a quiet one. A closed port has no reason of
        // its own; the driver's answer for a negative handle is about the last failed open.
        throw IOException("getByte failed: " + (handle < 0 ? std::string("Port not open")
                                                           : native().SerLastError(handle)));
    }
    return result < 0 ? -1 : result;
}

int SerialPortLocal::getData(std::span<std::uint8_t> buffer) {
    return getData(buffer, 0, static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX)));
}

int SerialPortLocal::getData(std::span<std::uint8_t> buffer, int offset, int count) {
    const long long size = static_cast<long long>(buffer.size());
    if (offset < 0 || count < 0 || offset > size) {
        throw IOException("getData: count out of bounds");
    }
    // Never more than fits behind the offset.
    const int amount = static_cast<int>(std::min<long long>(count, size - offset));
    if (amount == 0) {
        return 0;
    }
    if (!pollForBytes(amount)) {
        return 0;
    }
    const int handle = handle_.load();
    int result;
    if (offset == 0) {
        result = native().SerGetData(handle, buffer.data(), amount);
    } else {
        std::vector<std::uint8_t> temp(static_cast<std::size_t>(amount));
        result = native().SerGetData(handle, temp.data(), amount);
        if (result > 0) {
            std::copy_n(temp.begin(), std::min(result, amount), buffer.begin() + offset);
        }
    }
    rdSinceRxBufCheck_ = true;
    if (result < 0) {
        throw IOException("getData: failed");
    }
    return std::min(result, amount);
}

bool SerialPortLocal::waitForData(int timeoutMs) {
    requireOpen("waitForData");
    const int handle = handle_.load();
    const int result = native().SerWaitRx(handle, timeoutMs);
    if (result < 0) {
        throw IOException("waitForData failed: " + native().SerLastError(handle));
    }
    return result == NativeSerial::WAIT_DATA;
}

void SerialPortLocal::wakeUp() {
    std::shared_ptr<NativeSerial> native;
    {
        std::lock_guard<std::mutex> lock(nativeMutex_);
        native = native_;
    }
    const int handle = handle_.load();
    if (native && handle >= 0) {
        native->SerWakeRx(handle);
    } else if (native) {
        // Not open yet: an open that is still connecting gives up.
        native->SerAbortOpen(&config_);
    }
}

void SerialPortLocal::putByte(std::uint8_t byte) {
    wrSinceTxBufEmpty_ = true;
    const int result = native().SerPutByte(handle_.load(), byte);
    if (result != 0) {
        throw IOException("PutByte failed: " + std::to_string(result));
    }
}

void SerialPortLocal::putData(std::span<const std::uint8_t> buffer) {
    wrSinceTxBufEmpty_ = true;
    if (buffer.empty()) {
        return;
    }
    sendAll(buffer.data(), static_cast<int>(buffer.size()), "PutData1: Sent only ");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> buffer, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > buffer.size()) {
        throw IOException("putData: count out of bounds");
    }
    wrSinceTxBufEmpty_ = true;
    if (count == 0) {
        return;
    }
    sendAll(buffer.data(), count, "PutData2: Sent only ");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> buffer, int offset, int count) {
    if (offset < 0 || count < 0 ||
        static_cast<long long>(offset) + count > static_cast<long long>(buffer.size())) {
        throw IOException("putData3: count out of bounds");
    }
    wrSinceTxBufEmpty_ = true;
    if (count == 0) {
        return;
    }
    sendAll(buffer.data() + offset, count, "putData3: Sent only ");
}

void SerialPortLocal::putString(const std::string& text) {
    wrSinceTxBufEmpty_ = true;
    if (text.empty()) {
        return;
    }
    sendAll(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()),
            "PutString: sent only ");
}

void SerialPortLocal::rxFlush() {
    callNative(&NativeSerial::SerRxFlush, "rxFlush failed");
}

void SerialPortLocal::txFlush() {
    callNative(&NativeSerial::SerTxFlush, "txFlush failed");
}

void SerialPortLocal::txDrain() {
    callNative(&NativeSerial::SerTxDrain, "txDrain failed");
}

int SerialPortLocal::rxReadyCount() {
    requireSupport(features().supRxReadyCount, "rxReadyCount");
    const int result = native().SerRxReadyCount(handle_.load());
    if (result < 0) {
        if (errorStatusHandler_) {
            errorStatusHandler_->errorStatus(10);
            return -1;
        }
        throw IOException("rxReadyCount failed");
    }
    return result;
}

int SerialPortLocal::txBufCount() {
    requireSupportAndOpen(features().supTxBufCount, "txBufCount");
    return callNative(&NativeSerial::SerTxBufCount, "txBufCount failed");
}

bool SerialPortLocal::rxOverflow() {
    requireSupportAndOpen(features().supRxOverflow, "rxOverflow");
    return callNative(&NativeSerial::SerRxOverflow, "rxOverflow failed") == 1;
}

void SerialPortLocal::sendBreak(int durationMs) {
    requireSupportAndOpen(features().supSendBreak, "sendBreak");
    callNative(&NativeSerial::SerSendBreak, "sendBreak failed", durationMs);
}

void SerialPortLocal::setDTR(bool on) {
    requireSupportAndOpen(features().supSetDTR, "setDTR");
    callNative(&NativeSerial::SerSetDTR, "setDTR failed", on);
}

void SerialPortLocal::setRTS(bool on) {
    requireSupport(features().supSetRTS, "setRts");
    requireOpen("setRTS");
    callNative(&NativeSerial::SerSetRTS, "setRTS failed", on);
}

bool SerialPortLocal::sigCTS() {
    requireOpen("sigCTS");
    return callNative(&NativeSerial::SerSigCTS, "sigCTS failed") == 1;
}

bool SerialPortLocal::sigDSR() {
    requireOpen("sigDSR");
    return callNative(&NativeSerial::SerSigDSR, "sigDSR failed") == 1;
}

bool SerialPortLocal::sigCD() {
    requireSupportAndOpen(features().supSigCD, "sigCD");
    return callNative(&NativeSerial::SerSigCD, "sigCD failed") == 1;
}

bool SerialPortLocal::sigFrameErr() {
    requireSupportAndOpen(features().supSigFrameErr, "sigFrameErr");
    return callNative(&NativeSerial::SerSigFrameErr, "sigFrameErr failed") == 1;
}

bool SerialPortLocal::sigOverrun() {
    requireSupportAndOpen(features().supSigOverrun, "sigOverrun");
    return callNative(&NativeSerial::SerSigOverrun, "sigOverrun failed") == 1;
}

// These three report a failing driver call as "not seen".
bool SerialPortLocal::sigBreak() {
    requireSupportAndOpen(features().supSigBreak, "sigBreak");
    return native().SerSigBreak(handle_.load()) == 1;
}

bool SerialPortLocal::sigParityErr() {
    requireSupportAndOpen(features().supSigParityErr, "sigParityErr");
    return native().SerSigParityErr(handle_.load()) == 1;
}

bool SerialPortLocal::sigRing() {
    requireSupportAndOpen(features().supSigRing, "sigRing");
    return native().SerSigRing(handle_.load()) == 1;
}

void SerialPortLocal::setTimeoutRx(int ms) {
    callNative(&NativeSerial::SerSetTimeoutRx, "setTimeoutRx failed", ms);
}

void SerialPortLocal::setTimeoutTx(int ms) {
    callNative(&NativeSerial::SerSetTimeoutTx, "setTimeoutTx failed", ms);
}

int SerialPortLocal::getTimeoutRx() {
    return native().SerGetTimeoutRx(handle_.load());
}

int SerialPortLocal::getTimeoutTx() {
    return native().SerGetTimeoutTx(handle_.load());
}

int SerialPortLocal::getLibVer() {
    return native().SerGetLibVer();
}

std::string SerialPortLocal::getName(int index) {
    const std::string os = getOsName();
    if (os == "Mac OS" || os == "Mac OS X") {
        return native().SerGetName(index);
    }
    return "Not implemented";
}

void SerialPortLocal::setConfig(const SerialConfig& cfg) {
    SerialConfig record = cfg;
    if (!open_.load()) {
        record.setPortNum(handle_.load() + 1);
    }
    config_ = record;
    locked().s.defaultPortName = config_.getPortNameString();
}

void SerialPortLocal::setPortName(const std::string& name) {
    config_.setPortName(name);
    locked().s.defaultPortName = name;
}

std::string SerialPortLocal::getPortName() const {
    std::string name = config_.getPortName();
    while (!name.empty() && name.back() == '\0') {
        name.pop_back();
    }
    return name;
}

void SerialPortLocal::setErrorStatusHandler(std::shared_ptr<ErrorStatusHandler> handler) {
    errorStatusHandler_ = std::move(handler);
}

void SerialPortLocal::registerDeviceNotification(std::shared_ptr<DeviceNotificationCallback> cb) {
    bool registered;
    {
        auto l = locked();
        registered = l.s.deviceCallback != nullptr;
    }
    if (registered) {
        native().SerUnregisterDeviceNotification();
    }
    locked().s.deviceCallback = std::move(cb);
    // The driver calls back into the class, not this object, so a callback arriving after
    // the port is gone has nothing dangling to reach.
    native().SerRegisterDeviceNotification([] { dispatchDeviceNotification(); });
}

void SerialPortLocal::unregisterDeviceNotification() {
    native().SerUnregisterDeviceNotification();
    locked().s.deviceCallback.reset();
}

void SerialPortLocal::deviceNotification() {
    dispatchDeviceNotification();
}

}  // namespace serialkit
