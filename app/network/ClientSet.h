// The device server's clients: the listener, and the clients it serves, each with a send backlog
// of its own, so that one slow or dead client never holds up the device or another client.
//
// The caller asks; nothing here waits or runs by itself. Accept() when the listener is readable,
// Receive() when a client's socket is (or on every tick), SendToAll() with each block of the
// device, Flush() on every tick for what waits; TakeEvents() tells what happened meanwhile.
#pragma once

#include "app/bridge/SendBacklog.h"
#include "app/network/AllowList.h"
#include "app/network/Listener.h"
#include "app/network/TlsConfig.h"
#include "app/network/Transport.h"
#include "app/platform/Clock.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using ClientId = std::uint64_t;

inline constexpr int MOST_CLIENTS = 16;
inline constexpr std::size_t MOST_CLIENT_EVENTS = 1024;
// Handshakes under way at once, in all and from one address. A newcomer beyond either bound takes
// the place of the oldest one (of its address first), so that handshakes that never end cannot
// keep a proper client out.
inline constexpr std::size_t MOST_HANDSHAKES = 16;
inline constexpr std::size_t MOST_HANDSHAKES_PER_ADDRESS = 4;
// Newcomers whose handshake is done wait for a place in the order they came, at most
// MOST_HANDSHAKES of them; the one at the front waits this long for a place to come free (a
// client that has just left is seen at the next read) before it is refused.
inline constexpr std::uint64_t PLACE_WAIT_MS = 1500;
inline constexpr std::uint64_t CLIENT_LINGER_MS = 1000;

struct ClientSetOptions {
    // How many clients are served at once, 1 to MOST_CLIENTS; anything else counts as 1.
    int clients = 1;
    // With all places taken, a newcomer replaces the client quiet longest instead of being
    // turned away.
    bool takeover = false;
    CAllowList allow;
    // The most bytes that may wait for one client; past it the client counts as stopped reading.
    std::size_t backlogLimit = SEND_BACKLOG_LIMIT;
    // With TLS: each client's handshake first; it counts as connected once that is done, and is
    // closed when it is not done within handshakeMs.
    std::shared_ptr<const CTlsConfig> tls;
    std::uint64_t handshakeMs = 10000;
    // A client that ended its sending side still gets the device's bytes this long (or until
    // its connection fails), then leaves.
    std::uint64_t lingerMs = CLIENT_LINGER_MS;
};

enum class ClientNews { connected, left, refused };

enum class ClientReason {
    none,           // connected
    closedByClient, // it ended the connection
    failed,         // a receive or send failed: error holds why (ETIMEDOUT: the peer died)
    stoppedReading, // more than the bound waited for it
    brokeTransport, // what it sent broke the transport's rules
    replaced,       // a newcomer took its place (takeover)
    closedHere,     // CloseAll
    notAllowed,     // refused: its address is not in the allow-list
    full,           // refused: every place was taken
    tlsFailed,      // refused: its TLS handshake failed or took too long (detail says why)
    outshaken,      // refused: a newer handshake took the place of its unfinished one
};

struct ClientEvent {
    ClientNews news;
    ClientReason reason;
    ClientId id;             // 0 for a refused client
    std::string peer;        // "a.b.c.d:port"
    int error = 0;           // errno, for ClientReason::failed
    std::size_t lost = 0;    // bytes for it that were waiting or did not fit, when it left
    std::string detail = {}; // with TLS: its certificate's subject (connected), or why it failed
};

// What the tooltip shows of one client.
struct ClientFacts {
    ClientId id;
    std::string peer;
    SYSTEMTIME since;
    std::uint64_t received; // bytes from it
    std::uint64_t sent;     // bytes to it that its socket took
    std::size_t waiting;    // bytes to it that wait in its backlog
    std::string tls = {};   // with TLS: protocol, cipher, its certificate (TlsTip)
};

class CClientSet {
public:
    explicit CClientSet(ClientSetOptions options = {});
    // Closes the listener and every client, without events.
    ~CClientSet();
    CClientSet(const CClientSet&) = delete;
    CClientSet& operator=(const CClientSet&) = delete;

    // Starts listening at ip:port (CListener::Open): 0, or the reason as errno.
    int Listen(std::string_view ip, std::uint16_t port);
    bool Listening() const { return m_listener.IsOpen(); }
    const CListener& Listener() const { return m_listener; }

    // Takes the clients that wait on the listener (a bounded number per call). Each one starts
    // its handshake, or is refused.
    void Accept();
    // Moves handshakes on and ends those out of time; a client whose handshake is done is served
    // if there is a place (or takes the place of the client quiet longest), waits a moment for
    // one, or is refused; a client past its linger leaves.
    void Advance();

