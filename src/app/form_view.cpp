#include "form_view.h"

#include <tbb/info.h>

#include <memory>
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
    working_.SetCancelFlag(&loadCancel_);
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
    // The render window's worker and background task use the scene and,
    // through the triangles, the readers' material tables: they must end
    // before these do. A load under way is called off rather than waited out.
    loadCancel_ = true;
    delete renderWindow_;
    renderWindow_ = nullptr;
}

void CLumeno_wndView::Shutdown() {
    loadCancel_ = true;
    if (renderWindow_ != nullptr) {
        renderWindow_->StopRendering();
    }
    loading_ = false;
}

bool CLumeno_wndView::WindDown() {
    // The application is closing: a load under way is of no use any more.
    loadCancel_ = true;
    return renderWindow_ != nullptr && renderWindow_->StopInBackground();
}

bool CLumeno_wndView::Busy() const {
    return renderWindow_ != nullptr && renderWindow_->Busy();
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
    if (renderWindow_ == nullptr || Busy() || !renderWindow_->Session().Enabled()) {
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
    const bool idle = !Busy();
    sceneLoadAction_->setEnabled(idle);
    saveViewpointAction_->setEnabled(idle);
    loadViewpointAction_->setEnabled(idle);
    renderAction_->setEnabled(sceneUsable_ && idle);
    renderAction_->setChecked(idle && renderWindow_ != nullptr &&
                              renderWindow_->Session().Enabled());
    emit renderStatusChanged(RenderStatus());
    if (!idle || renderWindow_ == nullptr || !renderWindow_->Session().WorkerRunning()) {
        emit passProgressChanged(QString());
    }
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

// What a load in the background hands back to the user interface.
struct CLumeno_wndView::LoadOutcome {
    FolderProblem folderProblem = FolderProblem::None;
    bool loaded = false;
    Diagnostics diagnostics;
    bool usable = false;
    bool resumes = false;
    int resumePass = 0;
    // The load was called off because the application is closing.
    bool calledOff = false;
    FolderEntered entered;
};

void CLumeno_wndView::OnSceneLoad() {
    LoadScene();
}

bool CLumeno_wndView::LoadScene(const QString& folder, FolderEntered entered) {
    if (Busy()) {
        return false;
    }
    if (renderWindow_ == nullptr) {
        renderWindow_ = new CMainView(working_.scene, this);
        renderWindow_->Session().SetMode(options_.mode, options_.threads);
        connect(renderWindow_, &CMainView::renderingStopped, this,
                &CLumeno_wndView::UpdateRenderCommand);
        connect(renderWindow_, &CMainView::sessionMessage, this, &CLumeno_wndView::AddMessage);
        connect(renderWindow_, &CMainView::busyChanged, this, [this](bool busy) {
            UpdateRenderCommand();
            emit busyChanged(busy);
        });
        connect(renderWindow_, &CMainView::rowsTraced, this, [this](int rows, int height) {
            // Rows of a pass that a camera change or a load is abandoning
            // are not worth showing.
            if (!Busy() && renderWindow_->Session().WorkerRunning()) {
                emit passProgressChanged(
                    tr("Rows traced in this pass: %1 of %2").arg(rows).arg(height));
            }
        });
    }
    auto outcome = std::make_shared<LoadOutcome>();
    outcome->entered = std::move(entered);
    RenderSession& session = renderWindow_->Session();
    // The render window stops the worker before this runs: the load replaces
    // the triangles it traces, and it saves into the working folder.
    auto load = [this, outcome, folder, &session] {
        if (!folder.isEmpty()) {
            outcome->folderProblem = EnterSceneFolder(folder);
            if (outcome->folderProblem != FolderProblem::None) {
                return;
            }
        }
        working_.Load(outcome->diagnostics);
        outcome->loaded = true;
        if (loadCancel_.load()) {
            // The application is closing: the preview and the search for a
            // saved render (slow on a large scene) would only delay it.
            outcome->calledOff = true;
            return;
        }
        const Camera& camera = working_.scene.camera;
        outcome->usable = session.SetImageSize(camera.width, camera.height);
        // Reading a saved render and fingerprinting the scene take a while
        // on a large one: here too, rather than in the user interface.
        if (outcome->usable && session.ResumeFromCheckpoint()) {
            outcome->resumes = true;
            outcome->resumePass = session.ResumePass();
        }
    };
    loading_ = true;
    emit loadingChanged(true);
    renderWindow_->ChangeScene(
        load, [this, outcome](const QString& failure) { FinishLoad(*outcome, failure); });
    return true;
}

void CLumeno_wndView::FinishLoad(const LoadOutcome& outcome, const QString& failure) {
    loading_ = false;
    emit loadingChanged(false);
    if (outcome.calledOff) {
        // Closing: the part-loaded scene is neither shown nor rendered.
        sceneUsable_ = false;
        UpdateRenderCommand();
        return;
    }
    if (outcome.folderProblem != FolderProblem::None) {
        UpdateRenderCommand();
        if (outcome.entered) {
            outcome.entered(outcome.folderProblem);
        }
        return;
    }

    QStringList loadMessages;
    for (const Diagnostic& d : outcome.diagnostics.Entries()) {
        loadMessages << QString::fromStdString(FormatDiagnostic(d));
    }
    if (outcome.diagnostics.Dropped() > 0) {
        loadMessages << tr("… and %1 more").arg(outcome.diagnostics.Dropped());
    }
    // The list describes the scene on screen: the previous load's go.
    messages_.clear();
    AddMessages(loadMessages);
    if (loadMessages.isEmpty()) {
        emit messagesChanged();
    }

    const Camera& camera = working_.scene.camera;
    renderWindow_->ShowScene(camera.width, camera.height);
    sceneUsable_ = outcome.usable && failure.isEmpty();
    UpdateRenderCommand();

    QString summary = QString::fromStdString(
        SizeTitle(camera.width, camera.height, working_.scene.objectTriangles.size()));
    if (!failure.isEmpty()) {
        AddMessage(tr("the scene load failed: %1; rendering is unavailable").arg(failure));
    } else if (!sceneUsable_) {
        AddMessage(tr("cannot allocate a %1 x %2 image; rendering is unavailable")
                       .arg(camera.width)
                       .arg(camera.height));
    } else if (outcome.resumes) {
        // A render of this very scene and view was saved here: Render goes on.
        emit statusMessage(
            tr("%1; Render continues from pass %2").arg(summary).arg(outcome.resumePass));
    } else if (!loadMessages.isEmpty()) {
        emit statusMessage(loadMessages.front() +
                           (loadMessages.size() > 1
                                ? QStringLiteral("  (+%1)").arg(loadMessages.size() - 1)
                                : QString()));
    } else {
        emit statusMessage(summary);
    }
    if (outcome.entered) {
        outcome.entered(FolderProblem::None);
    }
}

void CLumeno_wndView::OnRender() {
    if (renderWindow_ == nullptr || !sceneUsable_ || Busy()) {
        UpdateRenderCommand();
        return;
    }
    renderWindow_->Session().OnRender();
    UpdateRenderCommand();
}

void CLumeno_wndView::OnSaveViewpoint() {
    if (Busy()) {
        return;
    }
    if (Status saved = SaveViewpoint(working_.scene.camera, kViewpointPath); saved) {
        emit statusMessage(QStringLiteral("%1: %2").arg(StatusPrompt(kPromptSaveViewpoint),
                                                        QString::fromUtf8(kViewpointPath)));
    } else {
        AddMessage(QString::fromStdString(saved.Message()));
    }
}

void CLumeno_wndView::OnLoadViewpoint() {
    if (Busy()) {
        return;
    }
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
