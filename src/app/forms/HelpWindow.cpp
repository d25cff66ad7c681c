#include "app/forms/HelpWindow.h"

#include "app/HelpBook.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace pictor {

namespace {

THelpWindow* FindHelpWindow(QWidget* owner) {
    // Our classes carry no meta-object, so the type is asked of C++ rather than of Qt.
    if (owner) {
        for (QObject* child : owner->children())
            if (auto* help = dynamic_cast<THelpWindow*>(child)) return help;
        return nullptr;
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* help = dynamic_cast<THelpWindow*>(w); help && !help->parentWidget()) return help;
    return nullptr;
}

} // namespace

std::function<void(const QString&)>& THelpWindow::MessageHook() {
    static std::function<void(const QString&)> hook = [](const QString& message) {
        QMessageBox::warning(QApplication::activeWindow(), QApplication::applicationName(),
                             message);
    };
    return hook;
}

THelpWindow::THelpWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName("HelpWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Pictor ヘルプ");
    resize(720, 560);

    ContentsButton = new QPushButton("目次", this);
    BackButton = new QPushButton("戻る", this);
    ForwardButton = new QPushButton("進む", this);
    BackButton->setEnabled(false);
    ForwardButton->setEnabled(false);

    Browser = new QTextBrowser(this);
    Browser->setObjectName("Browser");
    // The book has no outside links; anything else is left alone rather than opened.
    Browser->setOpenExternalLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ContentsButton);
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(buttons);
    layout->addWidget(Browser);

    connect(ContentsButton, &QPushButton::clicked, this, [this] { ShowTopic("contents"); });
    connect(BackButton, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(ForwardButton, &QPushButton::clicked, Browser, &QTextBrowser::forward);
    connect(Browser, &QTextBrowser::backwardAvailable, BackButton, &QPushButton::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardButton, &QPushButton::setEnabled);
}

bool THelpWindow::OpenBook(const std::string& bookPath, const std::string& anchor) {
    const QFileInfo info(QString::fromStdString(bookPath));
    if (bookPath.empty() || !info.isFile() || !info.isReadable()) {
        MessageHook()(QString::fromStdString(MissingHelpBookMessage(bookPath)));
        return false;
    }
    FBookPath = bookPath;
    QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    if (!anchor.empty()) url.setFragment(QString::fromStdString(anchor));
    Browser->setSource(url);
    return true;
}

void THelpWindow::ShowTopic(const std::string& anchor) {
    if (FBookPath.empty()) return;
    if (anchor.empty()) {
        Browser->setSource(
            QUrl::fromLocalFile(QFileInfo(QString::fromStdString(FBookPath)).absoluteFilePath()));
        return;
    }
    QUrl url = Browser->source();
    url.setFragment(QString::fromStdString(anchor));
    Browser->setSource(url);
}

THelpWindow* THelpWindow::ShowHelp(QWidget* owner, const std::string& bookPath,
                                   const std::string& anchor) {
    THelpWindow* window = FindHelpWindow(owner);
    const bool made = window == nullptr;
    if (made) window = new THelpWindow(owner);
    if (!window->OpenBook(bookPath, anchor)) {
        if (made) delete window;
        return nullptr;
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace pictor
