#include "app/forms/Application.h"
#include "app/forms/Main.h"

int main(int argc, char** argv) {
    pictor::TApplication app(argc, argv);
    pictor::TMainFormOptions options;
    for (int i = 1; i < argc; ++i) options.Arguments.emplace_back(argv[i]);
    options.HandleSignals = true;
    pictor::TMainForm form(std::move(options));
    form.show();
    return app.exec();
}
