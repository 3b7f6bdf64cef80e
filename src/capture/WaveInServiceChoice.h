#pragma once
// The capture service the program uses: on Linux the native PulseAudio one
// (which PipeWire serves too), elsewhere or with QUENVIS_AUDIO=qt the Qt
// Multimedia one.

#include "capture/UMyMMSystem.h"

#include <memory>

namespace quenvis {

std::unique_ptr<CWaveInService> MakeWaveInService();

}  // namespace quenvis
