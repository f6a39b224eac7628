// Shows the main window with the settings of a first start and two made-up ports, and saves
// every page as page<N>-<name>.png, the running layout, and the auto-detect
// dialog after a scan of simulated ports, so the layout can be looked at (and the user guide
// illustrated) without a serial port or a desktop.
//
//   tolvane-screenshots [output folder]     (default: build/screenshots)
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>

#include <iostream>
#include <memory>

#include "quorvel/AutoPortDialog.h"
#include "quorvel/MessagePresenter.h"
#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/util/FriendlyPortUtil.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"

namespace {

// Nothing may wait for a click here: boxes are printed, questions answered "no".
class PrintingPresenter : public quorvel::MessagePresenter {
  public:
    void error(QWidget*, const QString& title, const QString& message) override {
        print("error", title, message);
    }
    void warning(QWidget*, const QString& title, const QString& message) override {
        print("warning", title, message);
    }
    void information(QWidget*, const QString& title, const QString& message) override {
        print("information", title, message);
    }
    bool askYesNo(QWidget*, const QString& title, const QString& question) override {
        print("question", title, question);
        return false;
    }
    bool askOkCancel(QWidget*, const QString& title, const QString& question) override {
        print("question", title, question);
        return false;
    }
    QString chooseSaveFile(QWidget*, const QString&) override { return QString(); }
    QString chooseOpenFile(QWidget*) override { return QString(); }

  private:
    static void print(const char* kind, const QString& title, const QString& message) {
        std::cerr << kind << ": " << title.toStdString() << ": " << message.toStdString()
                  << std::endl;
    }
};

// Lets the window system map, lay out and paint what was just shown.
void settle(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "build/screenshots";
    if (!QDir().mkpath(folder)) {
        std::cerr << "Cannot create " << folder.toStdString() << std::endl;
        return 1;
    }

    const QStringList ports = {"/dev/ttyS0", "/dev/ttyUSB0"};
    quorvel::util::FriendlyPortUtil::setPortInfoList({{"/dev/ttyUSB0", "FTDI", "USB Serial Port"}});

    // What a first start shows: the settings an empty store loads, never the user's own.
    QTemporaryDir store;
    serialkit::SystemProperties::set(quorvel::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE,
                                     store.filePath("prefs.txt").toStdString());
    quorvel::config::Config settings;
    quorvel::config::ConfigStore().loadConfig(settings, ports);

    quorvel::ZoviziDeZizFrame2 window(settings, ports, std::make_shared<PrintingPresenter>());
    window.show();
    settle(500);
    std::cout << "window " << window.width() << " x " << window.height() << std::endl;

    int failures = 0;
    for (int index = 0; index < window.tabbedPane->count(); ++index) {
        window.tabbedPane->setCurrentIndex(index);
        settle(200);
        const QString name = window.tabbedPane->widget(index)->objectName();
        const QString file = QDir(folder).filePath(QString("page%1-%2.png").arg(index).arg(name));
        if (window.grab().save(file)) {
            std::cout << file.toStdString() << std::endl;
        } else {
            std::cerr << "Cannot write " << file.toStdString() << std::endl;
            ++failures;
        }
    }
    const auto save = [&](QWidget& widget, const QString& name) {
        const QString file = QDir(folder).filePath(name);
        if (widget.grab().save(file)) {
            std::cout << file.toStdString() << std::endl;
        } else {
            std::cerr << "Cannot write " << file.toStdString() << std::endl;
            ++failures;
        }
    };

    // The auto-detect dialog after scanning two simulated ports, one with an instrument.
    {
        serialkit::SystemProperties::set("SK_OSNAME", "Linux");
        serialkit::SystemProperties::set("SK_OSARCH", "amd64");
        auto simulated = std::make_shared<serialkit::SimulatedSerial>();
        for (const QString& port : ports) simulated->addPort(port.toStdString());
        using Lines = serialkit::SimulatedSerial::ModemLines;
        simulated->setDsrFunction("/dev/ttyUSB0", [](const Lines&) { return true; });
        simulated->setCtsFunction("/dev/ttyUSB0", [](const Lines& l) { return l.rts; });
        serialkit::SerialPortLocal::useNative(simulated);
        window.tabbedPane->setCurrentIndex(1);
        quorvel::AutoPortDialog dialog(window, ports);
        dialog.show();
        QDeadlineTimer limit(10000);
        while (!dialog.getWorker().isDone() && !limit.hasExpired()) settle(50);
        settle(200);
        save(dialog, "auto-detect.png");
        dialog.hide();
    }

    // The running layout, with the longest status text.
    window.setConnectedInGUI(true);
    window.tabbedPane->setCurrentIndex(0);
    settle(200);
    save(window, "running.png");
    return failures == 0 ? 0 : 1;
}
