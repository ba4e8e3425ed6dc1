// Error codes of the UDP endpoint and its RTP layer, negative so that they never meet the
// network result codes (240 and up) or a byte count.
#pragma once

constexpr int RTPERR_OUT_OF_MEMORY = -1;
constexpr int RTPERR_CONNECTION_ALREADY_CREATED = -2;
constexpr int RTPERR_PORTBASE_NOT_EVEN = -3;
constexpr int RTPERR_CANT_CREATE_SOCKET = -4;
constexpr int RTPERR_CANT_BIND_SOCKET = -5;
constexpr int RTPERR_SOCKETS_NOT_OPENED = -12;
constexpr int RTPERR_NO_RTP_DATA = -14;
constexpr int RTPERR_SESSION_NOT_CREATED = -25;
constexpr int RTPERR_SESSION_ALREADY_INITIALIZED = -26;
constexpr int RTPERR_CANT_SET_SOCKET_BUFFER = -29;
constexpr int RTPERR_CANT_GET_LOCAL_IP = -33;
constexpr int RTPERR_NOT_MULTICAST_ADDRESS = -36;
constexpr int RTPERR_ALREADY_IN_GROUP = -37;
constexpr int RTPERR_CANT_JOIN_GROUP = -39;

// The text that names a code, for diagnostics; null for a code outside the table.
const char* RtpErrorMessage(int code);
