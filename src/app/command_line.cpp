// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <QCommandLineParser>

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A terminal for the Orlin radio-module development kit."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption engineering(
        QStringLiteral("engineering"),
        QStringLiteral("Show the Option menu (key panel, survey) and the module panel's "
                       "engineering controls. A running terminal switches to the mode."));
    parser.addOption(engineering);
    const QCommandLineOption capture(
        QStringLiteral("capture"),
        QStringLiteral("Capture every unit received and every frame sent to FILE (appended) "
                       "from start-up; a FILE ending in .pcapng is written for Wireshark."),
        QStringLiteral("FILE"));
    parser.addOption(capture);

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.text = parser.errorText() + QStringLiteral("\n\n") + parser.helpText();
        result.exitCode = 2;
        return result;
    }
    if (parser.isSet(help)) {
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.text = QStringLiteral("norvale-term %1\n").arg(QStringLiteral(NORVALE_VERSION));
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.text = QStringLiteral("Unexpected argument: %1\n\n")
                          .arg(parser.positionalArguments().first()) +
                      parser.helpText();
        result.exitCode = 2;
        return result;
    }
    result.options.engineering = parser.isSet(engineering);
    result.options.capture = parser.value(capture);
    return result;
}
