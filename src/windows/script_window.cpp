// SPDX-License-Identifier: MIT
#include "windows/script_window.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "session/app_context.h"
#include "windows/frmMain.h"
#include "platform/prompts.h"

ScriptWindow::ScriptWindow(AppContext& context, TfrmMain& main) : m_ctx(context), m_main(main) {
    ScriptEnvironment env{context.port,
                          context.sender,
                          context.settings.link,
                          context.settings.module,
                          [&main](const QString& path) { return main.startCapture(path); },
                          [&main] { main.stopCapture(); },
                          {}};
    m_host = std::make_unique<ScriptHost>(std::move(env));
    connect(m_host.get(), &ScriptHost::logged, this, [this](const QString& text) { show(text); });
    connect(m_host.get(), &ScriptHost::checked, this, [this](const ScriptCheck& check) {
        show((check.passed ? QStringLiteral("PASS ") : QStringLiteral("FAIL ")) + check.name +
             (check.detail.isEmpty() ? QString() : QStringLiteral(": ") + check.detail));
        showCount();
    });
    connect(m_host.get(), &ScriptHost::finished, this, &ScriptWindow::finished);

    mmRunScript = new QAction(QStringLiteral("スクリプト実行 (Run Script)..."), this);
    mmStopScript = new QAction(QStringLiteral("スクリプト停止 (Stop Script)"), this);
    mmStopScript->setEnabled(false);
    connect(mmRunScript, &QAction::triggered, this, &ScriptWindow::runScriptClick);
    connect(mmStopScript, &QAction::triggered, this, &ScriptWindow::stopScript);
    if (main.mmFile) {
        main.mmFile->insertAction(main.mmQuit, mmRunScript);
        main.mmFile->insertAction(main.mmQuit, mmStopScript);
        main.mmFile->insertSeparator(main.mmQuit);
    }
    sBarScript = new QLabel(&main);
    sBarScript->setObjectName(QStringLiteral("sBarScript"));
    sBarScript->hide();
    main.statusBar()->addPermanentWidget(sBarScript);
}

ScriptWindow::~ScriptWindow() { m_main.receivePipeline().setUnitTap({}); }

void ScriptWindow::runScriptClick() {
    if (m_host->running()) return;
    const auto path = m_ctx.platform.prompts.openFileName(
        {QString(), QStringLiteral("lua"), {QStringLiteral("Lua スクリプト (*.lua)")}});
    if (path) runScript(*path);
}

void ScriptWindow::runScript(const QString& path, const ScriptHost::Args& args) {
    if (m_host->running()) return;
    m_host->setModelRow(m_main.modelRow());
    ScriptHost* host = m_host.get();
    // The receive path learns of the script only while one runs.
    m_main.receivePipeline().setUnitTap(
        [host](std::span<const std::uint8_t> unit) { host->unitReceived(unit); });
    mmRunScript->setEnabled(false);
    mmStopScript->setEnabled(true);
    sBarScript->show();
    show(QStringLiteral("start %1").arg(path));
    m_host->start(path, args);
    if (m_host->running()) showCount();
}

void ScriptWindow::stopScript() {
    m_host->stop(ScriptOutcome::Stopped, QStringLiteral("stopped by the user"));
}

void ScriptWindow::show(const QString& line) {
    const QString text = QStringLiteral("script: ") + line;
    m_main.appendLines({QStringLiteral("## ") + text});
    m_main.flushSoon();
    m_ctx.capture.note(text);
}

void ScriptWindow::showCount() {
    const ScriptResult& r = m_host->result();
    sBarScript->setText(QStringLiteral("%1  OK %2  NG %3")
                            .arg(QFileInfo(m_host->scriptName()).fileName())
                            .arg(r.passedCount())
                            .arg(r.failedCount()));
}

void ScriptWindow::finished(const ScriptResult& result) {
    m_main.receivePipeline().setUnitTap({});
    mmRunScript->setEnabled(true);
    mmStopScript->setEnabled(false);
    showCount();
    sBarScript->setText(sBarScript->text() + QStringLiteral("  ") + outcomeWord(result.outcome));
    show(QStringLiteral("%1, %2 checks, %3 failed%4")
             .arg(outcomeWord(result.outcome))
             .arg(result.checks.size())
             .arg(result.failedCount())
             .arg(result.message.isEmpty() ? QString() : QStringLiteral(": ") + result.message));
    if (result.outcome == ScriptOutcome::Error)
        m_ctx.platform.prompts.message(AppContext::kAppTitle, result.message,
                                       Prompts::Icon::Warning);
}
