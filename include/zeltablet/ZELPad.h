/*
 * ZELPad — several signature pads in one program.
 *
 * Where ZELTabletCore.h drives one process-wide pad, this interface drives any number of pads
 * at once through handles: open a pad by its identifier or its device path, then send it the
 * same commands, pictures and settings, and receive its pen samples through a callback with
 * a context. The process-wide pad of ZELTabletCore.h is one pad among these: it and the
 * handles may be used at the same time, each on its own pad. The header compiles as C99 and
 * as C++; it includes ZELTabletCore.h for the shared types (PenSample, Capabilities,
 * TabletStatusReport, ZELWindow).
 *
 * Handles open pads reached over USB (HID). Pads on a serial line are driven through the
 * process-wide pad (Connect with a port number).
 *
 * One pad, one owner
 * ------------------
 * A pad is open to one owner at a time: a handle or the process-wide pad. Opening a pad that
 * is already open (by identifier or path, on a handle or through Connect/ConnectByUid) is
 * refused with ZELPAD_ALREADY_OPEN; Connect and ConnectByUid with identifier 0 pick the first
 * pad that nobody has open. listDevices lists pads open on handles with the identifier they
 * gave when opened, without disturbing them.
 *
 * Threading rules
 * ---------------
 * - Each handle has its own reader thread and state. Different handles may be used from
 *   different threads at the same time, and at the same time as the ZELTabletCore.h exports:
 *   a picture upload on one pad does not hold up another pad's commands or samples.
 * - The functions on one handle take no lock: call them from one host thread at a time (any
 *   thread, but not two at once), as the ZELTabletCore.h exports.
 * - Pen callbacks of a handle run on that handle's reader thread, one sample at a time, in
 *   the order its pad sent them; they receive only that pad's samples. Setting or replacing a
 *   callback may happen on any thread at any time; a callback and its context are replaced as
 *   one and apply from one of the following samples on.
 * - Inside a pen callback the host may call the functions of any handle, with the same
 *   exceptions as ZELTabletCore.h (on its own handle, ZELPad_AgreePenDataKey returns
 *   ZEL_KEY_IN_CALLBACK); ZELPad_Close of its own handle is refused (ZELPAD_IN_CALLBACK).
 * - ZELPad_Close stops the reader: once it has returned, no callback of the handle is running
 *   or will run. A callback that takes longer than 10 seconds is waited for all the same
 *   (its handle's memory stays valid until it returns).
 *
 * Results
 * -------
 * Functions return ZELPAD_OK or one of the ZELPAD_... codes below; nothing is thrown. Refused
 * or failed operations also leave one message in the library's log (SetLogFile), as the
 * ZELTabletCore.h exports do.
 */
#ifndef ZELTABLET_ZELPAD_H
#define ZELTABLET_ZELPAD_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "zeltablet/ZELTabletCore.h"

