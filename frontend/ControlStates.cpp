#include "frontend/ControlStates.h"

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"

namespace vexil::controls {

namespace {

using namespace control;

// What a download does to a control: nothing, enable it or disable it.
enum Effect : char { k_, kOn, kOff };
struct Row {
    int id;
    Effect locked;        // from the confirmation until the download ends
    Effect tcpOnlyModel;  // after the download of a model that loads over TCP/IP only
    Effect tcp;           // after a TCP/IP download
    Effect ipx;           // after an IPX download
};
constexpr Row kRows[] = {
    {kModelList, kOff, kOn, kOn, kOn}, {kModelLabel, kOff, kOn, kOn, kOn},
    {kBrowse, kOff, kOn, kOn, kOn},    {kWebPage, kOff, kOn, kOn, kOn},
    {kTcpCheck, kOff, kOn, kOn, kOn},  {kIpxCheck, kOff, kOff, kOn, kOn},
    {kOctet1, kOff, kOn, kOn, k_},     {kOctet2, kOff, kOn, kOn, k_},
    {kOctet3, kOff, kOn, kOn, k_},     {kOctet4, kOff, kOn, kOn, k_},
    {kIpLabel, kOff, kOn, kOn, k_},    {kNetworkAddress, kOff, k_, k_, kOn},
    {kMacAddress, kOff, k_, k_, kOn},  {kNetworkLabel, kOff, kOff, k_, kOn},
    {kMacLabel, kOff, kOff, k_, kOn},
};

constexpr int kModelCommands[] = {kDownload, kBrowse, kWebPage};

}  // namespace

std::vector<Change> TransportChanges(Transport transport) {
    const bool tcp = transport == Transport::kTcp;
    const bool ipx = transport == Transport::kIpx;
    return {
        {kIpxGroup, false},      {kIpGroup, false}, {kTcpCheck, tcp || ipx},
        {kIpxCheck, tcp || ipx}, {kOctet1, tcp},    {kOctet2, tcp},
        {kOctet3, tcp},          {kOctet4, tcp},    {kMacAddress, ipx},
        {kNetworkAddress, ipx},  {kIpLabel, tcp},   {kMacLabel, ipx},
        {kNetworkLabel, ipx},
    };
}

std::span<const int> ModelCommands() {
    return kModelCommands;
}

bool PicksLanCard(int selection, std::string_view shown) {
    if (selection != 0) {
        return false;
    }
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        if (shown == *name) {
            return true;
        }
    }
    return false;
}

std::vector<Change> StateChanges(State state) {
    std::vector<Change> changes;
    for (const Row& row : kRows) {
        const Effect effect = state == State::kLocked         ? row.locked
                              : state == State::kTcpOnlyModel ? row.tcpOnlyModel
                              : state == State::kTcp          ? row.tcp
                                                              : row.ipx;
        if (effect != k_) {
            changes.push_back({row.id, effect == kOn});
        }
    }
    return changes;
}

bool StateAfter(const End& end, State& state) {
    if (!end.modelKnown) {
        return false;
    }
    state = end.tcpOnlyModel ? State::kTcpOnlyModel : end.ipx ? State::kIpx : State::kTcp;
    return true;
}

}  // namespace vexil::controls
