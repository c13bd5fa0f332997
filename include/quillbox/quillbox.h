/**
 * \file quillbox.h
 * \brief The C interface of libQUILLBOXCE, a serial communication library for operator panels:
 * it polls PLCs and field devices over RS-232 or two-wire RS-485 (Modbus RTU and ASCII) and
 * reports every result to the host synchronously.
 *
 * Build with `pkg-config --cflags --libs quillbox`, or in CMake `find_package(Quillbox)` and
 * link `Quillbox::quillbox`.
 *
 * How a host uses it, in this order:
 *   1. qbSetHostWindowProc(proc) and qbInit(window, message): every event reaches proc(window,
 *      message, wParam, lParam) on the library's owner thread, and the library waits until proc
 *      returns. The window value is any pointer the host likes: the library never looks at it and
 *      hands it back to proc, so it serves as the host's context (the text procedures get none).
 *   2. Open the port (qbSetPortDevice, qbOpenSerial), choose the framing (qbSetRtuMode or
 *      qbSetAsciiMode) and the settings (qbSetTimeOut, qbSetEventFormat, ...).
 *   3. Register the auto items (qbAuto...), then qbStart. Register manual items (qbManual...)
 *      after qbStart: qbStart rebuilds the queue from the auto items and drops manual items still
 *      waiting. To send manual items registered before, start with qbStartNotDestroyingBuffer.
 *   4. During or after each event read the details with the qbGetLast... functions.
 *
 * Events: block-form events (lParam >= 2) carry in wParam the address of an event block of
 * lParam bytes: [event code][item id: 1 byte, or 4 bytes least significant first after
 * qbSetEventFormat(QB_EVENT_FORMAT_ID4)][frame bytes]. The block is valid only during the call.
 * The codes are the QB_EVENT_... numbers.
 *
 * Threads: the library runs its own owner thread, which runs the 10 ms timer, the scheduler,
 * every write and read of the port, all parsing and every event. Every function may be called from
 * any thread: a call from another thread is carried out on the owner thread and returns when it is
 * done; a call from inside the event procedure runs at once. An event procedure must not wait for
 * another thread that is itself calling into the library. qbStep called from inside the event
 * procedure while a step is running (for instance on a time-out) is ignored.
 *
 * Consistency: each call is atomic, but an event may come between two calls of another thread.
 * The qbGetLast... functions describe one event consistently only inside the event procedure.
 * From another thread use the ...Ex getters, which take the destination's size and never write
 * more; a pair such as qbGetLastRxRawSize then qbGetLastRxRaw may describe two different events.
 *
 * How long a call waits: a call from another thread waits for the work the owner thread is doing
 * (one scheduler step, one received chunk, or one event procedure). A write waits at most the two
 * RTS delays (each at most 1000 ms) plus the frame's transmission. The pause after a tx-only item
 * (qbSetTxOnlyItemEx) does not hold calls up: they are served during it.
 *
 * Shutdown and fork: once the process exits (or the library is unloaded), calls still made by
 * other threads do nothing and return 0 (qbGetLastRxDataAtIndex: -1); calls in progress are
 * allowed up to 2 s to finish. exit() may be called from inside the event procedure. In a child
 * process made by fork() the library refuses every call the same way (the owner thread exists only
 * in the parent); the child holds neither the port's descriptor nor its lock, with or without
 * exec.
 *
 * Errors: no function reports failure by an exception or errno. Setters store their arguments
 * unchecked and return nothing; getters return 32-bit integers as documented. Every function
 * accepts null pointers and negative counts: null text reads as empty text, null data as no
 * data, a negative count as 0, and a null destination receives nothing. qbGetLastErrorText says
 * why a failing call failed.
 *
 * Text: wide text is UTF-16 (qb_wchar), zero-terminated. Text getters copy UTF-16 followed by two
 * zero bytes; size the destination with the matching ...EnoughByteCnt function.
 */
#ifndef QUILLBOX_QUILLBOX_H_
#define QUILLBOX_QUILLBOX_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h>
#endif
/** One UTF-16 code unit of the library's wide text. */
typedef char16_t qb_wchar;

