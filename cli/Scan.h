// Finding the print servers on a network: the addresses of --scan's ranges, and the engine's scan
// (the model's version query sent to each of them, a number at a time), with the --query table
// (or JSON) of those that answered.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Options.h"
#include "engine/Transport.h"

namespace vexil::cli {

// A scan asks at most this many addresses in all: a /16, a campus.
inline constexpr std::size_t kMaxScanAddresses = 65536;

// The addresses of --scan's ranges, each a CIDR block (192.0.2.0/24) or a first-last pair
// (192.0.2.10-192.0.2.99), in address order, each once however many ranges name it. A block's
// network and broadcast addresses are left out (up to /30; /31 and /32 have none), and so is an
// address inside a range that ends in .0 (a host of a wider block that no download may be sent
// to: the address check refuses a last octet 0). A range whose first or last address the
// address check refuses, that holds an address it refuses otherwise (127.0.0.0/8), that does not
// read, or more than kMaxScanAddresses addresses in all, is refused naming the range. The
// ranges are read through cmdline's one reader and merged once before any address is checked,
// so that ranges named many times cost what their distinct addresses cost.
Refusal ScanAddresses(const std::vector<std::string>& ranges, std::vector<Target>& addresses);

// The scan: the table (or the JSON lines) of the print servers that answered, then its summary;
// --write-targets's file (left as it was when the scan found no print server of the model or
// was cancelled). Returns 0 when at least one print server answered, 13 when none did, 6 when
// cancelled, 74 when its output could not be written; 1 when it could not use its sockets.
int RunScan(const Options& options, Transport& transport);

}  // namespace vexil::cli
