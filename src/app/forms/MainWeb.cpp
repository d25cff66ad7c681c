// The web page preview: the page is laid out by an off-screen browser view, which is then
// resized to the capture size, grabbed, and shown as a thumbnail in the panel's picture box.
// Every step runs from the event loop (no nested waiting loops) and every wait is bounded.
#include "app/PreviewLogic.h"
#include "app/forms/Main.h"
#include "shell/ShellCtrls.h"
#include "shell/forms/ShellListView.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTimer>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <memory>
#include <unistd.h>

namespace pictor {
namespace {

// A page that has not loaded and been captured within this time is given up; the panel then
// stays as the reset left it.
constexpr int PageTimeoutMs = 10000;
// After the resize to the capture size: how long to wait at most for the page to take the new
// size and draw it (then it is grabbed as it is), and how often to ask.
constexpr int RepaintTimeoutMs = 3000;
constexpr int RepaintPollMs = 20;
// Once the page has drawn two frames at the new size, the view still has to receive the last.
constexpr int RepaintSettleMs = 100;
constexpr int ImageBoxSide = 200;
// The view's property holding the address of the page it was last told to load.
constexpr const char* JobUrlProperty = "pictorJobUrl";
constexpr const char* JobGenerationProperty = "pictorJobGeneration";

// Chromium reads its switches once, when the first view starts the engine, so they are put in
// place here, right before that. Without a sandbox-capable setup Chromium refuses to run as
// root; GPU rendering is of no use to an off-screen capture.
void PrepareEngineSwitches() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const auto add = [&flags](const QByteArray& flag) {
        if (flags.split(' ').contains(flag)) return;
        if (!flags.isEmpty()) flags += ' ';
        flags += flag;
    };
    add("--disable-gpu");
    if (::geteuid() == 0) add("--no-sandbox");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

// A page shown to nobody must not stop the program with a dialog box: alerts are dropped,
// confirmations (leaving the page among them) answered yes, prompts cancelled.
class TQuietPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return true; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
        return false;
    }
};

// One page asked for by ShowHtml.
struct TWebJob {
    unsigned Generation = 0;
    QUrl Url;
    QString Name;   // the file name in the panel when the page was asked for
    QString Folder; // the folder the list showed then
    std::shared_ptr<bool> Loaded = std::make_shared<bool>(false); // its load has ended
    QSize Capture;
    std::shared_ptr<QElapsedTimer> Repaint; // since the resize to the capture size
};

bool IsCurrent(const TMainForm& form, const TWebJob& job) {
    return form.WebPreview.Pending() && form.WebPreview.Generation == job.Generation;
}

// Ends the job without a picture.
void GiveUp(TMainForm& form, const TWebJob& job) {
    if (!IsCurrent(form, job)) return;
    form.WebPreview.Finished = job.Generation;
    form.WebBrowser->resize(0, 0);
}

// The path of the list's first selected item (empty when none).
QString FirstSelectedPath(TMainForm& form) {
    int first = -1;
    for (const QModelIndex& index : form.ShellListView->SelectionModel()->selectedRows())
        if (first < 0 || index.row() < first) first = index.row();
    TShellFileItem* item = form.ShellListView->FileList().Item(first);
    return item ? QFile::decodeName(item->Path().c_str()) : QString();
}

// A selection that moved off the page makes the page in flight stale. (A refresh of the list
// that keeps the page selected does not.)
void SelectionChanged(TMainForm& form, const QWebEngineView* view) {
    if (form.WebBrowser != view || !form.WebPreview.Pending()) return;
    const QUrl selected = QUrl::fromLocalFile(FirstSelectedPath(form));
    if (selected != view->property(JobUrlProperty).toUrl())
        form.WebPreview.Finished = ++form.WebPreview.Generation;
}

// Whether the panel still shows what ShowHtml left: nothing newer drew into it.
bool PanelUntouched(const TMainForm& form, const TWebJob& job) {
    return form.Label2->text() == job.Name &&
           QString::fromStdString(form.ShellListView->FolderPath()) == job.Folder &&
           !form.Image->isHidden() && form.Memo->isHidden() && form.Image->pixmap().isNull();
}

bool SameUrl(const QUrl& a, const QUrl& b) {
    const auto norm = QUrl::NormalizePathSegments | QUrl::StripTrailingSlash;
    return a.adjusted(norm) == b.adjusted(norm);
}

QWebEngineView* CreateBrowser(TMainForm& form) {
    PrepareEngineSwitches();
    // A window of its own (owned by the main window) that is never put on screen: its size
    // follows the capture, not the panel's layout.
    auto* view = new QWebEngineView();
    view->setParent(&form, Qt::Window | Qt::FramelessWindowHint);
    view->setObjectName("WebBrowser");
    view->setAttribute(Qt::WA_DontShowOnScreen);
    view->setAttribute(Qt::WA_ShowWithoutActivating);
    view->setFocusPolicy(Qt::NoFocus);
    auto* page = new TQuietPage(QWebEngineProfile::defaultProfile(), view);
    page->setAudioMuted(true);
    view->setPage(page);
    view->resize(0, 0);
    view->show(); // the engine draws only for a shown view

    // A crashed or killed page ends the page in flight at once, without a picture.
    QObject::connect(page, &QWebEnginePage::renderProcessTerminated, view, [&form, view] {
        // (A view being replaced may lose its renderer after the new one took over.)
        if (form.WebBrowser != view || !form.WebPreview.Pending()) return;
        form.WebPreview.Finished = form.WebPreview.Generation;
        view->resize(0, 0);
    });
    QObject::connect(form.ShellListView->SelectionModel(), &QItemSelectionModel::selectionChanged,
                     view, [&form, view] { SelectionChanged(form, view); });
    return view;
}

