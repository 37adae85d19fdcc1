// The shell's command table: command ids, and the prompt strings that give
// each command its status-bar prompt and, after the line feed, its tool tip.
#pragma once

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

inline constexpr const char* kPromptFileOpen = "既存のﾌｧｲﾙを開く\n開く";
inline constexpr const char* kPromptFileSave = "作業中のﾌｧｲﾙを上書きして保存\n保存";
inline constexpr const char* kPromptSceneLoad = "シーン読み込み\nシーン読み込み";
inline constexpr const char* kPromptRender = "レンダリング\nレンダリング";
inline constexpr const char* kPromptSaveViewpoint = "視点の保存\n視点の保存";
inline constexpr const char* kPromptLoadViewpoint = "視点の読み込み\n視点の読み込み";

// The status-bar prompt: the prompt string up to its line feed.
inline QString StatusPrompt(const char* prompt) {
    QString text = QString::fromUtf8(prompt);
    return text.section(QLatin1Char('\n'), 0, 0);
}

// The tool tip: the prompt string after its line feed (all of it when there
// is none).
inline QString ToolTip(const char* prompt) {
    QString text = QString::fromUtf8(prompt);
    int split = text.indexOf(QLatin1Char('\n'));
    return split < 0 ? text : text.mid(split + 1);
}

}  // namespace lumeno::app
