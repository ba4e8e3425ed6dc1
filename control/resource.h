// Identifiers of the module's resources.
#pragma once

#define IDS_PROJNAME 100
#define IDR_KWZ_SCREENRECEIVERAPP 101
#define IDB_KWZ_SCREENRECEIVER 102
#define IDR_KWZ_SCREENRECEIVER 104
#define VS_VERSION_INFO 1
