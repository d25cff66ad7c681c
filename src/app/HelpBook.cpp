#include "app/HelpBook.h"

#include "core/PathRules.h"

#include <QCoreApplication>
#include <QDir>

namespace pictor {

std::string HelpBookPath(const std::string& programPath) {
    return ChangeFileExt(programPath, ".html");
}

std::string ProgramHelpBookPath() {
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    return HelpBookPath(program.toStdString());
}

std::string MissingHelpBookMessage(const std::string& bookPath) {
    return "ヘルプファイルが見つかりません: " + bookPath;
}

} // namespace pictor
