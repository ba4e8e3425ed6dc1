// The largest picture side the system takes, in one place: the screen endpoint refuses a message
// beyond it, and every decoder and the block encoder open any picture within it, so no screen
// is accepted that a codec then cannot show. 8192 takes an 8K screen (7680 x 4320) and stays
// inside what each codec library decodes (VP8 stops at 16383).
#pragma once

#include "platform/wintypes.h"

constexpr LONG kMaxPictureSide = 8192;
