// The shell's command table: command ids, and the prompt strings that give
// each command its status-bar prompt and, after the line feed, its tool tip.
// The prompt strings are English; StatusPrompt and ToolTip give them in the
// language of the user interface.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace lumeno::app {

// Standard document commands.
inline constexpr int kIdFileNew = 57600;
inline constexpr int kIdFileOpen = 57601;
inline constexpr int kIdFileSave = 57603;
inline constexpr int kIdAppAbout = 57664;
inline constexpr int kIdAppExit = 57665;
inline constexpr int kIdViewToolbar = 59392;
inline constexpr int kIdViewStatusBar = 59393;

// The application's own commands, handled by the form view.
inline constexpr int kIdRender = 32772;
inline constexpr int kIdSceneLoad = 32773;
inline constexpr int kIdSaveViewpoint = 32775;
inline constexpr int kIdLoadViewpoint = 32776;

// The translation context of the prompt strings.
inline constexpr const char* kPromptContext = "Command";

inline constexpr const char* kPromptFileOpen =
    QT_TRANSLATE_NOOP("Command", "Open a scene folder\nOpen");
inline constexpr const char* kPromptFileSave =
    QT_TRANSLATE_NOOP("Command", "Save the active document\nSave");
inline constexpr const char* kPromptSceneLoad =
    QT_TRANSLATE_NOOP("Command", "Load the scene\nScene load");
inline constexpr const char* kPromptRender =
    QT_TRANSLATE_NOOP("Command", "Start or stop rendering\nRender");
inline constexpr const char* kPromptSaveViewpoint =
    QT_TRANSLATE_NOOP("Command", "Save the viewpoint\nSave viewpoint");
inline constexpr const char* kPromptLoadViewpoint =
    QT_TRANSLATE_NOOP("Command", "Load the viewpoint\nLoad viewpoint");

// The status-bar prompt: the translated prompt string up to its line feed.
inline QString StatusPrompt(const char* prompt) {
    QString text = QCoreApplication::translate(kPromptContext, prompt);
    return text.section(QLatin1Char('\n'), 0, 0);
}

// The tool tip: the translated prompt string after its line feed (all of it
// when there is none).
inline QString ToolTip(const char* prompt) {
    QString text = QCoreApplication::translate(kPromptContext, prompt);
    qsizetype split = text.indexOf(QLatin1Char('\n'));
    return split < 0 ? text : text.mid(split + 1);
}

}  // namespace lumeno::app
