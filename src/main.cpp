// CTallynetApp: the Qt entry point.
#include "app/global.h"
#include "platform/platform_services.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallynet");
    auto platform = tn::createLinuxPlatform();
    tn::CGlobal global(platform->services(), [](const std::string& text, tn::MessageIcon icon) {
        QMessageBox box(icon == tn::MessageIcon::Exclamation ? QMessageBox::Warning
                                                             : QMessageBox::NoIcon,
                        "Tallynet", QString::fromStdString(text));
        box.exec();
    });
    global.loadSettings();
    QLabel window(
        QString("Tallynet %1").arg(QString::fromStdString(tn::CGlobal::programVersionText())));
    window.setWindowIcon(QIcon(":/tallynet.svg"));
    window.resize(453, 283);
    window.show();
    return app.exec();
}
