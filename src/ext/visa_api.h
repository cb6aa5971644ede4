/* The VISA library interface the transports load at run time: standard VISA types,
 * constants, status codes and the thirteen entry points, as the VISA specification defines
 * them. Written here so that neither the extension nor the simulated VISA library needs a
 * vendor's header. */
#ifndef VESK_VISA_API_H
#define VESK_VISA_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ViInt32;
typedef uint32_t ViUInt32;
typedef uint16_t ViUInt16;
typedef int16_t ViInt16;
typedef char ViChar;
typedef unsigned char ViByte;
typedef ViInt32 ViStatus;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViSession* ViPSession;
typedef ViUInt32* ViPUInt32;
typedef ViUInt32 ViAttr;
#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t ViAttrState; /* 64-bit platforms carry attribute values in 64 bits */
#else
typedef ViUInt32 ViAttrState;
#endif
typedef ViUInt32 ViAccessMode;
typedef ViChar* ViString;
typedef const ViChar* ViConstString;
typedef ViChar* ViRsrc;
typedef ViByte* ViBuf;
typedef ViByte* ViPBuf;
typedef int16_t ViBoolean;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0
#define VI_NO_LOCK 0
#define VI_TMO_IMMEDIATE 0u
#define VI_TMO_INFINITE 0xFFFFFFFFu
#define VI_FIND_BUFLEN 256

/* Completion and error codes. */
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006)
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000E)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001D)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001E)
#define VI_ERROR_INV_SETUP ((ViStatus)0xBFFF003A)
#define VI_ERROR_IO ((ViStatus)0xBFFF003E)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6)

/* Attributes. */
#define VI_ATTR_SEND_END_EN 0x3FFF0016u
#define VI_ATTR_TERMCHAR 0x3FFF0018u
#define VI_ATTR_TMO_VALUE 0x3FFF001Au
#define VI_ATTR_ASRL_BAUD 0x3FFF0021u
#define VI_ATTR_ASRL_DATA_BITS 0x3FFF0022u
#define VI_ATTR_ASRL_PARITY 0x3FFF0023u
#define VI_ATTR_ASRL_STOP_BITS 0x3FFF0024u
#define VI_ATTR_ASRL_FLOW_CNTRL 0x3FFF0025u
#define VI_ATTR_TERMCHAR_EN 0x3FFF0038u
#define VI_ATTR_ASRL_END_IN 0x3FFF00B3u
#define VI_ATTR_ASRL_END_OUT 0x3FFF00B4u

/* Buffer masks for viSetBuf and viFlush. */
#define VI_READ_BUF 1
#define VI_WRITE_BUF 2
#define VI_READ_BUF_DISCARD 4
#define VI_WRITE_BUF_DISCARD 8
#define VI_IO_IN_BUF 16
#define VI_IO_OUT_BUF 32
#define VI_IO_IN_BUF_DISCARD 64
#define VI_IO_OUT_BUF_DISCARD 128

/* Serial settings. */
#define VI_ASRL_PAR_NONE 0
#define VI_ASRL_PAR_ODD 1
#define VI_ASRL_PAR_EVEN 2
#define VI_ASRL_PAR_MARK 3
#define VI_ASRL_PAR_SPACE 4
#define VI_ASRL_STOP_ONE 10
#define VI_ASRL_STOP_ONE5 15
#define VI_ASRL_STOP_TWO 20
#define VI_ASRL_FLOW_NONE 0
#define VI_ASRL_FLOW_XON_XOFF 1
#define VI_ASRL_FLOW_RTS_CTS 2
#define VI_ASRL_FLOW_DTR_DSR 4
#define VI_ASRL_END_NONE 0
#define VI_ASRL_END_LAST_BIT 1
#define VI_ASRL_END_TERMCHAR 2
#define VI_ASRL_END_BREAK 3

/* GPIB remote-enable modes. */
#define VI_GPIB_REN_DEASSERT 0
#define VI_GPIB_REN_ASSERT 1
#define VI_GPIB_REN_DEASSERT_GTL 2
#define VI_GPIB_REN_ASSERT_ADDRESS 3
#define VI_GPIB_REN_ASSERT_LLO 4
#define VI_GPIB_REN_ASSERT_ADDRESS_LLO 5
#define VI_GPIB_REN_ADDRESS_GTL 6

/* The entry points, as function types for run-time loading. */
typedef ViStatus (*ViOpenDefaultRMFn)(ViPSession vi);
typedef ViStatus (*ViOpenFn)(ViSession sesn, ViRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi);
typedef ViStatus (*ViCloseFn)(ViObject vi);
typedef ViStatus (*ViPrintfFn)(ViSession vi, ViString writeFmt, ...);
typedef ViStatus (*ViScanfFn)(ViSession vi, ViString readFmt, ...);
typedef ViStatus (*ViBufWriteFn)(ViSession vi, ViBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
typedef ViStatus (*ViBufReadFn)(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
typedef ViStatus (*ViSetBufFn)(ViSession vi, ViUInt16 mask, ViUInt32 size);
typedef ViStatus (*ViFlushFn)(ViSession vi, ViUInt16 mask);
typedef ViStatus (*ViSetAttributeFn)(ViObject vi, ViAttr attrName, ViAttrState attrValue);
typedef ViStatus (*ViGetAttributeFn)(ViObject vi, ViAttr attrName, void* attrValue);
typedef ViStatus (*ViStatusDescFn)(ViObject vi, ViStatus status, ViChar desc[]);
typedef ViStatus (*ViGpibControlRENFn)(ViSession vi, ViUInt16 mode);

#ifdef __cplusplus
}
#endif

#endif /* VESK_VISA_API_H */
