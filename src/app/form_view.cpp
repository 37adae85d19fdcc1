#include "form_view.h"

#include <tbb/info.h>

#include <QApplication>
#include <QCursor>
#include <string>

#include "base/working_folder.h"
#include "commands.h"
#include "icons.h"
#include "render/viewpoint_file.h"
#include "render_window.h"
#include "scene/diagnostics.h"

namespace lumeno::app {

namespace {

QAction* MakeCommand(QObject* parent, int id, const char* prompt) {
    auto* action = new QAction(CommandIcon(id), ToolTip(prompt), parent);
    action->setData(id);
    action->setToolTip(ToolTip(prompt));
    action->setStatusTip(StatusPrompt(prompt));
    return action;
}

}  // namespace

CLumeno_wndView::CLumeno_wndView(const ShellOptions& options, QWidget* parent)
    : QWidget(parent), options_(options) {
    sceneLoadAction_ = MakeCommand(this, kIdSceneLoad, kPromptSceneLoad);
    renderAction_ = MakeCommand(this, kIdRender, kPromptRender);
    renderAction_->setCheckable(true);
    renderAction_->setEnabled(false);  // until a scene is loaded
    saveViewpointAction_ = MakeCommand(this, kIdSaveViewpoint, kPromptSaveViewpoint);
    loadViewpointAction_ = MakeCommand(this, kIdLoadViewpoint, kPromptLoadViewpoint);
    connect(sceneLoadAction_, &QAction::triggered, this, &CLumeno_wndView::OnSceneLoad);
    connect(renderAction_, &QAction::triggered, this, &CLumeno_wndView::OnRender);
    connect(saveViewpointAction_, &QAction::triggered, this, &CLumeno_wndView::OnSaveViewpoint);
    connect(loadViewpointAction_, &QAction::triggered, this, &CLumeno_wndView::OnLoadViewpoint);
    // The form is empty; it only needs a size for the frame to fit around.
    setMinimumSize(480, 300);
}

CLumeno_wndView::~CLumeno_wndView() {
    // The render window's worker uses the scene and, through the triangles,
    // the readers' material tables: it must end before they do.
    delete renderWindow_;
    renderWindow_ = nullptr;
}

void CLumeno_wndView::Shutdown() {
    if (renderWindow_ != nullptr) {
        renderWindow_->StopRendering();
    }
}

QAction* CLumeno_wndView::Command(int id) const {
    switch (id) {
        case kIdSceneLoad:
            return sceneLoadAction_;
        case kIdRender:
            return renderAction_;
        case kIdSaveViewpoint:
            return saveViewpointAction_;
        case kIdLoadViewpoint:
            return loadViewpointAction_;
        default:
            return nullptr;
    }
}

QString CLumeno_wndView::RenderStatus() const {
    if (renderWindow_ == nullptr || !renderWindow_->Session().Enabled()) {
        return {};
    }
    if (options_.mode == RenderMode::Exact) {
        return tr("Rendering: exact mode, 1 thread");
    }
    int threads = options_.threads > 0 ? options_.threads : tbb::info::default_concurrency();
    return threads == 1 ? tr("Rendering: parallel mode, 1 thread")
                        : tr("Rendering: parallel mode, %1 threads").arg(threads);
}

void CLumeno_wndView::UpdateRenderCommand() {
    renderAction_->setEnabled(sceneUsable_);
    renderAction_->setChecked(renderWindow_ != nullptr && renderWindow_->Session().Enabled());
    emit renderStatusChanged(RenderStatus());
}

void CLumeno_wndView::AddMessages(const QStringList& texts) {
    if (texts.isEmpty()) {
        return;
    }
    messages_ += texts;
    if (messages_.size() > kMaxMessages) {
        messages_.erase(messages_.begin(), messages_.end() - kMaxMessages);
    }
    emit messagesChanged();
}

void CLumeno_wndView::AddMessage(const QString& text) {
    AddMessages({text});
    emit statusMessage(text);
}

void CLumeno_wndView::OnSceneLoad() {
    // A load replaces the triangles a running worker traces: stop it first.
    if (renderWindow_ != nullptr) {
        renderWindow_->StopRendering();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Diagnostics diagnostics;
    working_.Load(diagnostics);
    QApplication::restoreOverrideCursor();

    QStringList loadMessages;
    for (const Diagnostic& d : diagnostics.Entries()) {
        loadMessages << QString::fromStdString(FormatDiagnostic(d));
    }
    if (diagnostics.Dropped() > 0) {
        loadMessages << tr("… and %1 more").arg(diagnostics.Dropped());
    }
    // The list describes the scene on screen: the previous load's go.
    messages_.clear();
    AddMessages(loadMessages);
    if (loadMessages.isEmpty()) {
        emit messagesChanged();
    }

    if (renderWindow_ == nullptr) {
        renderWindow_ = new CMainView(working_.scene, this);
        renderWindow_->Session().SetMode(options_.mode, options_.threads);
        connect(renderWindow_, &CMainView::renderingStopped, this,
                &CLumeno_wndView::UpdateRenderCommand);
        connect(renderWindow_, &CMainView::sessionMessage, this, &CLumeno_wndView::AddMessage);
    }
    const Camera& camera = working_.scene.camera;
    sceneUsable_ = renderWindow_->ShowScene(camera.width, camera.height);
    UpdateRenderCommand();

    QString summary = QString::fromStdString(
        SizeTitle(camera.width, camera.height, working_.scene.objectTriangles.size()));
    if (!sceneUsable_) {
        AddMessage(tr("cannot allocate a %1 x %2 image; rendering is unavailable")
                       .arg(camera.width)
                       .arg(camera.height));
    } else if (renderWindow_->Session().ResumeFromCheckpoint()) {
        // A render of this very scene and view was saved here: Render goes on.
        emit statusMessage(tr("%1; Render continues from pass %2")
                               .arg(summary)
                               .arg(renderWindow_->Session().ResumePass()));
    } else if (!loadMessages.isEmpty()) {
        emit statusMessage(loadMessages.front() +
                           (loadMessages.size() > 1
                                ? QStringLiteral("  (+%1)").arg(loadMessages.size() - 1)
                                : QString()));
    } else {
        emit statusMessage(summary);
    }
}

void CLumeno_wndView::OnRender() {
    if (renderWindow_ == nullptr || !sceneUsable_) {
        UpdateRenderCommand();
        return;
    }
    renderWindow_->Session().OnRender();
    UpdateRenderCommand();
}

void CLumeno_wndView::OnSaveViewpoint() {
    if (Status saved = SaveViewpoint(working_.scene.camera, kViewpointPath); saved) {
        emit statusMessage(QStringLiteral("%1: %2").arg(StatusPrompt(kPromptSaveViewpoint),
                                                        QString::fromUtf8(kViewpointPath)));
    } else {
        AddMessage(QString::fromStdString(saved.Message()));
    }
}

void CLumeno_wndView::OnLoadViewpoint() {
    Camera camera = working_.scene.camera;
    ViewpointLoadResult result = LoadViewpoint(camera, kViewpointPath);
    if (!result.error.empty()) {
        AddMessage(QString::fromStdString(result.error));
    } else {
        emit statusMessage(QStringLiteral("%1: %2").arg(StatusPrompt(kPromptLoadViewpoint),
                                                        QString::fromUtf8(kViewpointPath)));
    }
    if (renderWindow_ == nullptr) {
        // No window to preview in yet: the camera is kept for the view.
        working_.scene.camera = camera;
        return;
    }
    renderWindow_->ApplyCamera(camera);
}

}  // namespace lumeno::app
