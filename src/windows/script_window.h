// SPDX-License-Identifier: MIT
#pragma once
// Scripts in the main window: the File menu's Run Script and Stop Script, the running script's
// name and pass/fail count in the status bar, its log and result in the monitor (marked "##",
// never taken for a unit) and in the capture, and an error box naming file:line. Until a script
// runs, nothing of the window changes but the two menu entries.

#include <QObject>
#include <memory>

#include "session/script_host.h"

class AppContext;
class QAction;
class QLabel;
class TfrmMain;

class ScriptWindow final : public QObject {
    Q_OBJECT
public:
    ScriptWindow(AppContext& context, TfrmMain& main);
    ~ScriptWindow() override;

    // Asks for a file and runs it, as the menu entry does.
    void runScriptClick();
    void runScript(const QString& path, const ScriptHost::Args& args = {});
    void stopScript();
    [[nodiscard]] ScriptHost& host() { return *m_host; }

    QAction* mmRunScript = nullptr;
    QAction* mmStopScript = nullptr;
    QLabel* sBarScript = nullptr;

private:
    void show(const QString& line);
    void showCount();
    void finished(const ScriptResult& result);

    AppContext& m_ctx;
    TfrmMain& m_main;
    std::unique_ptr<ScriptHost> m_host;
};
