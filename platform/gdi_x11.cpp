#include "platform/gdi_backend.h"

namespace kwz_platform {

std::unique_ptr<GdiBackend> MakeX11Backend(const char*) {
  return nullptr;
}
void ForceXPutImageForTesting(bool) {}

}  // namespace kwz_platform