void Grab(TMainForm& form, const TWebJob& job) {
    if (!IsCurrent(form, job)) return;
    const QPixmap shot = form.WebBrowser->grab(QRect(QPoint(0, 0), job.Capture));
    form.WebPreview.Finished = job.Generation;
    form.WebBrowser->resize(0, 0);
    if (shot.isNull() || !PanelUntouched(form, job)) return;
    form.WebPreview.Capture = job.Capture;
    form.Image->resize(ImageBoxSide, ImageBoxSide);
    form.Image->setScaledContents(true);
    form.Image->setPixmap(shot);
}

// Asks the page whether it has taken the capture size and drawn two frames since; grabs when
// it has or when the wait is over.
void AwaitRepaint(TMainForm& form, const TWebJob& job) {
    if (!IsCurrent(form, job)) return;
    if (job.Repaint->elapsed() >= RepaintTimeoutMs) {
        QTimer::singleShot(RepaintSettleMs, form.WebBrowser, [&form, job] { Grab(form, job); });
        return;
    }
    const QString key = QStringLiteral("pictorFrames%1").arg(job.Generation);
    const QString script =
        QStringLiteral("(function(){try{"
                       "var r=window.devicePixelRatio;"
                       "if(Math.round(innerWidth*r)!==%1||Math.round(innerHeight*r)!==%2)"
                       "return 0;"
                       "if(!window.%3){window.%3=1;requestAnimationFrame(function(){"
                       "requestAnimationFrame(function(){window.%3=2;});});}"
                       "return window.%3;}catch(e){return -1;}})()")
            .arg(job.Capture.width())
            .arg(job.Capture.height())
            .arg(key);
    form.WebBrowser->page()->runJavaScript(
        script, QWebEngineScript::ApplicationWorld, [&form, job](const QVariant& result) {
            // An empty answer: the page or the view went away; the time limit ends the job.
            if (!result.isValid() || !IsCurrent(form, job)) return;
            if (result.toInt() == 2)
                QTimer::singleShot(RepaintSettleMs, form.WebBrowser,
                                   [&form, job] { Grab(form, job); });
            else
                QTimer::singleShot(RepaintPollMs, form.WebBrowser,
                                   [&form, job] { AwaitRepaint(form, job); });
        });
}

// The loaded page's body size decides the capture size.
void MeasurePage(TMainForm& form, TWebJob job) {
    static const QString script = QStringLiteral(
        "(function(){try{var b=document.body;"
        "return b?[b.scrollWidth,b.scrollHeight]:[0,0];}catch(e){return [0,0];}})()");
    form.WebBrowser->page()->runJavaScript(
        script, QWebEngineScript::ApplicationWorld, [&form, job](const QVariant& result) mutable {
            if (!result.isValid() || !IsCurrent(form, job)) return;
            const QVariantList size = result.toList();
            const TBoxSize capture = WebCaptureSize(size.value(0).toInt(), size.value(1).toInt());
            job.Capture = QSize(capture.Width, capture.Height);
            form.WebBrowser->resize(job.Capture);
            job.Repaint = std::make_shared<QElapsedTimer>();
            job.Repaint->start();
            AwaitRepaint(form, job);
        });
}

} // namespace

void TMainForm::ShowHtml(const std::string& path) {
    // Starting the engine the first time takes a moment.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestoreCursor {
        ~TRestoreCursor() { QGuiApplication::restoreOverrideCursor(); }
    } restoreCursor;

    TWebJob job;
    job.Generation = ++WebPreview.Generation;
    job.Url = QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
    job.Name = Label2->text();
    job.Folder = QString::fromStdString(ShellListView->FolderPath());
    if (!WebBrowser) WebBrowser = CreateBrowser(*this);
    WebBrowser->resize(0, 0);

    // The load's outcome is taken from the events of this page only: an earlier page that
    // stops or fails late is ignored.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(WebBrowser->page(), &QWebEnginePage::loadingChanged, WebBrowser,
                          [this, job, connection](const QWebEngineLoadingInfo& info) {
                              const auto status = info.status();
                              const bool ended =
                                  (status == QWebEngineLoadingInfo::LoadSucceededStatus ||
                                   status == QWebEngineLoadingInfo::LoadFailedStatus) &&
                                  SameUrl(info.url(), job.Url);
                              if (ended) *job.Loaded = true;
                              if (!IsCurrent(*this, job) || ended) disconnect(*connection);
                              if (!IsCurrent(*this, job) || !ended) return;
                              if (status == QWebEngineLoadingInfo::LoadSucceededStatus)
                                  MeasurePage(*this, job);
                              else
                                  GiveUp(*this, job);
                          });
    QTimer::singleShot(PageTimeoutMs, WebBrowser, [this, job] {
        // Still loading this page, or still capturing it: the page may hold its renderer in an
        // endless script. A fresh view (and with it a fresh renderer) keeps it from blocking
        // the next previews too.
        const bool stuck = WebBrowser->property(JobGenerationProperty).toUInt() == job.Generation &&
                           (!*job.Loaded || IsCurrent(*this, job));
        GiveUp(*this, job);
        if (!stuck) return;
        WebBrowser->deleteLater();
        WebBrowser = nullptr;
    });
    WebBrowser->setProperty(JobUrlProperty, job.Url);
    WebBrowser->setProperty(JobGenerationProperty, job.Generation);
    WebBrowser->load(job.Url);
    Image->resize(ImageBoxSide, ImageBoxSide);
}

} // namespace pictor
