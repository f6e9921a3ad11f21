/* The pcomm driver's C interface: DRV_Get hands out a LinkTable (id 0x80, a
 * TCP connection to one card) or a SearchTable (id 0x90, UDP datagrams to a
 * broadcast address). Both tables have the same ten slots; slots 2 and 6 are
 * reserved and harmless to call. */
#ifndef PCOMM_H
#define PCOMM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DRV_LINK_TABLE 0x80
#define DRV_SEARCH_TABLE 0x90

/* 276 bytes, zero-filled by the caller. */
typedef struct DriverConfig {
  int32_t reserved[3];
  int32_t port;
  union {
    char linkAddress[260]; /* LinkTable: "%s:%d", informational only */
    struct {
      int32_t port2;       /* SearchTable: the port replies come back to */
      char address[256];   /* SearchTable: the broadcast address */
    } search;
  } u;
} DriverConfig;

typedef uint32_t DrvHandle; /* 0 means none */

typedef int (*DrvCreateFn)(const DriverConfig* config, DrvHandle* handle);
typedef int (*DrvConnectFn)(DrvHandle handle, const char* address);
typedef int (*DrvReservedFn)(DrvHandle handle);
typedef void (*DrvDisconnectFn)(DrvHandle handle);
typedef int (*DrvSendFn)(DrvHandle handle, const void* bytes, int length);
typedef int (*DrvReceiveFn)(DrvHandle handle, void* buffer, int capacity, int* count);
typedef void (*DrvDestroyFn)(DrvHandle handle);
typedef void (*DrvBeginExchangeFn)(DrvHandle handle, int timeout);
typedef void (*DrvEndExchangeFn)(DrvHandle handle);

typedef struct DriverTable {
  DrvCreateFn create;               /* 0 */
  DrvConnectFn connect;             /* 1: 0 = connected */
  DrvReservedFn reserved2;          /* 2 */
  DrvDisconnectFn disconnect;       /* 3 */
  DrvSendFn send;                   /* 4: 0 = sent */
  DrvReceiveFn receive;             /* 5: 0 = ok, *count = bytes (0 if none) */
  DrvReservedFn reserved6;          /* 6 */
  DrvDestroyFn destroy;             /* 7 */
  DrvBeginExchangeFn beginExchange; /* 8 */
  DrvEndExchangeFn endExchange;     /* 9 */
} DriverTable;

typedef int (*DrvGetFn)(int id, void** table);

/* Stores the table for id in *table and returns 0; any other id returns
 * non-zero and leaves *table untouched. */
int DRV_Get(int id, void** table);

#ifdef __cplusplus
}
static_assert(sizeof(DriverConfig) == 276, "DriverConfig is 276 bytes");
#else
_Static_assert(sizeof(DriverConfig) == 276, "DriverConfig is 276 bytes");
#endif

#endif