    // One block of the device for every client, in order. Returns the bytes that reached no
    // client because none was connected (also counted in Undelivered()); they are not kept.
    // With wanted, only the clients it names get the block.
    std::size_t SendToAll(const char* pData, std::size_t nLength,
                          const std::function<bool(ClientId)>& wanted = nullptr);
    // Bytes for one client alone (its session's answers); false when it is not (or no longer)
    // served.
    bool SendTo(ClientId id, std::string_view data);
    // Sends what waits for each client, as far as its socket takes it.
    void Flush();

    // One read of at most size bytes from the next client in turn that has bytes: they are one
    // whole block of that client (*pFrom), in the order it sent them. 0 when no client has bytes
    // now. Only clients whose connected event was taken (TakeEvents) are read, so that whoever
    // consumes a client's bytes knows it first. Clients found failed on the way leave, with an
    // event; one that ended its sending side lingers (lingerMs).
    std::size_t Receive(char* pBuffer, std::size_t size, ClientId* pFrom);
    // Switches the reading of one client off (its consumer is full) and on again.
    void SetReading(ClientId id, bool bOn);

    // Closes every client (events closedHere) and the listener.
    void CloseAll();

    // What happened since the last call, oldest first. At most MOST_CLIENT_EVENTS wait; more
    // are only counted (EventsLost()), so that a flood of connects cannot fill the memory.
    std::vector<ClientEvent> TakeEvents();
    std::uint64_t EventsLost() const { return m_eventsLost; }

    std::size_t Count() const { return m_clients.size(); }
    std::vector<ClientFacts> Clients() const;
    // "a.b.c.d:port" of a client, empty when it is not (or no longer) in the set.
    std::string PeerOf(ClientId id) const;
    // The clients' sockets, for the caller's watches: those in their handshake, and those served
    // whose reading is on.
    std::vector<sock::SOCKET> Sockets() const;
    // Bytes of the device that reached no client, since the start.
    std::uint64_t Undelivered() const { return m_undelivered; }
    // Clients refused since the start.
    std::uint64_t Refused() const { return m_refused; }
    // The last refusals (at most a few), oldest first.
    const std::deque<ClientEvent>& RecentRefusals() const { return m_recentRefusals; }

private:
    struct Client {
        ClientId id;
        sock::SOCKET socket;
        std::string peer;
        SYSTEMTIME since;
        std::unique_ptr<CTransport> transport;
        CSendBacklog backlog;
        std::uint32_t address = 0;
        bool shaken = false;          // its handshake is done
        bool ready = false;           // it holds a place: it counts as connected
        bool told = false;            // its connected event was taken: it may be read
        bool reading = true;          // its consumer takes its bytes
        std::uint64_t acceptedAt = 0; // GetTickCount64 when it was taken
        std::uint64_t frontAt = 0;    // when it came to the front of the newcomers' line
        std::uint64_t endedAt = 0;    // when it ended its sending side (0: it did not)
        std::uint64_t received = 0;
        std::uint64_t handed = 0;     // wire bytes given to its backlog
        std::uint64_t lastActive = 0; // the m_activity of its connect or its last bytes
    };

    void Take(sock::SOCKET s, const sock::sockaddr_in& peer);
    // Moves client i's handshake on; false when it left meanwhile.
    bool Shake(std::size_t i);
    // Client i's handshake is done: it is served if there is a place (taking the place of the
    // quietest, with takeover), waits for one, or is refused once it waited too long (false).
    // i follows it when clients before it leave.
    bool Connected(std::size_t& i);
    // Makes room for one more handshake from address: the oldest unfinished one (of that address
    // first) gives way when a bound is reached.
    void RoomForHandshake(std::uint32_t address);
    // Bytes that wait for client i, in the backlog and in its transport.
    std::size_t Queued(const Client& client) const;
    void Refuse(sock::SOCKET s, std::string peer, ClientReason reason, std::string detail = {});
    // Client i, taken but never served, is closed as refused.
    void RefuseTaken(std::size_t i, ClientReason reason, std::string detail = {});
    // Closes the client at index i; the event tells why.
    void Leave(std::size_t i, ClientReason reason, int error = 0, std::size_t lost = 0);
    void Tell(ClientEvent event);
    // Hands client i the wire bytes; when that fails the client leaves (nLength: the bytes of
    // the bridge they carried) and false comes back.
    bool Pass(std::size_t i, std::string_view wire, std::size_t nLength);

    ClientSetOptions m_options;
    CListener m_listener;
    std::vector<Client> m_clients;
    ClientId m_lastId = 0;
    std::uint64_t m_activity = 0;
    std::size_t m_nextToRead = 0;
    std::uint64_t m_undelivered = 0;
    std::uint64_t m_refused = 0;
    std::vector<ClientEvent> m_events;
    std::size_t m_ready = 0; // clients that hold a place
    std::uint64_t m_eventsLost = 0;
    std::deque<ClientEvent> m_recentRefusals;
};