#ifdef __cplusplus
extern "C" {
#endif

/** An open pad. Opaque; valid from a successful open until ZELPad_Close. */
typedef struct ZELPad ZELPad;

#define ZELPAD_OK 0
#define ZELPAD_BAD_ARGUMENT 1   /* a NULL handle or output, or a value out of range */
#define ZELPAD_NOT_FOUND 2      /* no pad of our vendor with that identifier or path */
#define ZELPAD_ALREADY_OPEN 3   /* the pad is open on another handle or the process-wide pad */
#define ZELPAD_FAILED 4         /* the pad did not answer, refused, or is gone */
#define ZELPAD_UNSUPPORTED 5    /* the pad's model has no such setting */
#define ZELPAD_BUSY 6           /* the pad is busy (still showing a picture) */
#define ZELPAD_IN_CALLBACK 7    /* not allowed inside this handle's own pen callback */
#define ZELPAD_NO_MEMORY 8      /* the library could not allocate */
#define ZELPAD_BAD_PICTURE 9    /* the picture could not be read or fitted to the screen */

/** A pad as ZELPad_List finds it. */
typedef struct ZELPadEntry {
    uint32_t vendorId;
    uint32_t productId; /* 0xA1..0xA4 */
    uint32_t uid;       /* the pad's identifier */
    uint32_t open;      /* 1 when a handle or the process-wide pad has it open */
    char path[256];     /* device path, NUL-terminated (ZELPad_OpenByPath takes it) */
} ZELPadEntry;

/** What ZELPad_GetInformation reports. */
typedef struct ZELPadInformation {
    uint32_t vendorId;
    uint32_t productId;
    uint32_t uid;       /* the identifier the pad gave when it was opened */
    char model[8];      /* the pad's model string, NUL-terminated ("" when unreadable) */
    char path[256];     /* device path, NUL-terminated */
} ZELPadInformation;

/**
 * Lists attached pads of every model into entries (room for capacity) and sets *count to the
 * number found (which may exceed capacity; only capacity are written). Pads that are open are
 * listed without being disturbed. Does not touch the process-wide pad's connection.
 */
ZEL_API int32_t ZELPad_List(ZELPadEntry* entries, uint32_t capacity, uint32_t* count);

/**
 * Opens the pad with identifier uid (0: the first pad nobody has open) among the models of
 * modelSelector (0 or negative: every model; 1..4: product ID 0xA1..0xA4). *pad receives the
 * handle, or NULL on failure. The capture mode starts at 1 (every sample).
 */
ZEL_API int32_t ZELPad_OpenByUid(uint32_t uid, int32_t modelSelector, ZELPad** pad);
/** Opens the pad at a device path as ZELPad_List gives it. */
ZEL_API int32_t ZELPad_OpenByPath(const char* path, ZELPad** pad);
/**
 * Releases the pad and frees the handle (NULL: nothing to do, ZELPAD_OK). Afterwards no
 * callback of the handle runs and the pad may be opened again.
 */
ZEL_API int32_t ZELPad_Close(ZELPad* pad);

/** ZELPAD_OK when the pad is open and answers its information report. */
ZEL_API int32_t ZELPad_Check(ZELPad* pad);
ZEL_API int32_t ZELPad_GetInformation(ZELPad* pad, ZELPadInformation* information);
ZEL_API int32_t ZELPad_GetCapabilities(ZELPad* pad, Capabilities* capabilities);
ZEL_API int32_t ZELPad_GetStatus(ZELPad* pad, TabletStatusReport* status);
/** Writes the identifier (four bytes, most significant first). */
ZEL_API int32_t ZELPad_SetUid(ZELPad* pad, uint32_t uid);

/* ---- Settings: as the ZELTabletCore.h functions of the same names, on this pad. The colour
 * pad's extended settings (pen, backlight, clear colour) give ZELPAD_UNSUPPORTED elsewhere. */
ZEL_API int32_t ZELPad_SetPenProperties(ZELPad* pad, uint32_t width, uint32_t colour);
ZEL_API int32_t ZELPad_GetPenProperties(ZELPad* pad, PenProperties* properties);
ZEL_API int32_t ZELPad_SetBacklightBrightness(ZELPad* pad, uint32_t level);
ZEL_API int32_t ZELPad_GetBacklightBrightness(ZELPad* pad, uint32_t* level);
ZEL_API int32_t ZELPad_SetClearScreenColour(ZELPad* pad, uint32_t colour);
ZEL_API int32_t ZELPad_GetClearScreenColour(ZELPad* pad, uint32_t* colour);
ZEL_API int32_t ZELPad_SetInkingMode(ZELPad* pad, uint32_t mode);
ZEL_API int32_t ZELPad_SetHandwritingArea(ZELPad* pad, uint32_t left, uint32_t top,
                                          uint32_t right, uint32_t bottom);
/** Turns the pad's time count in pen samples on or off (the colour pad). */
ZEL_API int32_t ZELPad_SetTimeCount(ZELPad* pad, bool enabled);
/** Clears the screen; ZELPAD_BUSY while the pad is busy. */
ZEL_API int32_t ZELPad_ClearScreen(ZELPad* pad);

/* ---- Pictures: as setImage, setnoZImage and setZImage, on this pad. ---------------------- */
ZEL_API int32_t ZELPad_ShowPictureFile(ZELPad* pad, const char* path);
ZEL_API int32_t ZELPad_ShowPictureMemory(ZELPad* pad, const void* bytes, uint32_t byteCount);
ZEL_API int32_t ZELPad_ShowPackedPicture(ZELPad* pad, const void* bytes, uint64_t byteCount);

/* ---- Pen input ------------------------------------------------------------------------ */

/** 1: every sample reaches the callback; any other value: only samples with pressure. */
ZEL_API int32_t ZELPad_SetCaptureMode(ZELPad* pad, uint32_t mode);
/** The pen callback and its context, replaced as one (NULL: none). */
ZEL_API int32_t ZELPad_SetPenCallback(ZELPad* pad, PenCallbackExt callback, void* context);
/** Where this pad's pen notifications go (see ZELWindow; 0: nowhere). */
ZEL_API int32_t ZELPad_SetNotifyWindow(ZELPad* pad, ZELWindow window);
/**
 * Agrees this pad's pen-data key, as AgreePenDataKey does for the process-wide pad: 0 or a
 * status code (GetErrorText). Each pad has its own key: agreeing one pad's key leaves the
 * others' alone.
 */
ZEL_API int32_t ZELPad_AgreePenDataKey(ZELPad* pad, const uint8_t* prime, uint32_t primeSize,
                                       const uint8_t* generator, uint32_t generatorSize);

/**
 * Turns reconnection of this pad on or off, as SetReconnect does for the process-wide pad
 * (see the rules there): callback (may be NULL) receives the handle's events with context.
 * ZELPad_Close turns it off; inside the handle's own reconnection callback it is refused
 * (ZELPAD_IN_CALLBACK). ZELPAD_FAILED when the library cannot watch for pads.
 */
ZEL_API int32_t ZELPad_SetReconnect(ZELPad* pad, bool enabled, ZELReconnectCallback callback,
                                    void* context);

#ifdef __cplusplus
}
#endif

#endif /* ZELTABLET_ZELPAD_H */