/** Marks the library's exports (visible from libQUILLBOXCE; nothing for the host). */
#if defined(QB_BUILDING_LIBRARY)
#define QB_API __attribute__((visibility("default")))
#else
#define QB_API
#endif

/** \name Numbers a host passes or receives
 * The numbers that cross the interface, by name. Hosts and tools use these names instead of
 * bare numbers.
 * @{ */

/* clang-format off */
/* Event codes: the first byte of an event block, and qbGetLastRxEventType. */
#define QB_EVENT_NONE (-1)       /**< no event yet */
#define QB_EVENT_SEND_REQUEST 1  /**< block: the request the host sends itself (indirect mode) */
#define QB_EVENT_REPLY 2         /**< block: a checked Modbus reply; record form: other protocols */
#define QB_EVENT_TIMEOUT 3       /**< block: no reply within the time-out */
#define QB_EVENT_WATCHDOG 4      /**< block: no complete polling cycle within 5 seconds */
/* Detailed events, only after qbSetDetailedEvents(1); all block-form with the frame as payload. */
#define QB_EVENT_EXCEPTION 200 /**< an exception reply ended the query (data: function, code) */
#define QB_EVENT_REJECTED 201  /**< a reply was refused (data: QB_REJECT_... reason); still waits */
#define QB_EVENT_PORT_LOST 202 /**< the library's port disappeared (device unplugged); sent once */
#define QB_EVENT_ITEM_DROPPED 203 /**< a waiting manual item left unsent (block id: that item; data:
                                     QB_DROP_... reason); one event per item */
#define QB_EVENT_REPLY_DISCARDED 204 /**< bytes for the outstanding query came while stopped and
                                        were discarded (payload: the first chunk); once a query */

/* Why a manual item was dropped unsent: data word 0 of a QB_EVENT_ITEM_DROPPED event. */
#define QB_DROP_QUEUE_FULL 1   /**< beyond the 1024 items the ToDo queue holds (its tail goes) */
#define QB_DROP_WATCHDOG 2     /**< the watchdog's refill of the ToDo queue discarded it */
#define QB_DROP_START 3        /**< qbStart emptied the ToDo queue */
#define QB_DROP_INSERT_STYLE 4 /**< the manual insert style in force is not one the library knows */

/* Why a reply was refused: data word 0 of a QB_EVENT_REJECTED event. */
#define QB_REJECT_CHECKSUM 1 /**< the CRC (RTU) or LRC (ASCII) does not match */
#define QB_REJECT_SLAVE 2    /**< the reply comes from another slave address */
#define QB_REJECT_FUNCTION 3 /**< the reply carries another function code */
#define QB_REJECT_FRAMING 4  /**< too short, or an ASCII reply without CR LF */
#define QB_REJECT_UNEXPECTED 5 /**< more bytes than the outstanding request awaits (or none) */

/* Modbus exception codes: data word 1 of a QB_EVENT_EXCEPTION event. */
#define QB_EXCEPTION_ILLEGAL_FUNCTION 1 /**< the device does not serve the function */
#define QB_EXCEPTION_ILLEGAL_ADDRESS 2  /**< an address outside the device's tables */
#define QB_EXCEPTION_ILLEGAL_VALUE 3    /**< a quantity or value the device refuses */
#define QB_EXCEPTION_DEVICE_FAILURE 4   /**< the device failed while serving the request */

/* Event formats for qbSetEventFormat: the width of the item id in an event block. */
#define QB_EVENT_FORMAT_ID1 1 /**< one byte: the id's least significant byte (the default) */
#define QB_EVENT_FORMAT_ID4 2 /**< four bytes, least significant first */

/* Data types: qbGetLastRxDataType. */
#define QB_DATA_WORDS 0 /**< the data words are 16-bit values */
#define QB_DATA_BITS 1  /**< one data word per bit, each 0 or 1 */

