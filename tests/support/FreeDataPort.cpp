#include "FreeDataPort.h"

#include <QRandomGenerator>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QString freeDataPort()
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int port = 20000 + int(QRandomGenerator::global()->bounded(12000));
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            break;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (free)
            return QString::number(port);
    }
    return QStringLiteral("0");
}
