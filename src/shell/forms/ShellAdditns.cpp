#include "shell/forms/ShellAdditns.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>
#include <QWindow>

#include <cmath>

namespace pictor {

TShellStatusBar::TShellStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("ShellStatusBar"));
    // Long hints arrive as status tips; QStatusBar shows them as a temporary message across the
    // whole bar, hiding the panels, and brings the panels back (with their texts) when the
    // message is cleared, which is exactly the hint behaviour wanted here.
    setSizeGripEnabled(true);
    AdjustToFont();
}

void TShellStatusBar::SetPanels(const std::vector<int>& widths) {
    for (QLabel* label : FPanels) {
        removeWidget(label);
        delete label;
    }
    FPanels.clear();
    for (std::size_t i = 0; i < widths.size(); ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        const bool last = i + 1 == widths.size();
        if (last)
            label->setMinimumWidth(widths[i]);
        else
            label->setFixedWidth(widths[i]);
        addWidget(label, last ? 1 : 0);
        FPanels.push_back(label);
    }
    PlaceEmbedded();
}

QString TShellStatusBar::PanelText(int index) const {
    return index >= 0 && index < PanelCount() ? FPanels[static_cast<std::size_t>(index)]->text()
                                              : QString();
}

void TShellStatusBar::SetPanelText(int index, const QString& text) {
    if (index >= 0 && index < PanelCount()) FPanels[static_cast<std::size_t>(index)]->setText(text);
}

int TShellStatusBar::PanelWidth(int index) const {
    return index >= 0 && index < PanelCount() ? FPanels[static_cast<std::size_t>(index)]->width()
                                              : 0;
}

void TShellStatusBar::SetEmbedded(QWidget* control) {
    FEmbedded = control;
    if (control) {
        control->setParent(this);
        // Forget it when it goes, so the bar never places a destroyed control.
        connect(control, &QObject::destroyed, this, [this, control] {
            if (FEmbedded == control) FEmbedded = nullptr;
        });
        control->show();
    }
    PlaceEmbedded();
}

int TShellStatusBar::HeightForFont(const QFont& font) {
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
    if (points > 9) return QFontMetrics(font).height() + 6;
    return 23;
}

void TShellStatusBar::AdjustToFont() {
    setFixedHeight(HeightForFont(font()));
    PlaceEmbedded();
}

void TShellStatusBar::PlaceEmbedded() {
    if (!FEmbedded) return;
    const int firstWidth = FPanels.empty() ? width() : FPanels.front()->width();
    FEmbedded->setGeometry(1, 2, std::max(firstWidth - 2, 0), std::max(height() - 2, 0));
    FEmbedded->raise();
}

void TShellStatusBar::changeEvent(QEvent* event) {
    QStatusBar::changeEvent(event);
    if (event->type() == QEvent::FontChange) AdjustToFont();
}

void TShellStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    PlaceEmbedded();
}

// ---- TShellSystemMenu ----

namespace {

constexpr const char* SystemMenuProperty = "pictorShellSystemMenu";

// The form, once it is known to have no component yet.
QWidget* FreeForm(QWidget* form) {
    if (form && TShellSystemMenu::Of(form))
        throw EShellSystemMenu("TShSystemMenu は同一フォーム上に1つ以上置けません。");
    return form;
}

} // namespace

TShellSystemMenu::TShellSystemMenu(QWidget* form) : QMenu(FreeForm(form)), FForm(form) {
    setObjectName(QStringLiteral("ShellSystemMenu"));
    if (!FForm) return;
    FForm->setProperty(SystemMenuProperty, QVariant::fromValue(static_cast<QObject*>(this)));
    if (auto* main = qobject_cast<QMainWindow*>(FForm))
        main->menuBar()->installEventFilter(this);
    auto* key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), FForm);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, this, [this] {
        PopupSystemMenu(FForm->mapToGlobal(QPoint(0, 0)));
    });
    connect(this, &QObject::destroyed, key, &QObject::deleteLater);
}

TShellSystemMenu::~TShellSystemMenu() {
    if (FForm && Of(FForm) == this) FForm->setProperty(SystemMenuProperty, QVariant());
    delete FSystemMenu;
}

TShellSystemMenu* TShellSystemMenu::Of(const QWidget* form) {
    if (!form) return nullptr;
    return dynamic_cast<TShellSystemMenu*>(form->property(SystemMenuProperty).value<QObject*>());
}

