#include "app/network/ClientSet.h"

#include "app/network/Address.h"
#include "app/network/TlsTransport.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

namespace {

// Clients taken from the listener in one call; the rest wait for the next.
constexpr int kAcceptsPerCall = 64;
// Refusals the tooltip keeps.
constexpr std::size_t kRecentRefusals = 8;

bool Failed(int error) {
    return error != 0 && error != EWOULDBLOCK && error != EAGAIN;
}

} // namespace

CClientSet::CClientSet(ClientSetOptions options) : m_options(std::move(options)) {
    if (m_options.clients < 1 || m_options.clients > MOST_CLIENTS)
        m_options.clients = 1;
}

CClientSet::~CClientSet() {
    for (Client& client : m_clients)
        sock::closesocket(client.socket);
}

int CClientSet::Listen(std::string_view ip, std::uint16_t port) {
    return m_listener.Open(ip, port);
}

void CClientSet::Accept() {
    if (!m_listener.IsOpen())
        return;
    for (int i = 0; i < kAcceptsPerCall; ++i) {
        sock::sockaddr_in peer{};
        const sock::SOCKET s = m_listener.Accept(&peer);
        if (s == sock::INVALID_SOCKET)
            return;
        Take(s, peer);
    }
}

void CClientSet::Take(sock::SOCKET s, const sock::sockaddr_in& peer) {
    const std::uint32_t address = AddressOf(peer);
    std::string text = EndpointText(address, PortOf(peer));
    // A refused client is closed before anything is read from it or sent to it.
    if (!m_options.allow.Allows(address))
        return Refuse(s, std::move(text), ClientReason::notAllowed);
    // Handshakes take no place, and only so many run: the oldest gives way to the newcomer.
    RoomForHandshake(address);
    std::unique_ptr<CTransport> transport;
    if (m_options.tls)
        transport = std::make_unique<CTlsTransport>(s, m_options.tls, text);
    else
        transport = std::make_unique<CTransport>(s);
    Client client{++m_lastId,           s,
                  std::move(text),      {},
                  std::move(transport), CSendBacklog(m_options.backlogLimit)};
    GetLocalTime(&client.since);
    client.address = address;
    client.lastActive = ++m_activity;
    client.acceptedAt = GetTickCount64();
    m_clients.push_back(std::move(client));
    // A plain client is served at once; one with TLS once its handshake is done.
    Shake(m_clients.size() - 1);
}

void CClientSet::RoomForHandshake(std::uint32_t address) {
    std::size_t total = 0, fromAddress = 0;
    std::size_t oldest = m_clients.size(), oldestFromAddress = m_clients.size();
    for (std::size_t j = 0; j < m_clients.size(); ++j) {
        if (m_clients[j].shaken)
            continue; // served, or waiting for a place: no handshake any more
        if (total++ == 0)
            oldest = j;
        if (m_clients[j].address == address && fromAddress++ == 0)
            oldestFromAddress = j;
    }
    if (fromAddress >= MOST_HANDSHAKES_PER_ADDRESS)
        RefuseTaken(oldestFromAddress, ClientReason::outshaken);
    else if (total >= MOST_HANDSHAKES)
        RefuseTaken(oldest, ClientReason::outshaken);
}

bool CClientSet::Shake(std::size_t i) {
    Client& client = m_clients[i];
    if (client.shaken)
        return client.ready || Connected(i);
    const CTransport::Stage stage = client.transport->Handshake();
    if (stage == CTransport::Stage::ready) {
        client.shaken = true;
        return Connected(i);
    }
    if (stage == CTransport::Stage::handshake &&
        GetTickCount64() - client.acceptedAt < m_options.handshakeMs)
        return true;
    if (stage == CTransport::Stage::handshake)
        client.transport->HandshakeTimedOut();
    // Nothing of it reached the device: it leaves as refused, with why.
    RefuseTaken(i, ClientReason::tlsFailed, client.transport->Failure());
    return false;
}

void CClientSet::RefuseTaken(std::size_t i, ClientReason reason, std::string detail) {
    const sock::SOCKET s = m_clients[i].socket;
    std::string peer = std::move(m_clients[i].peer);
    m_clients.erase(m_clients.begin() + static_cast<std::ptrdiff_t>(i));
    if (m_nextToRead > i)
        --m_nextToRead;
    Refuse(s, std::move(peer), reason, std::move(detail));
}

