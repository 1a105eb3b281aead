// SPDX-License-Identifier: MIT
#pragma once
// How the stored link settings turn into a device path and line parameters. Values outside
// the supported set fall back rather than fail, so a hand-edited settings file still opens.

#include "core/link_settings.h"
#include "platform/serial_device.h"

#include <string>

// "/dev/ttyUSB0" and network names (rfc2217://HOST:PORT, tcp://HOST:PORT) as they are;
// "COM1" -> /dev/ttyS0 (COMn counts from 1, ttySn from 0); any other name is looked for
// under /dev.
[[nodiscard]] std::string devicePathFor(const QString& portName);

[[nodiscard]] LineParams lineParamsFor(const LinkSettings& link);
