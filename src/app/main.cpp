#include "app/forms/Main.h"
#include "app/forms/Application.h"

#include <QCoreApplication>
#include <QLocale>

int main(int argc, char** argv) {
    // The web page preview (Qt WebEngine) shares the application's GL contexts; this has to be
    // said before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    pictor::TApplication app(argc, argv);
    // The interface is Japanese whatever the session's language: file-type names and dates
    // follow it too.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    pictor::TMainFormOptions options;
    for (int i = 1; i < argc; ++i)
        options.Arguments.emplace_back(argv[i]);
    options.HandleSignals = true;
    pictor::TMainForm form(std::move(options));
    form.show();
    return app.exec();
}
