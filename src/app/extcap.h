// SPDX-License-Identifier: MIT
#pragma once
// norvale-run as a Wireshark capture interface (extcap). Wireshark calls the small wrapper in
// its extcap folder, which hands over to norvale-run: it lists "Orlin kit on PORT" for the
// terminal's port and the serial ports present, offers the line's speed and the settings file
// as options, and captures one port live into the FIFO Wireshark reads, as pcapng. The port
// opens as in the terminal, exclusively, so a capture never shares a port with the terminal by
// accident.

#include <QStringList>

// Any --extcap-* option makes the whole call one of Wireshark's.
[[nodiscard]] bool isExtcapCall(const QStringList& arguments);
// Answers the call; the exit status Wireshark reads (0 done, 1 the capture failed, 2 a bad
// call).
int runExtcap(const QStringList& arguments);

// The interface's name for a port, and back; nothing for a name that is not one of ours.
[[nodiscard]] QString extcapInterfaceFor(const QString& port);
[[nodiscard]] QString extcapPortOf(const QString& interfaceName);
