// The desktop shell, driven through its commands and mouse events on the
// offscreen platform: the render window's size, title and reuse, a render
// from start to completion, mouse steering, the viewpoint commands, and how
// a camera change or quitting stops a running worker; the languages of the
// user interface; opening a working folder and the recent-folder list.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <memory>

#include "base/pfm_file.h"
#include "commands.h"
#include "form_view.h"
#include "language.h"
#include "main_frame.h"
#include "recent_folders.h"
#include "render_window.h"
#include "scene_folder.h"
#include "shell_options.h"

using namespace lumeno;
using namespace lumeno::app;

namespace {

void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), text.size());
}

// A scene of one square of two triangles in front of a camera at (0, 0, −5)
// looking along +z, whose basis is therefore ex = (1, 0, 0), ey = (0, 1, 0),
// ez = (0, 0, 1).
void WriteScene(int width, int height) {
    WriteText("obj/quad.obj",
              "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nvn 0 0 -1\n"
              "f 1//1 2//1 3//1\nf 1//1 3//1 4//1\n");
    WriteText("scene/scene.txt", QStringLiteral("camera_pos 0 0 -5\nlook_at 0 0 0\nsize %1 %2\n"
                                                "obj obj/quad.obj\nobj_end\n")
                                     .arg(width)
                                     .arg(height)
                                     .toUtf8());
}

// A uniform white environment without probe lights.
void WriteProbe() {
    QDir().mkpath("ibl");
    FloatPlane plane;
    QVERIFY(plane.Create(4, 4));
    plane.Fill(255.0f);
    QVERIFY(WritePfm("ibl/grace_probe.pfm", plane, plane, plane, 1.0f));
    WriteText("ibl/grace.txt", "1 0\n0 -1 0 0 0 0 1 1 1\n");
}

// A flat square of cells × cells cells, two triangles each, seen from the
// front: a scene that takes a while to load.
void WriteLargeScene(int cells) {
    QByteArray obj = "vn 0 0 -1\n";
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            obj += "v " + QByteArray::number(-1.0 + 2.0 * i / cells) + ' ' +
                   QByteArray::number(-1.0 + 2.0 * j / cells) + " 0\n";
        }
    }
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            QByteArray a = QByteArray::number(j * (cells + 1) + i + 1) + "//1 ";
            QByteArray b = QByteArray::number(j * (cells + 1) + i + 2) + "//1 ";
            QByteArray c = QByteArray::number((j + 1) * (cells + 1) + i + 1) + "//1 ";
            QByteArray d = QByteArray::number((j + 1) * (cells + 1) + i + 2) + "//1 ";
            obj += "f " + a + b + d + "\nf " + a + d + c + "\n";
        }
    }
    WriteText("obj/large.obj", obj);
    WriteText("scene/scene.txt",
              "camera_pos 0 0 -5\nlook_at 0 0 0\nsize 64 48\nobj obj/large.obj\nobj_end\n");
}

// Squares one behind the other across the whole of a wide view: no octree
// can separate them, so every path tests them all, and a pass crawls.
void WriteStackedScene(int layers, int width, int height) {
    QByteArray obj = "vn 0 0 -1\n";
    for (int k = 0; k < layers; ++k) {
        QByteArray z = QByteArray::number(-0.5 + double(k) / layers);
        obj += "v -1 -1 " + z + "\nv 1 -1 " + z + "\nv 1 1 " + z + "\nv -1 1 " + z + "\n";
        const int v = 4 * k;
        obj += QStringLiteral("f %1//1 %2//1 %3//1\nf %1//1 %3//1 %4//1\n")
                   .arg(v + 1)
                   .arg(v + 2)
                   .arg(v + 3)
                   .arg(v + 4)
                   .toUtf8();
    }
    WriteText("obj/stack.obj", obj);
    WriteText("scene/scene.txt", QStringLiteral("camera_pos 0 0 -1\nlook_at 0 0 0\nfocus 40\n"
                                                "size %1 %2\nobj obj/stack.obj\nobj_end\n")
                                     .arg(width)
                                     .arg(height)
                                     .toUtf8());
}

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, buttons,
                      modifiers);
    QApplication::sendEvent(widget, &event);
}

