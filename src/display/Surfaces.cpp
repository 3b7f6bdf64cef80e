#include "display/Surfaces.h"

namespace quenvis {

TSurfaces::TSurfaces() {
  for (CBM32* s : All()) s->Fill(OpaqueBlack);
}

}  // namespace quenvis