/* Manual insert styles (qbSetManualInsertStyle), first argument: with auto items queued. */
#define QB_INSERT_HEAD 100             /**< at the head of the queue */
#define QB_INSERT_TAIL 101             /**< at the tail */
#define QB_INSERT_BEFORE_AUTO 102      /**< just before the first queued auto item */
#define QB_INSERT_AFTER_AUTO 103       /**< just after the last queued auto item */
#define QB_INSERT_AFTER_MANUAL 104     /**< after the last queued manual item, else at the head */
/* Second argument: with no auto item queued. */
#define QB_INSERT_EMPTY_HEAD 1 /**< at the head */
#define QB_INSERT_EMPTY_TAIL 2 /**< at the tail (the default) */

/* Answers of the yes/no functions (qbHasPrtclDvcName, qbIsRtuMode, qbOpenSerial, ...). */
#define QB_NO 0  /**< no, or failed */
#define QB_YES 1 /**< yes, or done */

/** qbGetLastRxDataAtIndex for an index out of range. */
#define QB_NO_DATA (-1)
/* clang-format on */

/** @} */

/** \name Platform: how events, message boxes, debug notes and 8-bit text reach the host
 * How events, message boxes, debug notes and 8-bit text reach the host.
 * Threads: callable from any thread; a procedure installed here is called on the library's owner
 * thread. Failure: none; a null procedure restores the default.
 * @{ */

/** The host's window procedure: receives every event message; its result is ignored. */
typedef intptr_t (*qb_window_proc)(void* window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam);
/** A procedure that receives one zero-terminated UTF-16 text. */
typedef void (*qb_text_proc)(const qb_wchar* text);

/** Installs the procedure that receives every event message; null: messages go nowhere. */
QB_API void qbSetHostWindowProc(qb_window_proc proc);
/** Installs the procedure that shows message boxes; null restores the default (a line on
 * stderr). */
QB_API void qbSetMessageBoxProc(qb_text_proc proc);
/** Installs the debug-note procedure; null restores the default (discard; stderr if
 * QUILLBOX_DEBUG=1). */
QB_API void qbSetDebugNoteProc(qb_text_proc proc);
/** Selects the 8-bit code page by iconv charset name (e.g. u"CP949"); an unknown name changes
 * nothing. */
QB_API void qbSetCodePage(const qb_wchar* name);

/** @} */

/** \name Lifecycle and settings
 * Threads: callable from any thread (carried out on the owner thread) and from inside the event
 * procedure. Failure: setters store their arguments unchecked and cannot fail; getters cannot fail.
 * @{ */

/** Names the host window (any value, handed back to the window procedure) and the event message
 * number. */
QB_API void qbInit(void* window, uint32_t message);
/** Refills the ToDo queue with a fresh cycle of auto items (waiting manual items are dropped) and
 * runs. */
QB_API void qbStart(void);
/** Runs with the ToDo queue as it stands. */
QB_API void qbStartNotDestroyingBuffer(void);
/** Pauses the traffic; the queue and an outstanding query remain. */
QB_API void qbStop(void);
/** Runs one scheduler step at once, whether running or not. */
QB_API void qbStep(void);
/** The scheduler's timer: 1-1000 ms per tick (default 10: every wait is seen at the next 10 ms
 * tick); 0 = precise: no periodic wake-ups, each query goes out as soon as it is due. The order of
 * queries and events is the same in every mode. Other values change nothing. */
