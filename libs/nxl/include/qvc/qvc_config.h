/* Settings of our Nxl transport library beyond the operations of qvc.h.
 * All of them may be called at any time; they affect links, look-ups,
 * searches and broadcasts started afterwards. Each returns 1 when the value
 * was taken and 0 when it was refused (the previous value stays). */
#ifndef QVC_QVC_CONFIG_H
#define QVC_QVC_CONFIG_H

#include <stdint.h>

#include "qvc/qvc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Version of the link protocol this library speaks (docs/nxl-protocol.md). */
#define QVC_PROTOCOL_VERSION 1
/* Where the directory service listens unless QVC_SetDirectoryServer says
 * otherwise. */
#define QVC_DEFAULT_DIRECTORY_ADDRESS "127.0.0.1"
#define QVC_DEFAULT_DIRECTORY_PORT 17560
/* Where search probes and OKIP broadcasts go unless QVC_SetBroadcastTarget
 * says otherwise: the loopback broadcast address, at the remote port given
 * when the service was started. */
#define QVC_DEFAULT_BROADCAST_ADDRESS "127.255.255.255"

/* The directory service used by connects by number and by
 * QVC_WANGetChannelCount. address null: back to the default address and
 * port. Refused: an address that is not dotted IPv4, a port outside 1..65535. */
QVC_API int32_t QVC_SetDirectoryServer(const char* address, int32_t port);

/* The target of search probes and OKIP broadcasts: any dotted IPv4 address,
 * the limited broadcast address included (only a host's explicit request
 * sends beyond loopback). address null: back to the default. port 0: the
 * remote port given to QVC_StartLANSerchServer or QVC_StartBroadcastServer.
 * Refused: an address that is not dotted IPv4, a port outside 0..65535. */
QVC_API int32_t QVC_SetBroadcastTarget(const char* address, int32_t port);

/* Time limits of links, in milliseconds; 0 selects the default.
 * connectMs: directory look-up, TCP connect and login together (default
 * 5000). pingIntervalMs: a keep-alive ping is sent this often (default 2000).
 * silenceMs: a link that received nothing for this long is lost (result 6;
 * default 8000). Refused: negative values, or a silence not longer than the
 * ping interval. */
QVC_API int32_t QVC_SetLinkTimeouts(int32_t connectMs, int32_t pingIntervalMs, int32_t silenceMs);

#ifdef __cplusplus
}
#endif
#endif
