#include "capture/WaveInServiceChoice.h"

#include "capture/QtWaveInService.h"
#if defined(QUENVIS_HAVE_PULSE)
#include "capture/PulseWaveInService.h"
#endif

namespace quenvis {

std::unique_ptr<CWaveInService> MakeWaveInService() {
#if defined(QUENVIS_HAVE_PULSE)
  if (qEnvironmentVariable("QUENVIS_AUDIO") != QStringLiteral("qt"))
    return std::make_unique<TPulseWaveInService>();
#endif
  return std::make_unique<TQtWaveInService>();
}

}  // namespace quenvis
