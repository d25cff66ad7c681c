#pragma once

#include "app/VersionInfo.h"

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace pictor {

// The version dialog: program name, version, OS version, memory use refreshed every second,
// credits and the home-page link. The caller shows it modally (exec) and frees it.
class TVForm : public QDialog {
public:
    // memoryReader supplies the memory figures on each refresh (the live ones by default).
    explicit TVForm(QWidget* owner, std::function<TMemoryStatus()> memoryReader = ReadMemoryStatus);

    QLabel* Image1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
    QLabel *Label6, *Label7, *Label8, *Label9;
    QProgressBar *ProgressBar1, *ProgressBar2;
    QLineEdit* URLEdit;
    QPushButton* Button1;
    QTimer* Timer1;

    // Opens a link; tests replace it so no browser starts.
    std::function<void(const QUrl&)> OpenUrl;

    void ListUpMemory();
    void Timer1Timer();
    void Button1Click();
    void URLEditClick();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    std::function<TMemoryStatus()> FMemoryReader;
};

} // namespace pictor
