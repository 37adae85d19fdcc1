#include "main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "commands.h"
#include "icons.h"
#include "render_window.h"

#ifndef LUMENO_VERSION
#define LUMENO_VERSION "0"
#endif

namespace lumeno::app {

namespace {

QAction* MakeAction(QObject* parent, int id, const QString& label, const QString& prompt,
                    QKeySequence shortcut = {}) {
    auto* action = new QAction(CommandIcon(id), label, parent);
    action->setData(id);
    action->setStatusTip(prompt);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
    }
    return action;
}

// An action from a prompt string: status-bar prompt, line feed, tool tip.
QAction* MakePromptAction(QObject* parent, int id, const QString& label, const char* prompt,
                          QKeySequence shortcut = {}) {
    QAction* action = MakeAction(parent, id, label, StatusPrompt(prompt), shortcut);
    action->setToolTip(ToolTip(prompt));
    return action;
}

QSettings ShellSettings() {
    return QSettings(QString::fromLatin1(kSettingsOrganization),
                     QString::fromLatin1(kSettingsApplication));
}

// The folder a drag carries: one local path that is a directory; empty for
// anything else (files, several items, remote addresses).
QString DraggedFolder(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1) {
        return {};
    }
    QUrl url = mime->urls().front();
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isDir()) {
        return {};
    }
    return url.toLocalFile();
}

}  // namespace

CMainFrame::CMainFrame(const ShellOptions& options, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(
        QStringLiteral("%1 - %2").arg(tr("Untitled"), QString::fromLatin1(kApplicationTitle)));
    setAcceptDrops(true);
    view_ = new CLumeno_wndView(options, this);
    setCentralWidget(view_);
    for (int id : {kIdSceneLoad, kIdRender, kIdSaveViewpoint, kIdLoadViewpoint}) {
        commands_ << view_->Command(id);
    }

    passProgress_ = new QLabel(this);
    loadProgress_ = new QLabel(this);
    busyIndicator_ = new QProgressBar(this);
    busyIndicator_->setRange(0, 0);  // the load cannot tell how far it is: just busy
    busyIndicator_->setTextVisible(false);
    busyIndicator_->setMaximumWidth(100);
    busyIndicator_->hide();
    renderStatus_ = new QLabel(this);
    for (QWidget* widget : std::initializer_list<QWidget*>{passProgress_, loadProgress_,
                                                           busyIndicator_, renderStatus_}) {
        statusBar()->addPermanentWidget(widget);
    }
    statusBar()->showMessage(tr("Ready"));
    connect(view_, &CLumeno_wndView::statusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text); });
    connect(view_, &CLumeno_wndView::renderStatusChanged, renderStatus_, &QLabel::setText);
    connect(view_, &CLumeno_wndView::passProgressChanged, passProgress_, &QLabel::setText);
    connect(view_, &CLumeno_wndView::messagesChanged, this, &CMainFrame::RefreshMessages);
    connect(view_, &CLumeno_wndView::busyChanged, this, &CMainFrame::UpdateBusy);
    loadTimer_.setInterval(500);
    connect(&loadTimer_, &QTimer::timeout, this, &CMainFrame::UpdateLoadProgress);
    connect(view_, &CLumeno_wndView::loadingChanged, this, [this](bool loading) {
        if (loading) {
            loadClock_.start();
            loadTimer_.start();
        } else {
            loadTimer_.stop();
        }
        UpdateLoadProgress();
    });

    QSettings settings = ShellSettings();
    recent_.Load(settings);
    CreateMenus();
    CreateToolBar();
    // Stop the worker while everything it uses still exists, however the
    // application ends.
    connect(qApp, &QCoreApplication::aboutToQuit, view_, &CLumeno_wndView::Shutdown);
}

CMainFrame::~CMainFrame() {
    view_->Shutdown();
}

QString CMainFrame::ProgressText() const {
    return loadProgress_->text().isEmpty() ? passProgress_->text() : loadProgress_->text();
}

void CMainFrame::UpdateLoadProgress() {
    if (!view_->Loading()) {
        busyIndicator_->hide();
        loadProgress_->clear();
        return;
    }
    busyIndicator_->show();
    qint64 seconds = loadClock_.elapsed() / 1000;
    loadProgress_->setText(seconds < 1 ? tr("Loading the scene…")
                                       : tr("Loading the scene… %1 s").arg(seconds));
}

