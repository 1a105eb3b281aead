// SPDX-License-Identifier: MIT
#pragma once
// The serial ports present on this machine, as Qt's serial-port module finds them (udev and
// sysfs on Linux). Names are bare device names such as "ttyUSB0": short enough for the port
// panels, and the port driver looks them up under /dev. Full paths typed by the user still
// work; they are simply not what this list offers.

#include "core/port_candidates.h"

class QtPortCandidates final : public PortCandidates {
public:
    [[nodiscard]] std::vector<PortCandidate> ports() const override;
};