void TShellSystemMenu::SetEnableCommands(TSysCommands commands) {
    FEnableCommands = commands & AllSysCommands;
    if (!FForm) return;
    // The title bar's buttons follow; changing flags hides a shown window, so show it again.
    Qt::WindowFlags flags = FForm->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint;
    flags.setFlag(Qt::WindowMinimizeButtonHint, FEnableCommands & scMinimize);
    flags.setFlag(Qt::WindowMaximizeButtonHint, FEnableCommands & scMaximize);
    flags.setFlag(Qt::WindowCloseButtonHint, FEnableCommands & scClose);
    if (flags == FForm->windowFlags()) return;
    const bool shown = FForm->isVisible();
    FForm->setWindowFlags(flags);
    if (shown) FForm->show();
}

QMenu* TShellSystemMenu::SystemMenu() {
    delete FSystemMenu;
    FSystemMenu = new QMenu(FForm);
    FSystemMenu->setObjectName(QStringLiteral("SystemMenu"));
    const auto entries = StandardSystemMenu(FEnableCommands);
    const int insertAt = SystemMenuInsertIndex(entries, FInsertPos);
    const Qt::WindowStates state = FForm ? FForm->windowState() : Qt::WindowNoState;
    const bool normal = !(state & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
    auto addOwn = [&] {
        const auto own = actions();
        if (own.isEmpty()) return;
        // A line keeps the own items apart from the standard ones around them.
        if (!FSystemMenu->actions().isEmpty() && !FSystemMenu->actions().back()->isSeparator())
            FSystemMenu->addSeparator();
        for (QAction* a : own) FSystemMenu->addAction(a);
        if (insertAt < static_cast<int>(entries.size()) && entries[size_t(insertAt)].Id != 0)
            FSystemMenu->addSeparator();
    };
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        if (i == insertAt) addOwn();
        const TSysMenuEntry& e = entries[static_cast<size_t>(i)];
        if (e.Id == 0) {
            FSystemMenu->addSeparator();
            continue;
        }
        QString caption = QString::fromUtf8(SystemCommandCaption(e.Id).data(),
                                             int(SystemCommandCaption(e.Id).size()));
        QAction* a = FSystemMenu->addAction(caption);
        a->setData(e.Id);
        a->setStatusTip(QString::fromUtf8(SystemCommandHint(e.Id).data(),
                                          int(SystemCommandHint(e.Id).size())));
        if (e.Id == SysClose) a->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
        // Like any window's menu: restore only away from the normal state, move, size and
        // maximise only in it.
        bool enabled = e.Enabled;
        if (e.Id == SysRestore) enabled = enabled && !normal;
        if (e.Id == SysMove || e.Id == SysSize || e.Id == SysMaximize)
            enabled = enabled && normal;
        a->setEnabled(enabled);
        const int id = e.Id;
        QObject::connect(a, &QAction::triggered, this, [this, id] { RunSystemCommand(id); });
    }
    if (insertAt >= static_cast<int>(entries.size())) addOwn();
    return FSystemMenu;
}

void TShellSystemMenu::PopupSystemMenu(const QPoint& globalPos) {
    SystemMenu()->popup(globalPos);
}

void TShellSystemMenu::RunSystemCommand(int id) {
    if (!FForm) return;
    QWindow* handle = FForm->windowHandle();
    switch (id) {
    case SysRestore:
        FForm->showNormal();
        break;
    case SysMove:
        if (handle) handle->startSystemMove();
        break;
    case SysSize:
        if (handle) handle->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
        break;
    case SysMinimize:
        FForm->showMinimized();
        break;
    case SysMaximize:
        FForm->showMaximized();
        break;
    case SysClose:
        if (FEnableCommands & scClose) FForm->close();
        break;
    default:
        break;
    }
}

bool TShellSystemMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu) {
        auto* menuBar = qobject_cast<QMenuBar*>(watched);
        auto* context = static_cast<QContextMenuEvent*>(event);
        // Over a menu title the bar keeps its own behaviour; its empty part opens this menu.
        if (menuBar && !menuBar->actionAt(context->pos())) {
            PopupSystemMenu(context->globalPos());
            return true;
        }
    }
    return QMenu::eventFilter(watched, event);
}

} // namespace pictor
