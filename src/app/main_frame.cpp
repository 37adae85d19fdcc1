#include "main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
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

}  // namespace

CMainFrame::CMainFrame(const ShellOptions& options, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("無題 - %1").arg(QString::fromUtf8(kApplicationTitle)));
    view_ = new CLumeno_wndView(options, this);
    setCentralWidget(view_);
    for (int id : {kIdSceneLoad, kIdRender, kIdSaveViewpoint, kIdLoadViewpoint}) {
        commands_ << view_->Command(id);
    }

    renderStatus_ = new QLabel(this);
    statusBar()->addPermanentWidget(renderStatus_);
    statusBar()->showMessage(QStringLiteral("レディ"));
    connect(view_, &CLumeno_wndView::statusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text); });
    connect(view_, &CLumeno_wndView::renderStatusChanged, renderStatus_, &QLabel::setText);
    connect(view_, &CLumeno_wndView::messagesChanged, this, &CMainFrame::RefreshMessages);

    CreateMenus();
    CreateToolBar();
    // Stop the worker while everything it uses still exists, however the
    // application ends.
    connect(qApp, &QCoreApplication::aboutToQuit, view_, &CLumeno_wndView::Shutdown);
}

CMainFrame::~CMainFrame() {
    view_->Shutdown();
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
    QMenu* file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    QAction* fileNew = MakeAction(this, kIdFileNew, QStringLiteral("新規作成(&N)"),
                                  QStringLiteral("新規にﾌｧｲﾙを作成"), QKeySequence::New);
    QAction* fileOpen = MakePromptAction(this, kIdFileOpen, QStringLiteral("開く(&O)..."),
                                         kPromptFileOpen, QKeySequence::Open);
    QAction* fileSave = MakePromptAction(this, kIdFileSave, QStringLiteral("上書き保存(&S)"),
                                         kPromptFileSave, QKeySequence::Save);
    QAction* exit = MakeAction(this, kIdAppExit, QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"),
                               QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝを終了"));
    for (QAction* action : {fileNew, fileOpen, fileSave}) {
        connect(action, &QAction::triggered, this, &CMainFrame::ShowDocumentNote);
    }
    connect(exit, &QAction::triggered, this, &QWidget::close);
    file->addAction(fileNew);
    file->addAction(fileOpen);
    file->addAction(fileSave);
    file->addSeparator();
    file->addAction(exit);
    commands_ << fileNew << fileOpen << fileSave << exit;

    // The document holds nothing to edit: the commands are there, disabled.
    QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    const std::pair<const char*, QKeySequence::StandardKey> editCommands[] = {
        {"元に戻す(&U)", QKeySequence::Undo},
        {"切り取り(&T)", QKeySequence::Cut},
        {"ｺﾋﾟｰ(&C)", QKeySequence::Copy},
        {"貼り付け(&P)", QKeySequence::Paste}};
    for (const auto& [label, key] : editCommands) {
        QAction* action = edit->addAction(QString::fromUtf8(label));
        action->setShortcut(key);
        action->setEnabled(false);
    }

    viewMenu_ = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    QAction* statusBarToggle = MakeAction(this, kIdViewStatusBar, QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰ(&S)"),
                                          QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示"));
    statusBarToggle->setCheckable(true);
    statusBarToggle->setChecked(true);
    connect(statusBarToggle, &QAction::toggled, statusBar(), &QWidget::setVisible);
    QAction* messages = viewMenu_->addAction(QStringLiteral("読み込みﾒｯｾｰｼﾞ(&M)..."), this,
                                             &CMainFrame::ShowMessages);
    messages->setStatusTip(QStringLiteral("読み込みとレンダリングのﾒｯｾｰｼﾞを表示"));
    commands_ << statusBarToggle;
    // The tool bar toggle goes first, once the tool bar exists.
    viewMenu_->insertAction(messages, statusBarToggle);

    QMenu* help = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    QAction* about = MakeAction(this, kIdAppAbout,
                                QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 %1(&A)...").arg(kApplicationTitle),
                                QStringLiteral("ﾌﾟﾛｸﾞﾗﾑ情報、ﾊﾞｰｼﾞｮﾝ、著作権を表示"));
    connect(about, &QAction::triggered, this, &CMainFrame::ShowAbout);
    help->addAction(about);
    commands_ << about;
}

void CMainFrame::CreateToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("ﾂｰﾙ ﾊﾞｰ"), this);
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
    toggle->setText(QStringLiteral("ﾂｰﾙ ﾊﾞｰ(&T)"));
    toggle->setData(kIdViewToolbar);
    toggle->setStatusTip(QStringLiteral("ﾂｰﾙ ﾊﾞｰの表示/非表示"));
    commands_ << toggle;
    viewMenu_->insertAction(viewMenu_->actions().value(0), toggle);
}

void CMainFrame::ShowDocumentNote() {
    statusBar()->showMessage(QStringLiteral("文書にはデータがありません"), 3000);
}

void CMainFrame::ShowAbout() {
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("%1 のﾊﾞｰｼﾞｮﾝ情報").arg(kApplicationTitle));
    box.setIconPixmap(CommandIcon(kIdRender).pixmap(32, 32));
    box.setText(QStringLiteral("lumeno Version %1").arg(QStringLiteral(LUMENO_VERSION)));
    box.setInformativeText(QStringLiteral("Progressive path tracer"));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void CMainFrame::ShowMessages() {
    if (messagesDialog_ == nullptr) {
        auto* dialog = new QDialog(this);
        dialog->setWindowTitle(QStringLiteral("読み込みﾒｯｾｰｼﾞ"));
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
    view_->Shutdown();
    // Closing the main frame ends the application: the render window, a
    // window of its own, must not keep it running.
    if (CMainView* window = view_->RenderWindow()) {
        window->hide();
    }
    QMainWindow::closeEvent(event);
}

}  // namespace lumeno::app
