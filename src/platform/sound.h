// SPDX-License-Identifier: MIT
#pragma once
// Plays a named system sound ("chimes.wav", ...) asynchronously. Never blocks and never fails
// loudly: no device, no file or no sound service means silence.

#include <QString>

class Sound {
public:
    virtual ~Sound() = default;
    virtual void play(const QString& wavName) = 0;
};

class NullSound final : public Sound {
public:
    void play(const QString&) override {}
};