QB_API void qbSetTimerPeriod(int32_t ms);
/** Sets how long a reply is awaited, in ms (default 100). */
QB_API void qbSetTimeOut(int32_t ms);
/** Sets the least time between a reply and the next query, in ms (default 10). */
QB_API void qbSetQueryInterval(int32_t ms);
/** Returns the query interval in ms. */
QB_API int32_t qbGetQueryInterval(void);
/** 2: event blocks carry a 4-byte item id; any other value: a 1-byte id (default 1). */
QB_API void qbSetEventFormat(int32_t format);
/** Selects Modbus RTU framing. */
QB_API void qbSetRtuMode(void);
/** Selects Modbus ASCII framing (the default). */
QB_API void qbSetAsciiMode(void);
/** Returns 1 in RTU framing, else 0. */
QB_API int32_t qbIsRtuMode(void);
/** Records a user protocol mode value (kept for compatibility; nothing reads it). */
QB_API void qbSetUserProtocolMode(int32_t mode);
/** Retries manual Modbus items after a time-out: enabled, most retries, extra ms per retry made. */
QB_API void qbEnableRetryForManual(int32_t enabled, int32_t retryLimit, int32_t extraMsPerRetry);
/** Bit reads registered from now on use function code 1 (the default). */
QB_API void qbDefineBitRead01(void);
/** Bit reads registered from now on use function code 2. */
QB_API void qbDefineBitRead02(void);
/** Word reads registered from now on use function code 3 (the default). */
QB_API void qbDefineWordRead03(void);
/** Word reads registered from now on use function code 4. */
QB_API void qbDefineWordRead04(void);
/** Non-zero (default): Modbus frames go out through the library's port; 0: to the host in event 1.
 */
QB_API void qbSetQueryDirectSerial(int32_t direct);
/** Where new manual items enter the queue: with auto items queued (100-104), and without (1, 2). */
QB_API void qbSetManualInsertStyle(int32_t style, int32_t styleWithoutAuto);
/** Stores the values text used when a user packet item is built. */
QB_API void qbSetTempStr(const qb_wchar* text);
/** Sets the array delimiter of user packets (default u"?"). */
QB_API void qbSetArrDelimiter(const qb_wchar* text);
/** Restarts the time-out of the outstanding query, if there is one. */
QB_API void qbSetLastAskTimeToCurrentIfNotZero(void);
/** Deletes every item waiting in the ToDo queue. */
QB_API void qbDeleteBuffer(void);
/** Returns the number of items in the ToDo queue. */
QB_API int32_t qbGetBufferSize(void);
/** Has no effect: a reply being gathered stays outstanding (kept for compatibility). */
QB_API void qbCancelRx(void);
/** Records the trim-head-zero receive option (kept for compatibility; nothing reads it). */
QB_API void __qbTrimHeadZero(void);
/** Records the trim-tail receive option (kept for compatibility; nothing reads it). */
QB_API void __qbTrimTail(void);

/** @} */

/** \name Query items: qbAuto... are asked every cycle, qbManual... once
 * qbAuto... items are asked every polling cycle, qbManual... items once, ahead of the queued auto
 * items (see qbSetManualInsertStyle). Register manual items after qbStart, or start with
 * qbStartNotDestroyingBuffer: qbStart rebuilds the queue and drops manual items still waiting.
 * Threads: callable from any thread and from inside the event procedure.
 * Failure: nothing is reported. An item that cannot be built (a quantity beyond one request)
 * is not sent; the time-out that follows carries the id of the item handed out before it.
 * @{ */

/** Auto bit read (function code 1, or 2 after qbDefineBitRead02). */
QB_API void qbAutoBitRead(int32_t id, int32_t slave, int32_t start, int32_t length);
/** Manual bit read. */
QB_API void qbManualBitRead(int32_t id, int32_t slave, int32_t start, int32_t length);
/** Auto bit read with a device name (stored if not empty) and a bit position (stored if not -1). */
QB_API void qbAutoBitReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName,
                            int32_t bitPosition, int32_t length);
/** Manual bit read with a device name and a bit position. */
QB_API void qbManualBitReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName,
                              int32_t bitPosition, int32_t length);
/** Auto word read (function code 3, or 4 after qbDefineWordRead04). */
QB_API void qbAutoWordRead(int32_t id, int32_t slave, int32_t start, int32_t length);
/** Manual word read. */
QB_API void qbManualWordRead(int32_t id, int32_t slave, int32_t start, int32_t length);
/** Auto word read with a device name. */
QB_API void qbAutoWordReadEx(int32_t id, int32_t slave, int32_t start, const qb_wchar* deviceName,
                             int32_t length);
/** Manual read of one word with a device name. */
QB_API void qbManualWordReadEx(int32_t id, int32_t slave, int32_t start,
                               const qb_wchar* deviceName);