void Press(QWidget* w, QPoint at, Qt::MouseButton button) {
    SendMouse(w, QEvent::MouseButtonPress, at, button, button);
}
// A move, and then the wait for the camera change it asked for.
void Move(CMainView* w, QPoint at, Qt::MouseButtons held, Qt::KeyboardModifiers modifiers = {}) {
    SendMouse(w, QEvent::MouseMove, at, Qt::NoButton, held, modifiers);
    QVERIFY(QTest::qWaitFor([w] { return !w->Busy(); }, 60000));
}
void Release(QWidget* w, QPoint at, Qt::MouseButton button) {
    SendMouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

// Whether the view ends what it does in the background (a load, a camera
// change, a worker being stopped) within a minute.
[[nodiscard]] bool Settled(const CMainFrame& frame) {
    return QTest::qWaitFor([&frame] { return !frame.View()->Busy(); }, 60000);
}

// Runs the command and waits for what it started in the background.
void Trigger(CMainFrame& frame, int id) {
    frame.Command(id)->trigger();
    QVERIFY(Settled(frame));
}

bool Near(Vec3 a, Vec3 b, float tolerance = 1e-4f) {
    return std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance &&
           std::fabs(a.z - b.z) <= tolerance;
}

QByteArray Describe(Vec3 v) {
    return QByteArray::number(v.x) + " " + QByteArray::number(v.y) + " " + QByteArray::number(v.z);
}

#define VERIFY_NEAR(actual, expected) \
    QVERIFY2(Near((actual), (expected)), Describe(actual).constData())

void ResetCamera(Camera& camera) {
    camera.position = {0, 0, -5};
    camera.ex = {1, 0, 0};
    camera.ey = {0, 1, 0};
    camera.ez = {0, 0, 1};
}

// A folder under the current one holding the test scene (and the white
// probe); returns its canonical path. The working folder stays as it was.
QString MakeSceneFolder(const QString& name, int width, int height, bool probe) {
    QString root = QDir::currentPath();
    QDir().mkpath(name);
    QString folder = QDir(name).canonicalPath();
    QDir::setCurrent(folder);
    WriteScene(width, height);
    if (probe) {
        WriteProbe();
    }
    QDir::setCurrent(root);
    return folder;
}

QStringList MenuTitles(const CMainFrame& frame) {
    QStringList titles;
    for (QAction* action : frame.menuBar()->actions()) {
        titles << action->text();
    }
    return titles;
}

// Every text the menus and the tool bar show, in a fixed order: menu
// titles, item labels, status-bar prompts and tool tips.
QStringList ShownTexts(const CMainFrame& frame) {
    QStringList texts{frame.windowTitle()};
    QList<QAction*> actions;
    for (QAction* title : frame.menuBar()->actions()) {
        texts << title->text();
        actions << title->menu()->actions();
    }
    actions << frame.ToolBar()->actions();
    for (QAction* action : actions) {
        if (!action->isSeparator()) {
            texts << action->text() << action->statusTip() << action->toolTip();
        }
    }
    return texts;
}

// Parses lumeno's command line (after the program name) as main does.
ParsedCommandLine Parse(const QStringList& args) {
    QList<QByteArray> bytes{"lumeno"};
    for (const QString& arg : args) {
        bytes << arg.toUtf8();
    }
    std::vector<const char*> argv;
    for (const QByteArray& arg : bytes) {
        argv.push_back(arg.constData());
    }
    return ParseCommandLine(int(argv.size()), argv.data());
}

void SetLocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
    const std::pair<const char*, const char*> variables[] = {
        {"LC_ALL", lcAll}, {"LC_MESSAGES", lcMessages}, {"LANG", lang}};
    for (const auto& [name, value] : variables) {
        if (value == nullptr) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // The recent-folder list goes to a scratch settings folder, never
        // to the user's.
        QVERIFY(settingsDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            savedEnvironment_ << qgetenv(name);
        }
    }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        previous_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_->path()));
        QSettings(kSettingsOrganization, kSettingsApplication).clear();
        // The shell's texts as first written; the language tests choose.
        QVERIFY(ApplyLanguage(Language::Japanese));
    }
    void cleanup() {
        QDir::setCurrent(previous_);
        dir_.reset();
        int i = 0;
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const QByteArray& value = savedEnvironment_[i++];
            if (value.isNull()) {
                qunsetenv(name);
            } else {
                qputenv(name, value);
            }
        }
    }

    void theToolBarHoldsTheSixCommandsInOrder() {
        CMainFrame frame;
        QList<int> ids;
        for (QAction* action : frame.ToolBar()->actions()) {
            ids << (action->isSeparator() ? 0 : action->data().toInt());
        }
        QCOMPARE(ids, (QList<int>{kIdFileOpen, kIdFileSave, 0, kIdSceneLoad, kIdRender, 0,
                                  kIdSaveViewpoint, kIdLoadViewpoint}));
        QAction* render = frame.Command(kIdRender);
        QCOMPARE(render->toolTip(), QStringLiteral("レンダリング"));
        QCOMPARE(frame.Command(kIdFileOpen)->statusTip(), QStringLiteral("既存のﾌｧｲﾙを開く"));
        QCOMPARE(frame.Command(kIdFileOpen)->toolTip(), QStringLiteral("開く"));
        QCOMPARE(frame.Command(kIdSaveViewpoint)->statusTip(), QStringLiteral("視点の保存"));
        QVERIFY(render->isCheckable());
        // Nothing to render before a scene is loaded.
        QVERIFY(!render->isEnabled());
        QVERIFY(frame.View()->RenderWindow() == nullptr);
    }

    void sceneLoadSizesTheRenderWindowAndSetsItsTitle() {
        WriteScene(64, 48);
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        QVERIFY(window != nullptr);
        QVERIFY(window->isVisible());
        QCOMPARE(window->size(), QSize(64, 48));
        QCOMPARE(window->windowTitle(), QStringLiteral("64 x  48:  2 triangles"));
        QVERIFY(frame.Command(kIdRender)->isEnabled());
        // The preview: black edges on white, one pixel per image pixel.
        QCOMPARE(window->Frame().size(), QSize(64, 48));
        QCOMPARE(window->Frame().pixelColor(1, 1), QColor(Qt::white));
        // The square spans columns 22 … 41 at row 24 (0.2 · 48 either side).
        QCOMPARE(window->Frame().pixelColor(22, 24), QColor(Qt::black));
    }

    void aSecondLoadReusesAndResizesTheSameWindow() {
        WriteScene(64, 48);
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        CMainView* first = frame.View()->RenderWindow();
        WriteScene(40, 30);
        Trigger(frame, kIdSceneLoad);
        QCOMPARE(frame.View()->RenderWindow(), first);
        QCOMPARE(frame.View()->findChildren<CMainView*>().size(), 1);
        QCOMPARE(first->size(), QSize(40, 30));
        QCOMPARE(first->Frame().size(), QSize(40, 30));
        QCOMPARE(first->windowTitle(), QStringLiteral("40 x  30:  2 triangles"));
    }

    void aMissingSceneFileStillGivesTheDefaultWindowAndSaysWhy() {
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        QVERIFY(window != nullptr);
        QCOMPARE(window->size(), QSize(320, 240));
        QCOMPARE(window->windowTitle(), QStringLiteral("320 x  240:  0 triangles"));
        QVERIFY(!frame.View()->Messages().isEmpty());
        QVERIFY(frame.View()->Messages().front().contains("cannot open the scene file"));
    }

    void renderRunsATinySceneToCompletion() {
        WriteScene(40, 30);
        WriteProbe();
        CMainFrame frame(ShellOptions{RenderMode::Exact, 0});
        Trigger(frame, kIdSceneLoad);
        QAction* render = frame.Command(kIdRender);
        render->trigger();
        QVERIFY(render->isChecked());
        QCOMPARE(frame.RenderStatusText(),
                 QStringLiteral("レンダリング中: 厳密モード, 1 スレッド"));

        QTRY_VERIFY_WITH_TIMEOUT(!render->isChecked(), 300000);
        CMainView* window = frame.View()->RenderWindow();
        QVERIFY(!window->Session().WorkerRunning());
        QCOMPARE(window->Session().Schedule().PassCounter(), 1601);
        QTRY_COMPARE(window->windowTitle(), QStringLiteral("path = 1600 / 1600"));
        QVERIFY(frame.RenderStatusText().isEmpty());
        QVERIFY(QFile::exists("out/path_trace_16.pfm"));
        QVERIFY(QFile::exists("out/path_trace_1600.pfm"));
        QVERIFY(!QFile::exists("out/path_trace_1601.pfm"));
        // A white environment seen around a grey square: the picture is lit.
        QCOMPARE(window->Frame().pixelColor(0, 0), QColor(Qt::white));
    }

    void mouseDragsSteerTheCamera() {
        WriteScene(200, 150);
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        Camera& camera = frame.View()->GetScene().camera;
        VERIFY_NEAR(camera.ex, (Vec3{1, 0, 0}));
        const QImage preview = window->Frame();

        // Within the threshold nothing happens; (+50, 0) from the press
        // turns the view one radian to the left.
        Press(window, {10, 10}, Qt::LeftButton);
        Move(window, {12, 12}, Qt::LeftButton);
        VERIFY_NEAR(camera.ez, (Vec3{0, 0, 1}));
        QCOMPARE(window->Drag().lastX, 10);
        Move(window, {60, 10}, Qt::LeftButton);
        VERIFY_NEAR(camera.ez, (Vec3{-0.841471f, 0, 0.540302f}));
        VERIFY_NEAR(camera.ex, (Vec3{0.540302f, 0, 0.841471f}));
        QVERIFY(window->Frame() != preview);  // the preview follows the camera
        Release(window, {60, 10}, Qt::LeftButton);

        // 100 pixels in one event still turn one radian.
        ResetCamera(camera);
        Press(window, {0, 50}, Qt::LeftButton);
        Move(window, {100, 50}, Qt::LeftButton);
        VERIFY_NEAR(camera.ez, (Vec3{-0.841471f, 0, 0.540302f}));
        Release(window, {100, 50}, Qt::LeftButton);

        // An exact diagonal turns about ex: the view looks down.
        ResetCamera(camera);
        Press(window, {20, 20}, Qt::LeftButton);
        Move(window, {30, 30}, Qt::LeftButton);
        VERIFY_NEAR(camera.ex, (Vec3{1, 0, 0}));
        VERIFY_NEAR(camera.ez, (Vec3{0, std::sin(0.2f), std::cos(0.2f)}));
        Release(window, {30, 30}, Qt::LeftButton);

        // Control + (+10, 0) pans by −0.6 ex.
        ResetCamera(camera);
        Press(window, {20, 20}, Qt::LeftButton);
        Move(window, {30, 20}, Qt::LeftButton, Qt::ControlModifier);
        VERIFY_NEAR(camera.position, (Vec3{-0.6f, 0, -5}));
        VERIFY_NEAR(camera.ez, (Vec3{0, 0, 1}));
        Release(window, {30, 20}, Qt::LeftButton);

        // The right button dollies by 0.05 per pixel down, at most 10.
        ResetCamera(camera);
        Press(window, {50, 0}, Qt::RightButton);
        Move(window, {50, 10}, Qt::RightButton);  // D = 10: not yet
        VERIFY_NEAR(camera.position, (Vec3{0, 0, -5}));
        Move(window, {50, 40}, Qt::RightButton);
        VERIFY_NEAR(camera.position, (Vec3{0, 0, -3}));
        Move(window, {50, 440}, Qt::RightButton);
        VERIFY_NEAR(camera.position, (Vec3{0, 0, 7}));
        Release(window, {50, 440}, Qt::RightButton);
        QCOMPARE(window->Drag().dragMode, kDragNone);
    }

    void aReleaseOutsideTheWindowEndsTheDrag() {
        WriteScene(100, 80);
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        Camera& camera = frame.View()->GetScene().camera;

        Press(window, {10, 10}, Qt::LeftButton);
        QCOMPARE(window->Drag().dragMode, kDragLeft);
        Release(window, {-300, -200}, Qt::LeftButton);
        QCOMPARE(window->Drag().dragMode, kDragNone);
        Move(window, {80, 10}, Qt::NoButton);
        VERIFY_NEAR(camera.ez, (Vec3{0, 0, 1}));

        // A release the window never saw: the next move without the button
        // ends the drag instead of turning the camera.
        Press(window, {10, 10}, Qt::RightButton);
        Move(window, {10, 70}, Qt::NoButton);
        QCOMPARE(window->Drag().dragMode, kDragNone);
        VERIFY_NEAR(camera.position, (Vec3{0, 0, -5}));
    }

    void theViewpointComesBackAfterTurning() {
        WriteScene(64, 48);
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        Camera& camera = frame.View()->GetScene().camera;
        const QImage saved = window->Frame();

        frame.Command(kIdSaveViewpoint)->trigger();
        QVERIFY(QFile::exists("out/view.txt"));
        Press(window, {0, 0}, Qt::LeftButton);
        Move(window, {20, 7}, Qt::LeftButton);
        Release(window, {20, 7}, Qt::LeftButton);
        QVERIFY(!Near(camera.ez, {0, 0, 1}));
        QVERIFY(window->Frame() != saved);

        Trigger(frame, kIdLoadViewpoint);
        VERIFY_NEAR(camera.position, (Vec3{0, 0, -5}));
        VERIFY_NEAR(camera.ex, (Vec3{1, 0, 0}));
        VERIFY_NEAR(camera.ez, (Vec3{0, 0, 1}));
        VERIFY_NEAR(camera.lookAt, (Vec3{0, 0, -4}));  // one unit ahead of the eye
        QCOMPARE(window->Frame(), saved);
        QVERIFY(!window->Session().AccumulationReady());
    }

    void viewpointFilesLoadByPosition() {
        WriteScene(64, 48);
        CMainFrame frame;
        Trigger(frame, kIdSceneLoad);
        Camera& camera = frame.View()->GetScene().camera;

        WriteText("out/view.txt",
                  "camra_pos 1 2 3\ncamera_x 0 0 -1\nkey 0 1 0\nez 1 0 0\nlok_at 2 2 3\n");
        Trigger(frame, kIdLoadViewpoint);
        QCOMPARE(camera.position, (Vec3{1, 2, 3}));
        QCOMPARE(camera.ex, (Vec3{0, 0, -1}));
        QCOMPARE(camera.ey, (Vec3{0, 1, 0}));
        QCOMPARE(camera.ez, (Vec3{1, 0, 0}));
        QCOMPARE(camera.lookAt, (Vec3{2, 2, 3}));

        // Three lines: ez and lookAt stay, and the user is told.
        WriteText("out/view.txt", "camera_pos 4 5 6\ncamera_ex 1 0 0\ncamera_ey 0 -1 0\n");
        Trigger(frame, kIdLoadViewpoint);
        QCOMPARE(camera.position, (Vec3{4, 5, 6}));
        QCOMPARE(camera.ex, (Vec3{1, 0, 0}));
        QCOMPARE(camera.ey, (Vec3{0, -1, 0}));
        QCOMPARE(camera.ez, (Vec3{1, 0, 0}));
        QCOMPARE(camera.lookAt, (Vec3{2, 2, 3}));
        QVERIFY(frame.View()->Messages().back().contains("3 of 5"));
    }

    void loadViewpointBeforeASceneLoadSetsTheCameraOnly() {
        WriteText("out/view.txt",
                  "camera_pos 1 2 3\ncamera_ex 0 0 1\ncamera_ey 0 1 0\ncamera_ez -1 0 0\n"
                  "look_at 0 2 3\n");
        CMainFrame frame;
        Trigger(frame, kIdLoadViewpoint);
        QVERIFY(frame.View()->RenderWindow() == nullptr);
        const Camera& camera = frame.View()->GetScene().camera;
        QCOMPARE(camera.position, (Vec3{1, 2, 3}));
        QCOMPARE(camera.ez, (Vec3{-1, 0, 0}));
        QVERIFY(!frame.Command(kIdRender)->isEnabled());
    }

    void aCameraChangeWhileRenderingCancelsThePassAndTheNextRenderStartsAfresh() {
        WriteScene(200, 150);
        WriteProbe();
        CMainFrame frame(ShellOptions{RenderMode::Exact, 0});
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        RenderSession& session = window->Session();
        QAction* render = frame.Command(kIdRender);
        QSignalSpy passes(window, &CMainView::passFinished);

        render->trigger();
        QVERIFY(render->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(passes.count() >= 1, 300000);

        Press(window, {10, 10}, Qt::LeftButton);
        Move(window, {60, 10}, Qt::LeftButton);
        Release(window, {60, 10}, Qt::LeftButton);
        // Off at once, the worker gone, the preview of the turned camera shown.
        QVERIFY(!render->isChecked());
        QVERIFY(!session.Enabled());
        QVERIFY(!session.WorkerRunning());
        QVERIFY(!session.AccumulationReady());
        QVERIFY(frame.RenderStatusText().isEmpty());
        // Whatever the worker reported before it stopped arrives now; the
        // cancelled pass counted nowhere, and the preview's title stays.
        QCoreApplication::processEvents();
        QCOMPARE(session.Schedule().PassCounter(), passes.last().at(0).toInt());
        QCOMPARE(window->windowTitle(), QStringLiteral("200 x  150:  2 triangles"));

        passes.clear();
        render->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(passes.count() >= 1, 300000);
        // The first pass of the new start was pass 1.
        QCOMPARE(passes.first().at(0).toInt(), 2);
        // A scene load while rendering stops the worker before it loads.
        Trigger(frame, kIdSceneLoad);
        QVERIFY(!render->isChecked());
        QVERIFY(!session.WorkerRunning());
        QCOMPARE(window->windowTitle(), QStringLiteral("200 x  150:  2 triangles"));
    }

    void aStoppedRenderContinuesInTheNextWindowUntilTheCameraMoves() {
        WriteScene(40, 30);
        WriteProbe();
        int stoppedAt = 0;
        {
            CMainFrame frame(ShellOptions{RenderMode::Parallel, 1});
            Trigger(frame, kIdSceneLoad);
            CMainView* window = frame.View()->RenderWindow();
            QSignalSpy passes(window, &CMainView::passFinished);
            frame.Command(kIdRender)->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(passes.count() >= 3, 300000);
            frame.Command(kIdRender)->trigger();  // off: the pass under way finishes
            QTRY_VERIFY_WITH_TIMEOUT(!window->Session().WorkerRunning(), 300000);
            stoppedAt = window->Session().Schedule().PassCounter();
        }
        QVERIFY(QFile::exists("out/render.checkpoint"));

        CMainFrame frame(ShellOptions{RenderMode::Parallel, 1});
        Trigger(frame, kIdSceneLoad);
        QVERIFY2(frame.statusBar()->currentMessage().contains(
                     QStringLiteral("パス %1 から").arg(stoppedAt)),
                 qPrintable(frame.statusBar()->currentMessage()));
        CMainView* window = frame.View()->RenderWindow();
        QSignalSpy passes(window, &CMainView::passFinished);
        frame.Command(kIdRender)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(passes.count() >= 1, 300000);
        QCOMPARE(passes.first().at(0).toInt(), stoppedAt + 1);

        // Turning the camera discards the saved render with the image.
        Press(window, {10, 10}, Qt::LeftButton);
        Move(window, {30, 10}, Qt::LeftButton);
        Release(window, {30, 10}, Qt::LeftButton);
        QVERIFY(!QFile::exists("out/render.checkpoint"));
    }

    void quittingWhileRenderingStopsTheWorkerFirst() {
        WriteScene(200, 150);
        WriteProbe();
        auto frame = std::make_unique<CMainFrame>(ShellOptions{RenderMode::Parallel, 2});
        Trigger(*frame, kIdSceneLoad);
        QSignalSpy passes(frame->View()->RenderWindow(), &CMainView::passFinished);
        frame->Command(kIdRender)->trigger();
        QCOMPARE(frame->RenderStatusText(),
                 QStringLiteral("レンダリング中: 並列モード, 2 スレッド"));
        QTRY_VERIFY_WITH_TIMEOUT(passes.count() >= 1, 300000);
        // Closing the main frame stops the worker (in the background: the
        // window answers meanwhile), then closes and takes the render
        // window along, so that no window keeps the application running.
        CMainView* window = frame->View()->RenderWindow();
        const Vec3 position = window->ViewCamera().position;
        QVERIFY(!frame->close());
        // A drag while it closes turns nothing, and so keeps what the stop
        // saves for the next start.
        Press(window, {10, 10}, Qt::LeftButton);
        Move(window, {30, 10}, Qt::LeftButton);
        Release(window, {30, 10}, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 60000);
        QVERIFY(!window->Session().WorkerRunning());
        QVERIFY(window->ViewCamera().position == position);
        QVERIFY(QFile::exists("out/render.checkpoint"));
        frame->Command(kIdRender)->trigger();
        QVERIFY(window->Session().WorkerRunning() || window->Session().Enabled());
        // Destroying the frame joins the worker before the scene, the
        // readers and the session go; the sanitizer build checks the rest.
        frame.reset();
        QCoreApplication::processEvents();
    }

    void aSlowLoadLeavesTheWindowAnsweringAndTheCommandsWaiting() {
        WriteScene(40, 30);
        CMainFrame frame(ShellOptions{RenderMode::Exact, 0});
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        QVERIFY(frame.Command(kIdRender)->isEnabled());

        constexpr int kCells = 400;
        WriteLargeScene(kCells);
        // A timer that keeps firing shows the event loop running; the longest
        // gap between its ticks is the longest the window stood still.
        int ticksWhileLoading = 0;
        qint64 longestStall = 0;
        QElapsedTimer sinceTick;
        QTimer timer;
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, [&] {
            if (frame.View()->Loading()) {
                ++ticksWhileLoading;
                longestStall = std::max(longestStall, sinceTick.restart());
            }
        });
        frame.Command(kIdSceneLoad)->trigger();
        sinceTick.start();
        timer.start();
        QVERIFY(frame.View()->Loading());
        QVERIFY(frame.ProgressText().startsWith(QStringLiteral("シーン読み込み中")));
        // Nothing that touches the scene runs before the load is done.
        for (int id : {kIdSceneLoad, kIdRender, kIdSaveViewpoint, kIdLoadViewpoint, kIdFileOpen}) {
            QVERIFY2(!frame.Command(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        frame.View()->OnRender();
        QVERIFY(!window->Session().Enabled() && !window->Session().WorkerRunning());
        QVERIFY(!frame.OpenFolder(QDir::currentPath()));
        QVERIFY(Settled(frame));
        timer.stop();
        qInfo("load of %d triangles: %d ticks, longest stall %lld ms", 2 * kCells * kCells,
              ticksWhileLoading, longestStall);
        QVERIFY(ticksWhileLoading >= 3);
        QVERIFY(frame.Command(kIdRender)->isEnabled());
        QVERIFY(frame.ProgressText().isEmpty());
        QCOMPARE(window->windowTitle(),
                 QStringLiteral("64 x  48:  %1 triangles").arg(2 * kCells * kCells));

        // Closing during a load waits for it, the window answering
        // meanwhile, and then closes; destroying the frame during a load
        // waits for it too (the sanitizer build checks nothing is freed
        // under the reader).
        frame.Command(kIdSceneLoad)->trigger();
        QVERIFY(!frame.close());
        QVERIFY(frame.View()->Loading());
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 60000);
        QVERIFY(!frame.View()->Busy());
        auto other = std::make_unique<CMainFrame>();
        other->Command(kIdSceneLoad)->trigger();
        QVERIFY(other->View()->Loading());
        other.reset();
    }

    void aLongPassShowsItsRowsAndACameraDragStopsItWithinTheRow() {
        constexpr int kWidth = 8192;
        constexpr int kHeight = 64;
        WriteStackedScene(200, kWidth, kHeight);
        WriteProbe();
        CMainFrame frame(ShellOptions{RenderMode::Exact, 0});
        Trigger(frame, kIdSceneLoad);
        CMainView* window = frame.View()->RenderWindow();
        QSignalSpy passes(window, &CMainView::passFinished);
        QSignalSpy progress(frame.View(), &CLumeno_wndView::passProgressChanged);
        frame.Command(kIdRender)->trigger();

        // The status bar counts the rows of the pass as they are traced.
        const QRegularExpression shown(
            QStringLiteral("^このパスでトレース済みの行: (\\d+) / %1$").arg(kHeight));
        auto nextCount = [&] {
            while (progress.wait(60000)) {
                QRegularExpressionMatch match = shown.match(progress.takeLast().at(0).toString());
                if (match.hasMatch()) {
                    return match.captured(1).toInt();
                }
            }
            return -1;
        };
        const int first = nextCount();
        QElapsedTimer clock;
        clock.start();
        const int second = nextCount();
        QVERIFY2(first >= 1 && second > first && second < kHeight,
                 qPrintable(QStringLiteral("%1, %2").arg(first).arg(second)));
        const qint64 rowMs = clock.elapsed() / (second - first);
        QCOMPARE(frame.ProgressText(),
                 QStringLiteral("このパスでトレース済みの行: %1 / %2").arg(second).arg(kHeight));

        // A drag just after a row ended: were the pass abandoned only at the
        // end of a row, the worker would go on for about a row's time.
        clock.restart();
        Press(window, {10, 10}, Qt::LeftButton);
        SendMouse(window, QEvent::MouseMove, {60, 10}, Qt::NoButton, Qt::LeftButton);
        const qint64 handledMs = clock.elapsed();
        QVERIFY(Settled(frame));
        const qint64 stoppedMs = clock.elapsed();
        Release(window, {60, 10}, Qt::LeftButton);
        qInfo(
            "row: %lld ms; drag handled in %lld ms; pass abandoned and preview drawn after %lld ms",
            rowMs, handledMs, stoppedMs);
        QVERIFY(handledMs < rowMs / 4);
        QVERIFY(stoppedMs < rowMs / 2);
        QVERIFY(!frame.Command(kIdRender)->isChecked());
        QVERIFY(!window->Session().WorkerRunning());
        QVERIFY(passes.isEmpty());
        QVERIFY(frame.ProgressText().isEmpty());
        QCOMPARE(window->windowTitle(),
                 QStringLiteral("%1 x  %2:  400 triangles").arg(kWidth).arg(kHeight));
    }

    void theLanguageFollowsTheLocaleUnlessLangSaysOtherwise_data() {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("japanese");
        QTest::newRow("C.UTF-8") << QByteArray("C.UTF-8") << QStringList{} << false;
        QTest::newRow("ja_JP.UTF-8") << QByteArray("ja_JP.UTF-8") << QStringList{} << true;
        QTest::newRow("C.UTF-8, --lang ja")
            << QByteArray("C.UTF-8") << QStringList{"--lang", "ja"} << true;
        QTest::newRow("ja_JP.UTF-8, --lang en")
            << QByteArray("ja_JP.UTF-8") << QStringList{"--lang", "en"} << false;
    }
    void theLanguageFollowsTheLocaleUnlessLangSaysOtherwise() {
        QFETCH(QByteArray, locale);
        QFETCH(QStringList, args);
        QFETCH(bool, japanese);
        SetLocaleEnvironment(nullptr, nullptr, locale.constData());
        ParsedCommandLine parsed = Parse(args);
        QVERIFY(!parsed.exitStatus);
        QVERIFY(ApplyLanguage(StartupLanguage(parsed.line)));
        WriteScene(64, 48);
        CMainFrame frame;
        QList<std::pair<int, QString>> prompts;
        if (japanese) {
            QCOMPARE(MenuTitles(frame),
                     (QStringList{QStringLiteral("ﾌｧｲﾙ(&F)"), QStringLiteral("編集(&E)"),
                                  QStringLiteral("表示(&V)"), QStringLiteral("ﾍﾙﾌﾟ(&H)")}));
            prompts = {{kIdFileOpen, QStringLiteral("既存のﾌｧｲﾙを開く\n開く")},
                       {kIdFileSave, QStringLiteral("作業中のﾌｧｲﾙを上書きして保存\n保存")},
                       {kIdSceneLoad, QStringLiteral("シーン読み込み\nシーン読み込み")},
                       {kIdRender, QStringLiteral("レンダリング\nレンダリング")},
                       {kIdSaveViewpoint, QStringLiteral("視点の保存\n視点の保存")},
                       {kIdLoadViewpoint, QStringLiteral("視点の読み込み\n視点の読み込み")}};
        } else {
            QCOMPARE(MenuTitles(frame), (QStringList{"&File", "&Edit", "&View", "&Help"}));
            prompts = {{kIdFileOpen, "Open a scene folder\nOpen"},
                       {kIdRender, "Start or stop rendering\nRender"}};
        }
        for (const auto& [id, prompt] : prompts) {
            QAction* action = frame.Command(id);
            QCOMPARE(action->statusTip() + '\n' + action->toolTip(), prompt);
        }
        // Titles that are program output read the same in every language.
        Trigger(frame, kIdSceneLoad);
        QCOMPARE(frame.View()->RenderWindow()->windowTitle(),
                 QStringLiteral("64 x  48:  2 triangles"));
    }

    void onlyAJapaneseMessagesLocaleChoosesJapanese() {
        for (const char* name : {"ja", "ja_JP", "ja_JP.eucJP", "ja_JP.UTF-8@cjknarrow"}) {
            QVERIFY2(LanguageFromLocaleName(QString::fromLatin1(name)) == Language::Japanese, name);
        }
        for (const char* name : {"", "C", "C.UTF-8", "POSIX", "en_JP.UTF-8", "jv_ID", "jam"}) {
            QVERIFY2(LanguageFromLocaleName(QString::fromLatin1(name)) == Language::English, name);
        }
        // LC_ALL, then LC_MESSAGES, then LANG; an empty one counts as unset.
        SetLocaleEnvironment("C.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8");
        QVERIFY(LanguageFromEnvironment() == Language::English);
        SetLocaleEnvironment("", "ja_JP.UTF-8", "C.UTF-8");
        QVERIFY(LanguageFromEnvironment() == Language::Japanese);
        SetLocaleEnvironment(nullptr, nullptr, nullptr);
        QVERIFY(LanguageFromEnvironment() == Language::English);
        QCOMPARE(Parse({"--lang", "fr"}).exitStatus.value_or(0), 2);
    }

    void japaneseLeavesNoMenuOrToolBarTextInEnglish() {
        QVERIFY(ApplyLanguage(Language::English));
        QStringList english = ShownTexts(CMainFrame());
        QVERIFY(ApplyLanguage(Language::Japanese));
        QStringList japanese = ShownTexts(CMainFrame());
        QCOMPARE(japanese.size(), english.size());
        for (qsizetype i = 0; i < english.size(); ++i) {
            if (!english[i].isEmpty()) {
                QVERIFY2(!japanese[i].isEmpty() && japanese[i] != english[i],
                         english[i].toUtf8().constData());
            }
        }
    }

    void openMakesAFolderCurrentAfterStoppingTheRender() {
        const QString root = QDir::currentPath();
        const QString a = MakeSceneFolder("a", 200, 150, true);
        const QString b = MakeSceneFolder("b", 24, 18, false);
        QVERIFY(QDir().mkpath("empty"));
        CMainFrame frame(ShellOptions{RenderMode::Exact, 0});

        QVERIFY(frame.OpenFolder(a));
        QVERIFY(Settled(frame));
        QCOMPARE(QDir::currentPath(), a);
        CMainView* window = frame.View()->RenderWindow();
        QVERIFY(window != nullptr);
        QCOMPARE(window->size(), QSize(200, 150));
        QAction* render = frame.Command(kIdRender);
        QSignalSpy passes(window, &CMainView::passFinished);
        render->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(passes.count() >= 1, 300000);

        QVERIFY(frame.OpenFolder(root + "/b/../b"));
        QVERIFY(Settled(frame));
        QVERIFY(!render->isChecked());
        QVERIFY(!window->Session().WorkerRunning());
        QCOMPARE(QDir::currentPath(), b);
        QCOMPARE(frame.View()->RenderWindow(), window);
        QCOMPARE(window->size(), QSize(24, 18));
        QCOMPARE(window->windowTitle(), QStringLiteral("24 x  18:  2 triangles"));
        QCOMPARE(frame.Recent().Entries(), (QStringList{b, a}));

        // Refused: no scene in it, not a folder, no such folder. The
        // working folder and the scene on screen stay.
        for (const QString& refused : {root + "/empty", b + "/scene/scene.txt", root + "/c"}) {
            QVERIFY2(!frame.OpenFolder(refused), qPrintable(refused));
            QCOMPARE(QDir::currentPath(), b);
        }
        QCOMPARE(window->size(), QSize(24, 18));
        auto* box = frame.findChild<QMessageBox*>();
        QVERIFY(box != nullptr && box->isVisible());
        QVERIFY(box->text().contains(QDir::toNativeSeparators(root + "/empty")));
        QVERIFY(box->text().contains("scene/scene.txt"));

        // The next run lists the same folders, newest first; one that has
        // lost its scene is refused from the list and leaves it.
        CMainFrame next;
        QList<QAction*> entries = next.RecentFolderActions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->data().toString(), b);
        QCOMPARE(entries[1]->data().toString(), a);
        QVERIFY(QFile::remove(a + "/scene/scene.txt"));
        entries[1]->trigger();
        QCOMPARE(QDir::currentPath(), b);
        QCOMPARE(next.Recent().Entries(), QStringList{b});
        QCOMPARE(CMainFrame().Recent().Entries(), QStringList{b});
    }

    void droppingAFolderOnTheMainWindowOpensIt() {
        const QString a = MakeSceneFolder("a", 40, 30, false);
        CMainFrame frame;
        QMimeData file;
        file.setUrls({QUrl::fromLocalFile(a + "/scene/scene.txt")});
        QDragEnterEvent fileEnter(QPoint(5, 5), Qt::CopyAction, &file, Qt::LeftButton,
                                  Qt::NoModifier);
        QApplication::sendEvent(&frame, &fileEnter);
        QVERIFY(!fileEnter.isAccepted());

        QMimeData folder;
        folder.setUrls({QUrl::fromLocalFile(a)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &folder, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&frame, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &folder, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &drop);
        QVERIFY(Settled(frame));
        QCOMPARE(QDir::currentPath(), a);
        QVERIFY(frame.View()->RenderWindow() != nullptr);
        QCOMPARE(frame.View()->RenderWindow()->size(), QSize(40, 30));
    }

    void theRecentFolderListKeepsTheFourNewestOnce() {
        RecentFolders recent;
        QStringList made;
        for (const char* name : {"a", "b", "c", "d", "e"}) {
            QVERIFY(QDir().mkpath(name));
            made << QDir(name).canonicalPath();
            recent.Add(QString::fromLatin1(name));
        }
        QCOMPARE(recent.Entries(), (QStringList{made[4], made[3], made[2], made[1]}));
        // The same folder spelled otherwise moves up rather than repeating.
        recent.Add("b/../c/.");
        QCOMPARE(recent.Entries(), (QStringList{made[2], made[4], made[3], made[1]}));

        QSettings settings("recent.ini", QSettings::IniFormat);
        recent.Save(settings);
        RecentFolders loaded;
        loaded.Load(settings);
        QCOMPARE(loaded.Entries(), recent.Entries());
        // A shorter list leaves no stale entries behind.
        for (int i : {4, 3, 1}) {
            recent.Remove(made[i]);
        }
        recent.Save(settings);
        loaded.Load(settings);
        QCOMPARE(loaded.Entries(), QStringList{made[2]});
    }

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString previous_;
    QTemporaryDir settingsDir_;
    QList<QByteArray> savedEnvironment_;
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
