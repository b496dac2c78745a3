#pragma once
// What the user chooses about NDI reception: the bandwidth a receiver asks its sender for,
// and the extra addresses the finder asks directly, for senders that mDNS does not reach
// (another subnet, or no avahi-daemon on this machine).
#include <string>
#include <string_view>

#include "platform/expected.h"

namespace lumbrix {

enum class NDIBandwidth {
    highest,  // the sender's full stream
    lowest,   // its small preview stream, for weak links or many receivers
};

// Both choices, for a receiver made after they were set (a venue's own one takes the
// main receiver's).
struct NDIReceptionChoices {
    NDIBandwidth bandwidth = NDIBandwidth::highest;
    std::string extraIPs;  // normalized, as normalizeExtraIPs gives it
};

// Where avahi-daemon listens; without it the runtime's mDNS discovery finds nothing.
inline constexpr const char* kAvahiSocketPath = "/run/avahi-daemon/socket";

// Typed extra addresses as the finder takes them: comma-separated IPv4 addresses or host
// names, spaces around entries and empty entries dropped, joined by "," alone. Ports and
// IPv6 addresses are refused: the finder asks each machine on NDI's own discovery port.
// The error is one line naming the first entry refused.
Expected<std::string, std::string> normalizeExtraIPs(std::string_view typed);

}  // namespace lumbrix