bool CClientSet::Connected(std::size_t& i) {
    // Newcomers get their places in the order they came: one that came later waits behind.
    std::size_t waitingBefore = 0;
    for (std::size_t j = 0; j < i; ++j)
        waitingBefore += m_clients[j].shaken && !m_clients[j].ready;
    if (m_ready >= static_cast<std::size_t>(m_options.clients) || waitingBefore > 0) {
        if (!m_options.takeover || waitingBefore > 0) {
            // A holder that has just gone is seen at the next read, and one that ended its
            // sending side leaves within its linger: newcomers wait for them in a bounded line,
            // each for a while once it is at the front.
            Client& client = m_clients[i];
            if (waitingBefore > 0 && waitingBefore < MOST_HANDSHAKES)
                return true;
            const std::uint64_t now = GetTickCount64();
            if (waitingBefore == 0 && client.frontAt == 0)
                client.frontAt = now;
            if (waitingBefore == 0 && now - client.frontAt < PLACE_WAIT_MS)
                return true;
            RefuseTaken(i, ClientReason::full);
            return false;
        }
        // One that has ended its sending side gives way first, then the one quiet longest.
        std::size_t quietest = m_clients.size();
        for (std::size_t j = 0; j < m_clients.size(); ++j) {
            const Client& other = m_clients[j];
            if (!other.ready)
                continue;
            if (quietest == m_clients.size()) {
                quietest = j;
                continue;
            }
            const Client& best = m_clients[quietest];
            const bool otherEnded = other.endedAt != 0, bestEnded = best.endedAt != 0;
            if (otherEnded != bestEnded ? otherEnded : other.lastActive < best.lastActive)
                quietest = j;
        }
        Leave(quietest, ClientReason::replaced);
        if (quietest < i)
            --i;
    }
    Client& client = m_clients[i];
    client.ready = true;
    ++m_ready;
    ClientEvent event{ClientNews::connected, ClientReason::none, client.id, client.peer};
    if (auto* tls = dynamic_cast<CTlsTransport*>(client.transport.get())) {
        const TlsFacts facts = tls->Facts();
        event.detail = facts.subject.empty() ? facts.protocol + ", no certificate"
                                             : facts.protocol + ", " + facts.subject;
    }
    Tell(std::move(event));
    return true;
}

void CClientSet::Advance() {
    const std::uint64_t now = GetTickCount64();
    for (std::size_t i = 0; i < m_clients.size();) {
        Client& client = m_clients[i];
        if (!client.ready) {
            if (Shake(i))
                ++i;
            continue;
        }
        if (client.endedAt != 0 && now - client.endedAt >= m_options.lingerMs) {
            Leave(i, ClientReason::closedByClient);
            continue;
        }
        ++i;
    }
}

std::size_t CClientSet::Queued(const Client& client) const {
    return client.backlog.Waiting() + client.transport->WireWaiting();
}

void CClientSet::Refuse(sock::SOCKET s, std::string peer, ClientReason reason, std::string detail) {
    sock::closesocket(s);
    ++m_refused;
    ClientEvent event{ClientNews::refused, reason, 0, std::move(peer), 0, 0, std::move(detail)};
    m_recentRefusals.push_back(event);
    if (m_recentRefusals.size() > kRecentRefusals)
        m_recentRefusals.pop_front();
    Tell(std::move(event));
}

void CClientSet::Leave(std::size_t i, ClientReason reason, int error, std::size_t lost) {
    // A send that finds the connection closed by the peer is the peer's close, not a fault.
    if (reason == ClientReason::failed && error == EPIPE) {
        reason = ClientReason::closedByClient;
        error = 0;
    }
    Client& client = m_clients[i];
    if (client.ready)
        --m_ready;
    if (reason == ClientReason::closedHere || reason == ClientReason::replaced)
        client.transport->SayGoodbye();
    sock::closesocket(client.socket);
    Tell({ClientNews::left, reason, client.id, std::move(client.peer), error,
          lost + client.backlog.Waiting()});
    m_clients.erase(m_clients.begin() + static_cast<std::ptrdiff_t>(i));
    if (m_nextToRead > i)
        --m_nextToRead;
}

void CClientSet::Tell(ClientEvent event) {
    // Only refusals can come without bound; a served client's news is always kept, since its
    // bytes are read only once its consumer has heard of it.
    if (m_events.size() >= MOST_CLIENT_EVENTS && event.news == ClientNews::refused) {
        ++m_eventsLost;
        return;
    }
    m_events.push_back(std::move(event));
}

std::size_t CClientSet::SendToAll(const char* pData, std::size_t nLength,
                                  const std::function<bool(ClientId)>& wanted) {
    if (m_ready == 0) {
        m_undelivered += nLength;
        return nLength;
    }
    const std::string_view data(pData, nLength);
    for (std::size_t i = m_clients.size(); i-- > 0;)
        if (m_clients[i].ready && (!wanted || wanted(m_clients[i].id)))
            Pass(i, data, nLength);
    return 0;
}

bool CClientSet::SendTo(ClientId id, std::string_view data) {
    for (std::size_t i = 0; i < m_clients.size(); ++i)
        if (m_clients[i].id == id && m_clients[i].ready)
            return Pass(i, data, data.size());
    return false;
}

