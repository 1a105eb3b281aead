// SPDX-License-Identifier: MIT
#include "core/script_result.h"

#include <QXmlStreamWriter>
#include <algorithm>

int ScriptResult::passedCount() const {
    return static_cast<int>(
        std::count_if(checks.begin(), checks.end(), [](const ScriptCheck& c) { return c.passed; }));
}

int ScriptResult::failedCount() const { return static_cast<int>(checks.size()) - passedCount(); }

QString outcomeWord(ScriptOutcome outcome) {
    switch (outcome) {
        case ScriptOutcome::Running:
            return QStringLiteral("running");
        case ScriptOutcome::Passed:
            return QStringLiteral("passed");
        case ScriptOutcome::Failed:
            return QStringLiteral("failed");
        case ScriptOutcome::Error:
            return QStringLiteral("error");
        case ScriptOutcome::Stopped:
            return QStringLiteral("stopped");
        case ScriptOutcome::TimedOut:
            return QStringLiteral("timed out");
    }
    return {};
}

int exitCodeFor(const ScriptResult& result) {
    switch (result.outcome) {
        case ScriptOutcome::Passed:
            return result.failedCount() > 0 ? 1 : 0;
        case ScriptOutcome::Failed:
            return 1;
        case ScriptOutcome::TimedOut:
            return 3;
        default:
            return 2;
    }
}

QByteArray junitReport(const QString& suiteName, const ScriptResult& result) {
    const bool endedBadly =
        result.outcome != ScriptOutcome::Passed && result.outcome != ScriptOutcome::Failed;
    // fail() ends the run as a failure of its own case, so that CI shows its message.
    const bool failCase = result.outcome == ScriptOutcome::Failed && !result.message.isEmpty();
    const int tests = static_cast<int>(result.checks.size()) + (endedBadly || failCase ? 1 : 0);
    const auto seconds = [](double s) { return QString::number(s, 'f', 3); };

    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), suiteName);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"),
                       QString::number(result.failedCount() + (failCase ? 1 : 0)));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(endedBadly ? 1 : 0));
    xml.writeAttribute(QStringLiteral("time"), seconds(result.seconds));
    for (const ScriptCheck& check : result.checks) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), suiteName);
        xml.writeAttribute(QStringLiteral("name"), check.name);
        xml.writeAttribute(QStringLiteral("time"), seconds(check.seconds));
        if (!check.passed) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), check.detail.isEmpty()
                                                              ? QStringLiteral("check failed")
                                                              : check.detail);
            xml.writeCharacters(check.detail);
            xml.writeEndElement();
        } else if (!check.detail.isEmpty()) {
            xml.writeTextElement(QStringLiteral("system-out"), check.detail);
        }
        xml.writeEndElement();
    }
    if (endedBadly || failCase) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), suiteName);
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("script"));
        xml.writeAttribute(QStringLiteral("time"), QStringLiteral("0.000"));
        xml.writeStartElement(endedBadly ? QStringLiteral("error") : QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("message"), result.message);
        xml.writeAttribute(QStringLiteral("type"), outcomeWord(result.outcome));
        xml.writeCharacters(result.message);
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}
