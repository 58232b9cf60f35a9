#include "app/network/Transport.h"

int CTransport::Receive(char* pBuffer, int nSize, int& error) {
    const int n = sock::recv(m_socket, pBuffer, nSize, 0);
    error = n < 0 ? sock::WSAGetLastError() : 0;
    return n;
}

CTransport::Stage CTransport::Handshake(long nWaitUs, int nRounds) {
    Stage stage = Handshake();
    for (int i = 0; i < nRounds && stage == Stage::handshake; ++i) {
        if (sock::select(m_socket, 0, nWaitUs) <= 0)
            break;
        stage = Handshake();
    }
    return stage;
}

bool CTransport::Readable(long nWaitUs) const {
    return Holds() || sock::select(m_socket, 0, nWaitUs) > 0;
}

std::int64_t CTransport::Acknowledged() const {
    return sock::acknowledged(m_socket);
}

int CTransport::Put(const char* pData, int nLength, int& error) {
    const int n = sock::send(m_socket, pData, nLength, 0);
    error = n < 0 ? sock::WSAGetLastError() : 0;
    return n;
}