/** Auto single-bit write (code 5): a non-zero value sends ON. */
QB_API void qbAutoBitWrite(int32_t id, int32_t slave, int32_t address, int32_t value);
/** Manual single-bit write (code 5). */
QB_API void qbManualBitWrite(int32_t id, int32_t slave, int32_t address, int32_t value);
/** Manual single-bit write with a device name and a bit position. */
QB_API void qbManualBitWriteEx(int32_t id, int32_t slave, int32_t address, int32_t value,
                               const qb_wchar* deviceName, int32_t bitPosition);
/** Auto single-word write (code 6). */
QB_API void qbAutoWordWrite(int32_t id, int32_t slave, int32_t address, int32_t value);
/** Manual single-word write (code 6). */
QB_API void qbManualWordWrite(int32_t id, int32_t slave, int32_t address, int32_t value);
/** Manual single-word write with a device name. */
QB_API void qbManualWordWriteEx(int32_t id, int32_t slave, int32_t address, int32_t value,
                                const qb_wchar* deviceName);
/** Auto multiple-word write (code 16): byteCount bytes of data in wire order are copied. */
QB_API void qbAutoMultiWordWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                                 uint32_t byteCount, const uint8_t* data);
/** Manual multiple-word write (code 16). */
QB_API void qbManualMultiWordWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                                   uint32_t byteCount, const uint8_t* data);
/** Auto multiple-bit write (code 15): byteCount bytes of packed bits are copied. */
QB_API void qbAutoMultiBitWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                                uint32_t byteCount, const uint8_t* data);
/** Manual multiple-bit write (code 15). */
QB_API void qbManualMultiBitWrite(int32_t id, int32_t slave, int32_t start, int32_t length,
                                  uint32_t byteCount, const uint8_t* data);
/** Auto mask write of a register (code 22). */
QB_API void qbAutoMaskWrite4x(int32_t id, int32_t slave, int32_t address, int32_t andMask,
                              int32_t orMask);
/** Manual mask write of a register (code 22). */
QB_API void qbManualMaskWrite4x(int32_t id, int32_t slave, int32_t address, int32_t andMask,
                                int32_t orMask);
/** Auto read/write of registers (code 23): 2 x writeLength bytes of data are copied. */
QB_API void qbAutoReadWrite4x(int32_t id, int32_t slave, int32_t readAddress, int32_t readLength,
                              int32_t writeAddress, int32_t writeLength, const uint8_t* data);
/** Manual read/write of registers (code 23). */
QB_API void qbManualReadWrite4x(int32_t id, int32_t slave, int32_t readAddress, int32_t readLength,
                                int32_t writeAddress, int32_t writeLength, const uint8_t* data);
/** Auto host-made frame, sent as it stands; replyLength bytes complete its reply. */
QB_API void qbAutoUserProtocol(int32_t id, int32_t replyLength, const uint8_t* frame,
                               uint32_t frameLength);
/** Manual host-made frame. */
QB_API void qbManualUserProtocol(int32_t id, int32_t replyLength, const uint8_t* frame,
                                 uint32_t frameLength);

/** @} */

/** \name Item management
 * Threads: callable from any thread and from inside the event procedure.
 * Failure: only qbPauseItem and qbResumeItem report one (0: no such auto item).
 * @{ */

/** Pauses the first auto item with the id from the next cycle on; 1 found, 0 not. */
QB_API int32_t qbPauseItem(int32_t id);
/** Resumes the first auto item with the id; 1 found, 0 not. */
QB_API int32_t qbResumeItem(int32_t id);
/** Removes every auto item with the id (copies already queued are still sent). */
QB_API void qbUnregisterAutoItem(int32_t id);
/** Removes every auto item. */
QB_API void qbUnregisterAllAutoItems(void);
/** Sends the item without waiting for a reply. */
QB_API void qbSetTxOnlyItem(int32_t id);
/** Sends the item without waiting for a reply, then pauses pauseMs before the next query. */
QB_API void qbSetTxOnlyItemEx(int32_t id, int32_t pauseMs);
/** Gives the item its own time-out in ms (Modbus only). */
QB_API void qbSetCustomTimeOut(int32_t id, int32_t ms);
/** Removes every custom time-out. */
QB_API void qbRemoveAllCustomTimeOut(void);

