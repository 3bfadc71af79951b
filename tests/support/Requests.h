// Download requests as the address fields would hand them over, for the tests of what checks
// them.
#pragma once

#include <array>
#include <string>
#include <utility>

#include "engine/DownloadRequest.h"

namespace vexil::test {

inline DownloadRequest Tcp(std::array<std::string, 4> octets) {
    DownloadRequest request;
    request.octets = std::move(octets);
    return request;
}

inline DownloadRequest Ipx(std::string network, std::string mac, std::string octet1 = "") {
    DownloadRequest request;
    request.ipx = true;
    request.octets[0] = std::move(octet1);
    request.network = std::move(network);
    request.mac = std::move(mac);
    return request;
}

}  // namespace vexil::test
