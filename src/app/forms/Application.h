#pragma once

#include <QApplication>
#include <functional>

namespace pictor {

// The application object. It is the program's one error display: an exception escaping an
// event handler ends that user command and its message is shown in a message box; the
// program keeps running.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Runs an event handler of ours. An exception it raises is shown by the error display
    // right here: Qt's own frames are not built to be unwound, so it must not travel through
    // them. notify() stays as the last resort for anything that slips past.
    static void Guard(const std::function<void()>& handler);
    // Shows a message the way an uncaught error is shown.
    static void ShowException(const QString& message);
    // What ShowException does; tests replace it to see the messages without a modal box.
    static std::function<void(const QString&)>& ErrorDisplay();
};

} // namespace pictor
