#include "core/relay/sendnow.h"

#include <sys/socket.h>

qsizetype SendNow(const QAbstractSocket& socket, const char* data, qsizetype size) {
  const ssize_t taken =
      ::send(int(socket.socketDescriptor()), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
  return taken > 0 ? qsizetype(taken) : 0;
}
