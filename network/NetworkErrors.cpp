#include "network/NetworkErrors.h"

const char* RtpErrorMessage(int code) {
  switch (code) {
    case RTPERR_OUT_OF_MEMORY:
      return "Out of memory";
    case RTPERR_CONNECTION_ALREADY_CREATED:
      return "Connection already created";
    case RTPERR_PORTBASE_NOT_EVEN:
      return "Specified portbase not even";
    case RTPERR_CANT_CREATE_SOCKET:
      return "Can't create a socket";
    case RTPERR_CANT_BIND_SOCKET:
      return "Can't bind a socket";
    case RTPERR_SOCKETS_NOT_OPENED:
      return "Sockets not opened";
    case RTPERR_NO_RTP_DATA:
      return "No RTP data available";
    case RTPERR_SESSION_NOT_CREATED:
      return "Session was not created";
    case RTPERR_SESSION_ALREADY_INITIALIZED:
      return "Session already initialized";
    case RTPERR_CANT_SET_SOCKET_BUFFER:
      return "Can't set a socket buffer";
    case RTPERR_CANT_GET_LOCAL_IP:
      return "Can't get the local IP address";
    case RTPERR_NOT_MULTICAST_ADDRESS:
      return "Not a multicast address";
    case RTPERR_ALREADY_IN_GROUP:
      return "Already in specified multicast group";
    case RTPERR_CANT_JOIN_GROUP:
      return "Unable to join multicast group";
    default:
      return nullptr;
  }
}
