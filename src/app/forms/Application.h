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

    // Shows a message the way an uncaught error is shown.
    static void ShowException(const QString& message);
    // What ShowException does; tests replace it to see the messages without a modal box.
    static std::function<void(const QString&)>& ErrorDisplay();
};

} // namespace pictor
