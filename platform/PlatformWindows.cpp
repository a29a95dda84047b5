#include <cstdlib>

#include "platform/Platform.h"

namespace platform {

void pauseBeforeExit() {
    // cmd's own PAUSE: the prompt and the key handling Windows users know.
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe)
    static_cast<void>(std::system("PAUSE"));
}

}  // namespace platform