/** @} */

/** \name The last event
 * The record of the last event, valid from the event until the next one. Read it inside the
 * event procedure to be sure that no later event has replaced it.
 * Threads: callable from any thread and from inside the event procedure.
 * Failure: none; before any event the record reads QB_EVENT_NONE, item id 0, QB_DATA_BITS,
 * counts 0. A null destination receives nothing.
 * @{ */

/** Returns the code of the last event; -1 before any. */
QB_API int32_t qbGetLastRxEventType(void);
/** Returns the item id of the last event. */
QB_API int32_t qbGetLastRxItemId(void);
/** Returns 1 when the data words are bits, 0 when they are 16-bit words. */
QB_API int32_t qbGetLastRxDataType(void);
/** Returns the number of decoded data words. */
QB_API int32_t qbGetLastRxDataCount(void);
/** Returns data word index as 0..65535, or -1 for an index out of range. */
QB_API int32_t qbGetLastRxDataAtIndex(int32_t index);
/** Returns the number of raw bytes of the last block-form event. */
QB_API int32_t qbGetLastRxRawSize(void);
/** Copies the raw bytes (qbGetLastRxRawSize of them) to dst; 1, or 0 for a null dst. */
QB_API int32_t qbGetLastRxRaw(uint8_t* dst);
/** Copies the current item description: min(2 x length, maxBytes) bytes, then two zero bytes;
 * returns the bytes copied. */
QB_API int32_t qbGetLastItmExp(uint8_t* dst, int32_t maxBytes);
/** Copies the values text of the last user-protocol reply and two zero bytes; returns the text
 * bytes. */
QB_API int32_t qbGetLastEvntAsgstr(uint8_t* dst);
/** Returns the bytes qbGetLastEvntAsgstr writes: (length + 1) x 2. */
QB_API int32_t qbGetLastEvntAsgstrEnoughByteCnt(void);
/** Copies the name of the last user packet prepared and two zero bytes; returns the text bytes. */
QB_API int32_t qbGetLastPaktToSend(uint8_t* dst);
/** Copies the WordArrLoVars text and two zero bytes; returns the text bytes. */
QB_API int32_t qbGetLastWordArrLoVars(uint8_t* dst);
/** Returns the bytes qbGetLastWordArrLoVars writes: (length + 1) x 2. */
QB_API int32_t qbGetLastWordArrLoVarsEnoughByteCnt(void);
/** Copies the Tx situation of the last user packet and two zero bytes; returns the text bytes. */
QB_API int32_t qbGetLastTxSituation(uint8_t* dst);
/** Has no effect and returns 0 (kept for compatibility). */
QB_API int32_t qbGetTotalStatusDescription(void);

/* Sized getters, safe from any thread: each writes at most maxBytes bytes to dst and returns the
 * size of the whole value, so a result greater than maxBytes means dst was too small (call again
 * with a larger one). A null dst or maxBytes < 1 copies nothing and returns the size. */
/** Copies up to maxBytes raw bytes of the last block-form event; returns their number. */
QB_API int32_t qbGetLastRxRawEx(uint8_t* dst, int32_t maxBytes);
/** The values text: in whole UTF-16 units and two zero bytes, cut to fit maxBytes (at least 2);
 * returns (length + 1) x 2. */
QB_API int32_t qbGetLastEvntAsgstrEx(uint8_t* dst, int32_t maxBytes);
/** The last packet name, as qbGetLastEvntAsgstrEx. */
QB_API int32_t qbGetLastPaktToSendEx(uint8_t* dst, int32_t maxBytes);
/** The WordArrLoVars text, as qbGetLastEvntAsgstrEx. */
QB_API int32_t qbGetLastWordArrLoVarsEx(uint8_t* dst, int32_t maxBytes);
/** The last Tx situation, as qbGetLastEvntAsgstrEx. */
QB_API int32_t qbGetLastTxSituationEx(uint8_t* dst, int32_t maxBytes);