bool CClientSet::Pass(std::size_t i, std::string_view wire, std::size_t nLength) {
    Client& client = m_clients[i];
    if (!client.backlog.Send(*client.transport, wire.data(), wire.size())) {
        Leave(i, ClientReason::stoppedReading, 0, nLength);
        return false;
    }
    client.handed += wire.size();
    if (Failed(client.backlog.LastError())) {
        Leave(i, ClientReason::failed, client.backlog.LastError());
        return false;
    }
    // What its transport holds of its own (answers to key updates) counts against the bound too.
    if (Queued(client) > m_options.backlogLimit) {
        Leave(i, ClientReason::stoppedReading);
        return false;
    }
    return true;
}

void CClientSet::Flush() {
    for (std::size_t i = m_clients.size(); i-- > 0;) {
        Client& client = m_clients[i];
        if (Queued(client) == 0)
            continue;
        if (!client.backlog.Flush(*client.transport))
            Leave(i, ClientReason::failed, client.backlog.LastError());
        else if (Queued(client) > m_options.backlogLimit)
            Leave(i, ClientReason::stoppedReading);
    }
}

std::size_t CClientSet::Receive(char* pBuffer, std::size_t size, ClientId* pFrom) {
    const int nMost = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    if (nMost == 0)
        return 0;
    // Each client is asked at most once per call, starting with the one after the last served,
    // so that a busy client cannot starve the others.
    for (std::size_t asked = 0, count = m_clients.size(); asked < count; ++asked) {
        if (m_nextToRead >= m_clients.size())
            m_nextToRead = 0;
        const std::size_t i = m_nextToRead;
        Client& client = m_clients[i];
        if (!client.ready || !client.told || !client.reading || client.endedAt != 0) {
            ++m_nextToRead;
            continue;
        }
        // What its own reads made its transport queue (answers to key updates) counts too.
        if (Queued(client) > m_options.backlogLimit) {
            Leave(i, ClientReason::stoppedReading);
            continue;
        }
        int error = 0;
        const int n = client.transport->Receive(pBuffer, nMost, error);
        if (n == 0) {
            // It has sent all it will; what the device answers still goes to it for a while.
            if (m_options.lingerMs == 0)
                Leave(i, ClientReason::closedByClient);
            else
                client.endedAt = std::max<std::uint64_t>(GetTickCount64(), 1);
            continue;
        }
        if (n < 0) {
            if (error == EPROTO)
                Leave(i, ClientReason::brokeTransport);
            else if (Failed(error))
                Leave(i, ClientReason::failed, error);
            else
                ++m_nextToRead;
            continue;
        }
        ++m_nextToRead;
        client.received += static_cast<std::size_t>(n);
        client.lastActive = ++m_activity;
        if (pFrom)
            *pFrom = client.id;
        return static_cast<std::size_t>(n);
    }
    return 0;
}

void CClientSet::SetReading(ClientId id, bool bOn) {
    for (Client& client : m_clients)
        if (client.id == id)
            client.reading = bOn;
}

void CClientSet::CloseAll() {
    // One still in its handshake was never served: it is refused, not left.
    while (!m_clients.empty()) {
        const std::size_t last = m_clients.size() - 1;
        if (m_clients[last].ready)
            Leave(last, ClientReason::closedHere);
        else
            RefuseTaken(last, ClientReason::closedHere);
    }
    m_listener.Close();
}

std::vector<ClientEvent> CClientSet::TakeEvents() {
    std::vector<ClientEvent> events;
    events.swap(m_events);
    for (const ClientEvent& event : events)
        if (event.news == ClientNews::connected)
            for (Client& client : m_clients)
                if (client.id == event.id)
                    client.told = true;
    return events;
}

std::vector<ClientFacts> CClientSet::Clients() const {
    std::vector<ClientFacts> facts;
    facts.reserve(m_clients.size());
    for (const Client& client : m_clients) {
        if (!client.ready)
            continue;
        const std::size_t waiting = client.backlog.Waiting();
        facts.push_back({client.id,
                         client.peer,
                         client.since,
                         client.received,
                         client.handed - waiting,
                         waiting,
                         {}});
        if (const auto* tls = dynamic_cast<const CTlsTransport*>(client.transport.get()))
            facts.back().tls = TlsTip(tls->Facts(), "client", std::time(nullptr));
    }
    return facts;
}

std::string CClientSet::PeerOf(ClientId id) const {
    for (const Client& client : m_clients)
        if (client.id == id)
            return client.peer;
    return {};
}

std::vector<sock::SOCKET> CClientSet::Sockets() const {
    std::vector<sock::SOCKET> sockets;
    sockets.reserve(m_clients.size());
    for (const Client& client : m_clients)
        if (!client.shaken || (client.ready && client.told && client.reading && !client.endedAt))
            sockets.push_back(client.socket);
    return sockets;
}
