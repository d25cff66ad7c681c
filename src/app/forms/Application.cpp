#include "app/forms/Application.h"

#include <QIcon>
#include <QMessageBox>
#include <exception>

namespace pictor {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Pictor");
    setApplicationDisplayName("Pictor");
    setApplicationVersion(PICTOR_VERSION);
    // Outside a desktop session Qt knows no icon theme; Adwaita is the usual one on Debian.
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == "hicolor")
        QIcon::setFallbackThemeName("Adwaita");
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guard([&] { result = QApplication::notify(receiver, event); });
    return result;
}

void TApplication::Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException("Unknown error");
    }
}

std::function<void(const QString&)>& TApplication::ErrorDisplay() {
    static std::function<void(const QString&)> display = [](const QString& message) {
        QMessageBox box(QMessageBox::Critical, applicationName(), message, QMessageBox::Ok,
                        activeWindow());
        box.exec();
    };
    return display;
}

void TApplication::ShowException(const QString& message) {
    if (ErrorDisplay()) ErrorDisplay()(message);
}

} // namespace pictor