/** @} */

/** \name The library's own serial port
 * Threads: callable from any thread; qbCloseSerial also from inside the event procedure.
 * Failure: qbOpenSerial returns QB_NO and qbGetLastErrorText says why.
 * @{ */

/** Opens COM port `port` at `baud` with the stored line settings; 1 open, 0 failed. The device is
 * the path set with qbSetPortDevice, else $QUILLBOX_COM<port>, else /dev/ttyS<port-1>. */
QB_API int32_t qbOpenSerial(int32_t port, uint32_t baud);
/** Closes the port (reception ends at once). */
QB_API void qbCloseSerial(void);
/** Parity for the next open: u"Even", u"Odd", anything else none (exact, case-sensitive). */
QB_API void qbSetParity(const qb_wchar* text);
/** Data bits for the next open: u"7", anything else 8. */
QB_API void qbSetDataBits(const qb_wchar* text);
/** Stop bits for the next open: u"2", anything else 1. */
QB_API void qbSetStopBits(const qb_wchar* text);
/** Milliseconds between RTS dropped and the first byte sent (RS-485 direction switching);
 * values above 1000 are taken as 1000. */
QB_API void qbSetRtsDelayFront(uint32_t ms);
/** Milliseconds between the last bit sent and RTS raised again; at most 1000 as well. */
QB_API void qbSetRtsDelayBack(uint32_t ms);
/** Maps COM port `port` to a device path such as u"/dev/ttyUSB0"; null or empty removes it. */
QB_API void qbSetPortDevice(int32_t port, const qb_wchar* path);
/** Non-zero: let a UART driver with RS-485 direction control switch RTS, with the two delays. */
QB_API void qbSetRs485Kernel(int32_t on);

/** @} */

/** \name Protocols
 * Threads: callable from any thread and from inside the event procedure. Failure: an unknown
 * protocol name answers QB_NO.
 * @{ */

/** Selects the protocol by exact, case-sensitive name: u"MODBUS" (the default), u"LSMK",
 * u"MKLD", u"MBFX" or u"USRPRTCL". Registers the reply frames of that protocol in place of the
 * earlier ones; queued items and received bytes are kept. Any other name is stored: nothing is
 * sent for it (the message box "Error 34892" once). Null is the empty name. */
QB_API void qbSetProtocol(const qb_wchar* name);

/** 1 when items of the named protocol carry a device name ("LSMK", "MKLD", "MBFX"), else 0. */
QB_API int32_t qbHasPrtclDvcName(const qb_wchar* protocol);
/** 1 when bit items of the named protocol carry a bit position in a word ("LSMK", "MKLD"),
 * else 0. */
QB_API int32_t qbHasPrtclBitPos(const qb_wchar* protocol);
/** 1 when a read item of the named protocol covers consecutive addresses ("MODBUS", "MBFX"),
 * else 0. */
QB_API int32_t qbIsPrtclSupportContinuousAddr(const qb_wchar* protocol);
/** Switches the scheduler off for good (a host that moves frames by other means); keeps both
 * texts. */
QB_API void qbSetHttpMode(const qb_wchar* first, const qb_wchar* second);

/** @} */

/** \name User protocol
 * A protocol that the host describes with a definition (see qbSetUsrPrtclFromBinHexExp).
 * Threads: callable from any thread and from inside the event procedure (qbSetTempStr in
 * particular from inside QB_EVENT_USER_PACKET_PREPARED). Failure: as each function says.
 * @{ */

/* Event codes of the user protocol (record form: details through the qbGetLast... functions). */
#define QB_EVENT_USER_PACKET_RECEIVED 100 /**< wParam: high-byte-first flag of the packet */
#define QB_EVENT_USER_PACKET_PREPARED 101 /**< wParam: item id; values go in with qbSetTempStr */

