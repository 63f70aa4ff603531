// Compile-time proof of the record layouts the host relies on (the records
// shared with the libraries are checked beside their operation tables in
// platform/). Byte records are the same everywhere; records that hold
// pointers must have their documented sizes in a 32-bit build (checked by
// compiling the core with -m32).
#include <qcsdk/qcsdk.h>

#include <cstddef>
#include <cstdint>

#include "grpc/grpc_context.h"

static_assert(sizeof(QCSDK_SearchResult) == 404);
static_assert(offsetof(QCSDK_SearchResult, address) == 64);
static_assert(offsetof(QCSDK_SearchResult, port) == 128);
static_assert(offsetof(QCSDK_SearchResult, name) == 132);
static_assert(offsetof(QCSDK_SearchResult, deviceType) == 388);
static_assert(offsetof(QCSDK_SearchResult, transport) == 400);
static_assert(sizeof(QCSDK_OkipResult) == 160);
static_assert(offsetof(QCSDK_OkipResult, word16) == 48);
static_assert(offsetof(QCSDK_OkipResult, name) == 56);
static_assert(offsetof(QCSDK_OkipResult, deviceType) == 156);
static_assert(sizeof(StreamInfo) == 48);
static_assert(sizeof(QCSDK_Rect) == 16);
static_assert(sizeof(qcsdk::GrpcArenaBlock) >= 12);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(RawFrame) == 12);
static_assert(sizeof(DecodedFrame) == 32);
static_assert(sizeof(qcsdk::GrpcArenaBlock) == 12);
#endif
