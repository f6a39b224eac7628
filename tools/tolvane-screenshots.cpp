// Shows the main window with default settings and two made-up ports, and saves every page as
// page<N>-<name>.png, so the layout can be looked at without a serial port or a desktop.
//
//   tolvane-screenshots [output folder]     (default: build/screenshots)
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>

#include <iostream>
#include <memory>

#include "quorvel/MessagePresenter.h"
#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/util/FriendlyPortUtil.h"

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

    quorvel::util::FriendlyPortUtil::setPortInfoList({{"/dev/ttyUSB0", "FTDI", "USB Serial Port"}});
    quorvel::ZoviziDeZizFrame2 window(quorvel::config::Config(), {"/dev/ttyS0", "/dev/ttyUSB0"},
                                      std::make_shared<PrintingPresenter>());
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
    // The running layout, with the longest status text.
    window.setConnectedInGUI(true);
    window.tabbedPane->setCurrentIndex(0);
    settle(200);
    const QString running = QDir(folder).filePath("running.png");
    if (window.grab().save(running)) {
        std::cout << running.toStdString() << std::endl;
    } else {
        std::cerr << "Cannot write " << running.toStdString() << std::endl;
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
