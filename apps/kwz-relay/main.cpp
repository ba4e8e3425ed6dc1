// kwz-relay: a loopback UDP relay that loses, doubles, reorders, delays and rewrites datagrams on
// purpose, seeded, so that a receiver's handling of a bad network can be watched and replayed.
#include "apps/ProgramMain.h"
#include "apps/kwz-relay/RelayOptions.h"
#include "apps/kwz-relay/RelayRun.h"

int main(int argc, char** argv) {
  return kwz_apps::RunUntilStopped("kwz-relay", argc, argv, kwz_relay::ParseRelayOptions,
                                   kwz_relay::RelayUsage, kwz_relay::RunRelay);
}
