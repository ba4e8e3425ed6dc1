// kwz-present: shares a screen (synthetic, still images or a live X display) as a screen stream
// that viewers on this machine or the local network rebuild.
#include "apps/ProgramMain.h"
#include "apps/kwz-present/PresentOptions.h"
#include "apps/kwz-present/PresentRun.h"

int main(int argc, char** argv) {
  return kwz_apps::RunUntilStopped("kwz-present", argc, argv, kwz_present::ParsePresentOptions,
                                   kwz_present::PresentUsage, kwz_present::RunPresenter);
}
