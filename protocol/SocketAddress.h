// The IPv4 socket address types and byte-order functions, from the platform's own headers: the
// one place that names them.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif
