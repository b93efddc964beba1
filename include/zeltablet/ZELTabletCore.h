/*
 * ZELTabletCore — host interface of the signature pad library.
 *
 * One flat C interface drives one USB signature pad (pressure-sensitive pen, small LCD):
 * list pads, connect over HID or a serial port, put pictures on the screen, clear it, set
 * pen, backlight and colours, choose where ink is drawn, and receive pen samples through a
 * callback and a notification. The header compiles as C99 and as C++.
 *
 * Threading rules
 * ---------------
 * - The library keeps one process-wide tablet. Exported functions take no lock: call them
 *   from one host thread at a time (any thread, but not two at once).
 * - While a pad is connected, a reader thread owned by the library reads its input. Pen
 *   callbacks run on that reader thread, one sample at a time, in the order the pad sent
 *   them. A slow callback delays further samples; it never loses them from the pad's side.
 * - Registering or replacing a callback may happen on any thread at any time; the change
 *   applies from one of the following samples on.
 * - Notifications (see ZELWindow) are posted from the reader thread and never block it.
 *
 * Memory
 * ------
 * The arrays and strings returned by listDevices and GetModelNumber come from malloc and
 * belong to the caller, who releases them with free().
 *
 * Results
 * -------
 * Nothing is thrown across this interface. Failures are reported by the result (0, false,
 * NULL, 0xFFFFFFFF or a `valid` field of 0) and, for refused or failed operations, by one
 * message in the file "ZELTablet.log" in the current directory, which holds only the last
 * message.
 */
#ifndef ZELTABLET_ZELTABLETCORE_H
#define ZELTABLET_ZELTABLETCORE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(ZELTABLETCORE_BUILDING)
#define ZEL_API __declspec(dllexport)
#else
#define ZEL_API __declspec(dllimport)
#endif
#else
#define ZEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Where pen notifications go. On Windows it is a window handle (HWND): message 0x5F4 is
 * posted with wParam = pen report ID and lParam = 0. On POSIX systems it is a file
 * descriptor (0 means none), typically the write end of a pipe: each notification is one
 * non-blocking write of a 24-byte little-endian record
 *     { uint32 message = 0x5F4, uint32 0, uint64 wParam = report ID, uint64 lParam = 0 }
 * that the host reads from its event loop. A full pipe drops the record.
 */
#if defined(_WIN32)
typedef void* ZELWindow;
#else
typedef intptr_t ZELWindow;
#endif

/** Message number of a pen notification (WM_USER + 0x1F4). */
#define ZEL_PEN_MESSAGE 0x5F4u

/** One element of the list returned by listDevices (12 bytes). */
typedef struct DeviceEntry {
    uint32_t vendorId;  /* USB vendor ID */
    uint32_t productId; /* USB product ID: 0xA1, 0xA2, 0xA3 or 0xA4 */
    uint32_t uid;       /* the pad's identifier */
} DeviceEntry;

/** The pad's capabilities (24 bytes); the other fields mean nothing when valid is 0. */
typedef struct Capabilities {
    uint32_t valid;
    uint32_t capability1;
    uint32_t capability2;
    uint32_t capability3;
    uint32_t screenWidth;  /* pixels */
    uint32_t screenHeight; /* pixels */
} Capabilities;

/** Pen width (1 thin, 2 medium, 3 bold) and the pad's 16-bit pen colour (8 bytes). */
typedef struct PenProperties {
    uint32_t width;
    uint32_t colour;
} PenProperties;

/** One pen sample handed to the host (20 bytes). */
typedef struct PenSample {
    uint32_t x;         /* 0..65535 */
    uint32_t y;         /* 0..65535 */
    uint32_t pressure;  /* 0..4095 */
    uint32_t switches;  /* 0..7 */
    uint32_t timeCount; /* the pad's 16-bit time count (report 0x30), else 0 */
} PenSample;

/**
 * One decoded pen record, as the reader thread produces it and onCDllReceive takes it
 * (32 bytes).
 */
typedef struct PenData {
    uint32_t reportId;    /* input report the sample came from: 0x01, 0x10 or 0x30 */
    uint32_t blockHeader; /* report 0x10: first four decrypted bytes, little-endian; else 0 */
    uint32_t ready;       /* bit 7 of the pen status byte */
    uint32_t x;
    uint32_t y;
    uint32_t pressure;
    uint32_t switches;
    uint32_t timeCount;
} PenData;