void CMainFrame::UpdateBusy(bool busy) {
    // The working folder must not change under a load or a worker.
    Command(kIdFileOpen)->setEnabled(!busy);
    for (QAction* action : recentActions_) {
        action->setEnabled(!busy && !action->data().isNull());
    }
    if (!busy && closeWhenIdle_) {
        // Not from inside the signal: the task that just went idle is still
        // winding up its call.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}

QAction* CMainFrame::Command(int id) const {
    for (QAction* action : commands_) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void CMainFrame::CreateMenus() {
    fileMenu_ = menuBar()->addMenu(tr("&File"));
    QAction* fileNew =
        MakeAction(this, kIdFileNew, tr("&New"), tr("Create a new document"), QKeySequence::New);
    QAction* fileOpen =
        MakePromptAction(this, kIdFileOpen, tr("&Open..."), kPromptFileOpen, QKeySequence::Open);
    QAction* fileSave =
        MakePromptAction(this, kIdFileSave, tr("&Save"), kPromptFileSave, QKeySequence::Save);
    QAction* exit = MakeAction(this, kIdAppExit, tr("E&xit"), tr("Quit the application"));
    for (QAction* action : {fileNew, fileSave}) {
        connect(action, &QAction::triggered, this, &CMainFrame::ShowDocumentNote);
    }
    connect(fileOpen, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    fileMenu_->addAction(fileNew);
    fileMenu_->addAction(fileOpen);
    fileMenu_->addAction(fileSave);
    fileMenu_->addSeparator();
    // The recent folders go between these two separators.
    recentSeparator_ = fileMenu_->addSeparator();
    fileMenu_->addAction(exit);
    commands_ << fileNew << fileOpen << fileSave << exit;
    RefreshRecentFolders();

    // The document holds nothing to edit: the commands are there, disabled.
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    const std::pair<const char*, QKeySequence::StandardKey> editCommands[] = {
        {QT_TR_NOOP("&Undo"), QKeySequence::Undo},
        {QT_TR_NOOP("Cu&t"), QKeySequence::Cut},
        {QT_TR_NOOP("&Copy"), QKeySequence::Copy},
        {QT_TR_NOOP("&Paste"), QKeySequence::Paste}};
    for (const auto& [label, key] : editCommands) {
        QAction* action = edit->addAction(tr(label));
        action->setShortcut(key);
        action->setEnabled(false);
    }

    viewMenu_ = menuBar()->addMenu(tr("&View"));
    QAction* statusBarToggle =
        MakeAction(this, kIdViewStatusBar, tr("&Status Bar"), tr("Show or hide the status bar"));
    statusBarToggle->setCheckable(true);
    statusBarToggle->setChecked(true);
    connect(statusBarToggle, &QAction::toggled, statusBar(), &QWidget::setVisible);
    QAction* messages =
        viewMenu_->addAction(tr("Load &Messages..."), this, &CMainFrame::ShowMessages);
    messages->setStatusTip(tr("Show the messages of loading and rendering"));
    commands_ << statusBarToggle;
    // The tool bar toggle goes first, once the tool bar exists.
    viewMenu_->insertAction(messages, statusBarToggle);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* about = MakeAction(this, kIdAppAbout, tr("&About %1...").arg(kApplicationTitle),
                                tr("Display program information, version number and copyright"));
    connect(about, &QAction::triggered, this, &CMainFrame::ShowAbout);
    help->addAction(about);
    commands_ << about;
}

void CMainFrame::CreateToolBar() {
    toolBar_ = new QToolBar(tr("Toolbar"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(20, 20));
    toolBar_->addAction(Command(kIdFileOpen));
    toolBar_->addAction(Command(kIdFileSave));
    toolBar_->addSeparator();
    toolBar_->addAction(Command(kIdSceneLoad));
    toolBar_->addAction(Command(kIdRender));
    toolBar_->addSeparator();
    toolBar_->addAction(Command(kIdSaveViewpoint));
    toolBar_->addAction(Command(kIdLoadViewpoint));
    addToolBar(Qt::TopToolBarArea, toolBar_);

    QAction* toggle = toolBar_->toggleViewAction();
    toggle->setText(tr("&Toolbar"));
    toggle->setData(kIdViewToolbar);
    toggle->setStatusTip(tr("Show or hide the toolbar"));
    commands_ << toggle;
    viewMenu_->insertAction(viewMenu_->actions().value(0), toggle);
}

void CMainFrame::RefreshRecentFolders() {
    // Later, not now: the action that opened a folder may be the one
    // still delivering its triggered signal.
    for (QAction* action : recentActions_) {
        fileMenu_->removeAction(action);
        action->deleteLater();
    }
    recentActions_.clear();
    const QStringList& folders = recent_.Entries();
    if (folders.isEmpty()) {
        auto* placeholder = new QAction(tr("Recent Folders"), this);
        placeholder->setEnabled(false);
        recentActions_ << placeholder;
    }
    const bool busy = view_->Busy();
    for (int i = 0; i < folders.size(); ++i) {
        QString shown =
            fontMetrics().elidedText(QDir::toNativeSeparators(folders[i]), Qt::ElideMiddle, 360);
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        action->setData(folders[i]);
        action->setStatusTip(tr("Open this folder"));
        action->setEnabled(!busy);
        QString folder = folders[i];
        connect(action, &QAction::triggered, this, [this, folder] { OpenFolder(folder); });
        recentActions_ << action;
    }
    fileMenu_->insertActions(recentSeparator_, recentActions_);
}

void CMainFrame::OnFileOpen() {
    QString folder =
        QFileDialog::getExistingDirectory(this, tr("Open a Scene Folder"), QDir::currentPath());
    if (!folder.isEmpty()) {
        OpenFolder(folder);
    }
}

bool CMainFrame::OpenFolder(const QString& folder) {
    if (view_->Busy()) {
        statusBar()->showMessage(tr("Wait until the work under way has finished"), 3000);
        return false;
    }
    FolderProblem problem = CheckSceneFolder(folder);
    if (problem != FolderProblem::None) {
        FolderEntered(folder, problem);
        return false;
    }
    // The view stops the worker (which saves into "./out" of the working
    // folder) before it enters the folder, as before any scene load.
    return view_->LoadScene(
        folder, [this, folder](FolderProblem entered) { FolderEntered(folder, entered); });
}

void CMainFrame::FolderEntered(const QString& folder, FolderProblem problem) {
    QSettings settings = ShellSettings();
    if (problem != FolderProblem::None) {
        // A listed folder that no longer opens leaves the list.
        recent_.Remove(folder);
        recent_.Save(settings);
        RefreshRecentFolders();
        RefuseFolder(folder, problem);
        return;
    }
    QString current = QDir::currentPath();
    recent_.Add(current);
    recent_.Save(settings);
    RefreshRecentFolders();
    QString name = QDir(current).dirName();
    setWindowTitle(QStringLiteral("%1 - %2").arg(name.isEmpty() ? current : name,
                                                 QString::fromLatin1(kApplicationTitle)));
}

void CMainFrame::RefuseFolder(const QString& folder, FolderProblem problem) {
    QString shown = QDir::toNativeSeparators(folder);
    QString reason;
    switch (problem) {
        case FolderProblem::NotAFolder:
            reason = tr("%1\nis not a folder.").arg(shown);
            break;
        case FolderProblem::NoScene:
            reason = tr("%1\nholds no scene/scene.txt, so it cannot be opened.").arg(shown);
            break;
        case FolderProblem::CannotEnter:
        case FolderProblem::None:
            reason =
                tr("%1\ncannot be made the working folder (no permission to enter it).").arg(shown);
            break;
    }
    QString text =
        reason + QLatin1Char('\n') +
        tr("The working folder stays %1.").arg(QDir::toNativeSeparators(QDir::currentPath()));
    // Not modal to the application: the message waits while everything
    // else goes on.
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!view_->Busy() && !DraggedFolder(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    QString folder = DraggedFolder(event->mimeData());
    if (folder.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    OpenFolder(folder);
}

void CMainFrame::ShowDocumentNote() {
    statusBar()->showMessage(tr("The document holds no data"), 3000);
}

void CMainFrame::ShowAbout() {
    QMessageBox box(this);
    box.setWindowTitle(tr("About %1").arg(kApplicationTitle));
    box.setIconPixmap(CommandIcon(kIdRender).pixmap(32, 32));
    box.setText(tr("lumeno Version %1").arg(QStringLiteral(LUMENO_VERSION)));
    box.setInformativeText(tr("Progressive path tracer"));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void CMainFrame::ShowMessages() {
    if (messagesDialog_ == nullptr) {
        auto* dialog = new QDialog(this);
        dialog->setWindowTitle(tr("Load Messages"));
        dialog->resize(640, 320);
        auto* layout = new QVBoxLayout(dialog);
        messagesList_ = new QListWidget(dialog);
        layout->addWidget(messagesList_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
        layout->addWidget(buttons);
        messagesDialog_ = dialog;
    }
    RefreshMessages();
    messagesDialog_->show();
    messagesDialog_->raise();
}

void CMainFrame::RefreshMessages() {
    if (messagesDialog_ == nullptr || messagesList_ == nullptr) {
        return;
    }
    messagesList_->clear();
    messagesList_->addItems(view_->Messages());
    messagesList_->scrollToBottom();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Nothing may be destroyed under a load or a worker, and waiting for
    // them here would freeze the window: they are stopped in the background,
    // and the window closes once the view is idle.
    if (view_->WindDown()) {
        closeWhenIdle_ = true;
        event->ignore();
        statusBar()->showMessage(tr("Closing once the work under way has stopped…"));
        return;
    }
    closeWhenIdle_ = false;
    view_->Shutdown();
    // Closing the main frame ends the application: the render window, a
    // window of its own, must not keep it running.
    if (CMainView* window = view_->RenderWindow()) {
        window->hide();
    }
    QMainWindow::closeEvent(event);
}

}  // namespace lumeno::app
