// SPDX-License-Identifier: MIT
#pragma once
// What a script run produced: its checks and how it ended. Shared by the host, the headless
// runner's report and the window.

#include <QString>
#include <vector>

struct ScriptCheck {
    QString name;
    bool passed = false;
    QString detail;
    double seconds = 0;  // since the previous check, or the start: the case's own time
};

enum class ScriptOutcome { Running, Passed, Failed, Error, Stopped, TimedOut };

struct ScriptResult {
    ScriptOutcome outcome = ScriptOutcome::Running;
    // Error: "file:line: what"; Failed: fail()'s message, if that ended it; a stop's reason.
    QString message;
    std::vector<ScriptCheck> checks;
    double seconds = 0;

    [[nodiscard]] int passedCount() const;
    [[nodiscard]] int failedCount() const;
};

// "passed", "failed", "error", ... as the report and the monitor say it.
[[nodiscard]] QString outcomeWord(ScriptOutcome outcome);
// 0 all checks passed, 1 one failed (or fail()), 2 an error or a stop, 3 the overall timeout.
[[nodiscard]] int exitCodeFor(const ScriptResult& result);

// The JUnit XML report: one testsuite, a testcase per check with its time and detail, and a
// script error, stop or timeout as an error of its own testcase.
[[nodiscard]] QByteArray junitReport(const QString& suiteName, const ScriptResult& result);
