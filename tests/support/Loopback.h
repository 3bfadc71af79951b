// Sockets a test opens itself on the loopback device.
#pragma once

namespace vexil::test {

// A TCP socket listening on 127.0.0.1:`port`, or -1.
int OpenLoopbackListener(int port);

}  // namespace vexil::test
