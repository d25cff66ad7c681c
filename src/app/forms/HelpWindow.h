#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QPushButton;
class QTextBrowser;

namespace pictor {

// The help window: a non-modal window that shows the HTML help book. There is at most one per
// owner; it frees itself when closed.
class THelpWindow : public QWidget {
public:
    explicit THelpWindow(QWidget* owner = nullptr);

    QTextBrowser* Browser;
    QPushButton *ContentsButton, *BackButton, *ForwardButton;

    // Loads the book and jumps to anchor (the contents when empty). A missing or unreadable book
    // leaves the window as it was, tells the user through MessageHook and returns false.
    bool OpenBook(const std::string& bookPath, const std::string& anchor = {});
    // Jumps to an anchor of the loaded book (to its top when empty).
    void ShowTopic(const std::string& anchor);
    const std::string& BookPath() const { return FBookPath; }

    // Opens the help of owner: finds its help window or makes one, loads the book at anchor and
    // brings the window forward. Returns nullptr (after the message) when the book is missing.
    static THelpWindow* ShowHelp(QWidget* owner, const std::string& bookPath,
                                 const std::string& anchor = {});

    // How messages reach the user (a message box); tests replace it.
    static std::function<void(const QString& message)>& MessageHook();

private:
    std::string FBookPath;
};

} // namespace pictor