/** Simple pen callback; runs on the reader thread; its result is ignored. */
typedef int (*PenCallback)(PenSample sample);
/** Extended pen callback with the context given at registration; result ignored. */
typedef int (*PenCallbackExt)(PenSample sample, void* context);

/* ---- Discovery and connection ------------------------------------------------------- */

/**
 * Lists attached pads (modelSelector 0 or negative: every model; 1..4: product ID 0xA1..0xA4)
 * and ends any connection. Returns a malloc'ed array of 10 entries, ended by an all-zero
 * entry or the tenth, or NULL when no pad was found. comPort != 0 returns an empty list.
 */
ZEL_API DeviceEntry* listDevices(ZELWindow window, uint32_t comPort, int32_t modelSelector);
/** Connects to the first pad (comPort 0: HID) or to the pad on serial port comPort. */
ZEL_API bool Connect(ZELWindow window, uint32_t comPort);
/** Connects to the pad with identifier uid (0: any) among the models of modelSelector. */
ZEL_API bool ConnectByUid(ZELWindow window, uint32_t comPort, int32_t modelSelector, uint32_t uid);
/** True when a pad is connected and answers its information report. */
ZEL_API bool isConnected(void);
/** Releases the pad: 0 when a working connection was ended, 1 when there was none. */
ZEL_API int Disconnect(void);
/** The pad's model string (malloc'ed, caller frees), or NULL. */
ZEL_API char* GetModelNumber(void);
/** The pad's 32-bit identifier, or 0 when it cannot be read. */
ZEL_API uint32_t GetUID(void);
/** Writes the identifier; pass its four bytes most significant first. */
ZEL_API int SetUID(const uint8_t* bytes);
ZEL_API Capabilities GetCapabilities(void);

/* ---- Settings (the colour pad, product ID 0xA3; other pads log and report success) ----- */

ZEL_API bool SetPenProperties(uint32_t width, uint32_t colour);
ZEL_API PenProperties GetPenProperties(void);
ZEL_API bool SetBacklightBrightness(uint32_t level);
ZEL_API uint32_t GetBacklightBrightness(void);
ZEL_API bool SetClearScreenColour(uint32_t colour);
ZEL_API uint32_t GetClearScreenColour(void);
/** Clears the pad's screen; refused (0) while the pad is busy. */
ZEL_API bool ClearScreen(void);
/** Inking mode for every model (low byte of mode). */
ZEL_API bool setInkingMode(uint32_t mode);
/** Area in which ink is drawn; status receives a transport status code (may be NULL). */
ZEL_API bool setHandwritingArea(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom,
                                uint32_t* status);
ZEL_API bool enableTimecount(void* unused);
ZEL_API bool disableTimecount(void* unused);

/* ---- Pictures ------------------------------------------------------------------------- */

/** Loads a picture file (BMP, JPEG, GIF, PNG), fits it to the screen and shows it. */
ZEL_API int setImage(const char* path);
/** Sends bytes already in the pad's compressed format. */
ZEL_API int setZImage(uint64_t byteCount, const void* bytes);
/** Loads a picture from memory (BMP, JPEG, GIF), fits it to the screen and shows it. */
ZEL_API int setnoZImage(uint32_t byteCount, const uint8_t* bytes);

/* ---- Pen input ------------------------------------------------------------------------ */

/** Registers the simple callback (NULL clears it). Always 1. */
ZEL_API int onCDllCallback(PenCallback callback);
/** Registers the extended callback and its context; it takes precedence. Always 1. */
ZEL_API int onCDllCallback_ext(PenCallbackExt callback, void* context);
/** Delivers one record to the registered callback, filtered by capture mode. */
ZEL_API int onCDllReceive(PenData* record);
/** mode 1: every sample reaches the callback; any other value: only samples with pressure. */
ZEL_API bool BeginCapture(uint8_t mode, uint32_t unused, void* unused2);
ZEL_API bool EndCapture(void* unused);

#ifdef __cplusplus
}
#endif

#endif /* ZELTABLET_ZELTABLETCORE_H */
