/*
 * Vexil transport library: the C interface that the download program uses to talk to a
 * network print server. Every call takes the one target record and, where the print server
 * answers, a reply buffer owned by the caller that is never written past its given size.
 * A call that waits for an answer waits at most the record's waitSeconds (at least one second),
 * plus a few milliseconds.
 *
 * Threads: every function may be called from any thread, and from several threads at once. The
 * version queries and the download-mode switch share no state. A download socket (the handle of
 * TavDL_OpenSocket) serves one call at a time: a call on a socket that another call is using
 * fails at once with a non-zero result and leaves that call alone. TavDL_CloseSocket may come
 * from any thread, also while another call uses the socket: that call fails within a few
 * milliseconds, and the socket closes as it returns. The wait hook runs on the thread of the
 * call that waits. The handle variable belongs to the caller; each call reads and writes only
 * the one it is given, so threads that share one must take turns themselves.
 */
#ifndef TAVDL_TAVDL_H
#define TAVDL_TAVDL_H

#include <stdint.h>

#if defined(_WIN32)
#define TAVDL_API __declspec(dllexport)
#else
#define TAVDL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Values of TAVDL_ADDR.mode. */
#define TAVDL_MODE_TCP_CONNECTION 0 /* TCP/IP download connection: open, connect, erase, data */
#define TAVDL_MODE_TCP_QUERY 1      /* TCP/IP version query and download-mode switch */
#define TAVDL_MODE_IPX 2            /* every call over IPX */

/* Reply byte 0 after a version query or a download-mode switch that nobody answered. */
#define TAVDL_NO_ANSWER 0xFF
/* The IPX socket number on which a print server takes queries and downloads. */
#define TAVDL_PRINT_SERVER_IPX_SOCKET 0x4100

/*
 * The 176-byte target record, little-endian. inetAddr holds a sockaddr_in (family 2, port in
 * network byte order, IPv4 address, 8 zero bytes) and ipxAddr a sockaddr_ipx (family 6,
 * network number, node number, socket number in network byte order). The address fields are
 * kept as bytes so that their layout does not depend on any platform's socket headers.
 */
typedef struct TAVDL_ADDR {
    int32_t mode;         /* 0 */
    int32_t waitSeconds;  /* 4: how long a call may wait for the reply */
    int32_t reserved;     /* 8: always 0 */
    uint8_t inetAddr[16]; /* 12 */
    uint8_t ipxAddr[14];  /* 28 */
    uint8_t unused1[66];  /* 42 */
    int32_t modelIndex;   /* 108: model 1 to 6 */
    char modelCode[5];    /* 112: expected model code, four characters and a NUL */
    uint8_t unused2[59];  /* 117 */
} TAVDL_ADDR;

typedef void (*TAVDL_WAIT_HOOK)(void* window);

/* Version queries: 0 = a reply is in the buffer. With no answer, reply byte 0 is 0xFF. */
TAVDL_API int TavDL_Vantrel_GetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                       void* reply);
TAVDL_API int TavDL_Bramble_GetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                       void* reply);
/* Switch to download mode: 0 = the print server took it. With no answer, reply byte 0 = 0xFF. */
TAVDL_API int TavDL_Bramble_JampEprom(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                      void* reply);
/* Opens the download socket: 0 = no socket was opened, any other value = opened. */
TAVDL_API int TavDL_OpenSocket(TAVDL_ADDR* addr, unsigned int* socket);
/* 0 = connected for download. Connecting and the exchange share the one wait. */
TAVDL_API int TavDL_Download_Connection(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                        void* reply, unsigned int* socket);
/* 0 = flash erased. */
TAVDL_API int TavDL_Download_EraseFlash(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                        void* reply, unsigned int* socket);
/* 0 = sent and a reply is in the buffer. */
TAVDL_API int TavDL_Download_SendData(TAVDL_ADDR* addr, void* window, unsigned long dataLength,
                                      void* data, unsigned long replySize, void* reply,
                                      unsigned int* socket);
TAVDL_API int TavDL_Download_Finish(TAVDL_ADDR* addr, void* window, unsigned long dataLength,
                                    void* data, unsigned long replySize, void* reply,
                                    unsigned int* socket);
/* Closes the download socket. A handle that is closed or was never opened is accepted. */
TAVDL_API void TavDL_CloseSocket(unsigned int* socket);

/*
 * The version query of many print servers at once, for finding them on a network: over TCP/IP
 * only (every record's mode TAVDL_MODE_TCP_QUERY, its address and port as the single query takes
 * them). Each exchange waits its record's waitSeconds; at most inFlight run at once, over a few
 * UDP sockets (at most 64 exchanges each, so that no reply finds its socket's buffer full) and
 * one wait: a thousand addresses cost 16 sockets, not a thousand.
 * onReply runs on the calling thread for each exchange that ended: result 0 or 1 (the status
 * of the reply; its data at reply, length bytes, valid during the call only) or -1 (no fitting
 * reply by the deadline: reply NULL, length 0). It returns non-zero to ask that address again,
 * in a new exchange with a wait of its own. Replies are matched by their sender and exchange;
 * garbage, late, repeated and foreign datagrams are passed over. The wait hook runs with window
 * every few milliseconds; once *stop (when stop is not NULL) is non-zero after it ran, the call
 * gives up every exchange at once. Returns 0 when every address has ended, 1 when stopped, -1
 * when it could not run (an IPX record, an unknown query, no socket).
 */
#define TAVDL_QUERY_VANTREL 1
#define TAVDL_QUERY_BRAMBLE 2
typedef int (*TAVDL_VERSION_REPLY)(void* context, unsigned long index, int result,
                                   const void* reply, unsigned long length);
TAVDL_API int TavDL_QueryVersions(const TAVDL_ADDR* addrs, unsigned long count, int query,
                                  unsigned long inFlight, void* window, const int* stop,
                                  TAVDL_VERSION_REPLY onReply, void* context);

/*
 * How many data bytes the reply to the calling thread's last call carried, before any cut to the
 * size of the reply buffer; 0 when that call got no reply. The buffer holds zero bytes behind a
 * short reply, which would pass for fields the print server never sent: a caller that reads a
 * field checks first that the reply reached it.
 */
TAVDL_API unsigned long TavDL_LastReplyLength(void);

/*
 * Registers the function that every waiting call runs with its window argument every few
 * milliseconds, so that the caller's window stays alive. TavDL_CloseSocket may be called from
 * inside the hook; the waiting call then fails at once. NULL removes the hook.
 */
TAVDL_API void TavDL_SetWaitHook(TAVDL_WAIT_HOOK hook);

/*
 * How often the hook runs while a call waits: every `milliseconds` at most; 0 restores the
 * library's 10 ms, which a window needs to repaint. A caller whose hook only takes a cancel that
 * also interrupts the wait (a signal) can wait in longer slices and wake less often.
 */
TAVDL_API void TavDL_SetWaitSlice(unsigned long milliseconds);

#ifdef __cplusplus
}
#endif

#endif /* TAVDL_TAVDL_H */
