/* TCP conversations as the engine names their peers. No socket is opened:
 * a test opens a conversation with the peer's host name and address as the
 * engine would have resolved them, either of which may be unknown, and the
 * peer functions answer from that record. A text is copied into the caller's
 * buffer and cut to fit, always terminated. */
#include "displays_internal.h"
#include <map>
#include <optional>
#include <string>

namespace {

constexpr int kInvalidConversation = -4;
constexpr int kPeerUnknown = -11;
constexpr int kInvalidArgument = -2;

struct Conversation {
    std::optional<std::string> name, address;
};

std::map<unsigned int, Conversation> g_conversations; /* guarded by the table lock */
unsigned int g_last_handle = 0;

enum class Peer { Name, Address };

int copy_peer(unsigned int handle, Peer which, char *buffer, size_t size)
{
    rte::note_display_switches();
    if (!buffer || size == 0) return kInvalidArgument;
    rte::TableLock guard;
    auto it = g_conversations.find(handle);
    if (it == g_conversations.end()) return kInvalidConversation;
    const std::optional<std::string> &text = which == Peer::Name ? it->second.name : it->second.address;
    if (!text) return kPeerUnknown;
    lstrcpynA(buffer, text->c_str(), static_cast<int>(size < 0x7FFFFFFF ? size : 0x7FFFFFFF));
    return 0;
}

} // namespace

extern "C" int standin_GetTCPPeerName(unsigned int handle, char *name, size_t size)
{
    return copy_peer(handle, Peer::Name, name, size);
}

extern "C" int standin_GetTCPPeerAddr(unsigned int handle, char *address, size_t size)
{
    return copy_peer(handle, Peer::Address, address, size);
}

extern "C" unsigned int standin_rte_tcp_open(const char *peer_name, const char *peer_address)
{
    rte::TableLock guard;
    Conversation c;
    if (peer_name) c.name = peer_name;
    if (peer_address) c.address = peer_address;
    g_conversations[++g_last_handle] = std::move(c);
    return g_last_handle;
}

extern "C" int standin_rte_tcp_close(unsigned int handle)
{
    rte::TableLock guard;
    return g_conversations.erase(handle) ? 0 : kInvalidConversation;
}