/** Loads a user protocol definition (a packed property stream as hexadecimal text, two digits a
 * byte) in place of the current one; 1 loaded, 0 not (odd length: the old definition stays). A
 * null text is empty. */
QB_API int32_t qbSetUsrPrtclFromBinHexExp(const qb_wchar* definition);
/** Builds an item of Tx packet packetName, asks the host for its values (event 101, during which
 * the host calls qbSetTempStr) and appends it to the auto items; 1 queued, 0 unknown packet or a
 * packet whose Style does not compile. A null name is empty. */
QB_API int32_t qbAutoUsrPrtclPakt(const qb_wchar* packetName, uint32_t id);
/** As qbAutoUsrPrtclPakt, for a manual item sent once, with the host's Tx situation text. */
QB_API int32_t qbManualUsrPrtclPakt(const qb_wchar* packetName, const qb_wchar* txSituation,
                                    uint32_t id);
/** @} */

/** \name Diagnostics
 * Threads: callable from any thread. Failure: a trace file that cannot be written is skipped
 * silently.
 * @{ */

/** Appends selected events, stamped "[tick]", to the trace file (deleted when the library
 * loads). */
QB_API void qbEnableTraceToFile(void);
/** Moves the trace file (default "Flash Disk/OrdwickLog.txt" in the working directory);
 * deletes nothing. */
QB_API void qbSetTraceFilePath(const qb_wchar* path);
/** Shows the Log window on the diagnostics monitor (`quillbox monitor`): 100 ms later it comes up,
 * captioned "Log - DLL Version " + the version number, with a status table (port, protocol, traffic
 * counts, "Count" of its ticks), the trace lines and the traffic. Without a monitor nothing shows.
 */
QB_API void qbShowLog(void);
/** Draws text in a random colour on the display, which is the monitor's page; null reads as empty
 * text. Without a monitor nothing is drawn. */
QB_API void qbTest1(const qb_wchar* text);
/** Attaches the diagnostics monitor listening on the Unix socket at path (as QUILLBOX_MONITOR does
 * at load); null or empty detaches. Sending never waits: a line the monitor cannot take is lost. */
QB_API void qbSetMonitorSocket(const qb_wchar* path);

/** @} */

/** \name Modbus
 * Threads: callable from any thread and from inside the event procedure.
 * @{ */

/** Returns the least wait in ms between a reply and the next RTU request at the port's baud
 * rate. */
QB_API int32_t qbGetRtuTimeGap(void);
/** Feeds reply bytes received by the host; 1 taken, 0 rejected (ignored while the library's port is
 * open). */
QB_API int32_t qbOnSerialReceive(const uint8_t* bytes, int32_t count);

/** @} */

/** \name Version
 * Threads: callable from any thread, also before anything else. Failure: none.
 * @{ */

/** Returns the library's version, "major.minor.patch.tweak" (static text; never null). */
QB_API const char* qbGetVersion(void);

/** @} */

/** \name Detailed events and error texts (extensions; off by default)
 * Extensions that the system does not have, for hosts that want to know why a query failed.
 * Threads: callable from any thread and from inside the event procedure. Failure: none.
 * @{ */

/** Non-zero: also sends QB_EVENT_EXCEPTION, QB_EVENT_REJECTED, QB_EVENT_PORT_LOST,
 * QB_EVENT_ITEM_DROPPED and QB_EVENT_REPLY_DISCARDED (each names its item and, through
 * qbGetLastErrorText, says why). 0 (the default): only the system's own events. */
QB_API void qbSetDetailedEvents(int32_t on);
/** Copies why the last failing call failed (for example "/dev/ttyUSB0: busy: opened by another
 * program") into dst: at most max - 1 characters and a zero. Returns the full length in
 * characters (0: nothing failed yet); a null dst or max <= 0 copies nothing. Besides the calls
 * that fail (qbOpenSerial, qbSetPortDevice) it names a lost port and, with detailed events, the
 * last refused reply. */
QB_API int32_t qbGetLastErrorText(qb_wchar* dst, int32_t max);

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUILLBOX_QUILLBOX_H_ */
