// What the main window's controls are while the user works in it: which the transport choice
// enables, which a download locks and which the end of a download gives back. Both windows apply
// these tables to their own controls, so that they lock and give back the same ones.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace vexil::controls {

struct Change {
    int id;
    bool enabled;
    bool operator==(const Change&) const = default;
};

// The transport in force, as the two check boxes show it; none before a model is chosen.
enum class Transport { kNone, kTcp, kIpx };
// The controls the choice enables and disables, the check boxes' own state aside (each is
// checked when its transport is in force).
std::vector<Change> TransportChanges(Transport transport);
// The controls that only a chosen model enables: the download, the file and the web page.
std::span<const int> ModelCommands();

// Whether the model list's selection picks the LAN card option, the only way a window sets the
// model: `selection` is the list's selected index, `shown` the text it shows.
bool PicksLanCard(int selection, std::string_view shown);

// A download from the confirmation until it ends, and what its end gives back: a model that
// loads over TCP/IP only offers no IPX download afterwards.
enum class State { kLocked, kTcpOnlyModel, kTcp, kIpx };
std::vector<Change> StateChanges(State state);
// The state that the end of a download gives back: none when the model was not known.
struct End {
    bool modelKnown;
    bool tcpOnlyModel;
    bool ipx;
};
bool StateAfter(const End& end, State& state);

}  // namespace vexil::controls
