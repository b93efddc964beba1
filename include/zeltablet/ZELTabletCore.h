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
 *   applies from one of the following samples on. A callback and its context are stored
 *   together and replaced as one: a callback is never called with another registration's
 *   context. A call already running when the callback is replaced finishes with the old
 *   callback and context. Once Disconnect (or Connect, listDevices) has ended a connection on a
 *   host thread, no callback of that connection is running or will run (unless a callback
 *   broke the 10 second limit below).
 * - Notifications (see ZELWindow) are posted from the reader thread and never block it.
 * - Inside a pen callback the host may call the exported functions, Disconnect and Connect
 *   included. Disconnect there ends the connection at once: no further sample of that
 *   connection reaches a callback, the call returns 0 as on any thread, and the library
 *   stops the reader and closes the pad on a thread of its own once the callback has
 *   returned. On a serial connection the pad's answers arrive on the very thread that runs
 *   the callback, so inside the callback every function that must hear from the pad fails at
 *   once (isConnected there reports the open link as connected, so Disconnect works).
 * - Connect inside a pen callback releases the old connection the same way and opens the new
 *   one, and callbacks stay one at a time and in the pad's order: the new connection's
 *   samples wait (kept, not dropped) until the callback that called Connect has returned.
 *   The rest of the report in hand still arrives first (the second sample of an encrypted
 *   report whose first sample's callback reconnected), then the new connection's samples.
 *   Reconnecting to the same serial port goes on with the open line, so no sample the pad
 *   sends is lost. Over HID the new connection opens the device anew: a report the pad sends
 *   in the moment between the old reader stopping and the new open reaching the system is
 *   queued on the old connection's handle, which is closed unread, and so is lost (the
 *   operating system gives each open handle only the reports that arrive after it opened).
 * - A callback must return within 10 seconds: a disconnection (Disconnect, Connect,
 *   listDevices on another thread) waits that long for it and then returns without it. The
 *   connection is ended all the same and the library stays safe: the late callback is the
 *   last of its connection (the rest of that connection's input is dropped), the old
 *   connection's device stays open until it returns (a serial port opened exclusively cannot
 *   be connected again until then), and a new connection's samples wait until it has
 *   returned, so two callbacks still never run at once. On a serial connection Disconnect
 *   first asks the pad for its information report, whose answer waits behind the callback:
 *   it takes up to 15 seconds more and then ends the connection anyway.
 * - Unloading: once the library has started a thread of its own (a pad's reader, the
 *   virtual pad's serial line), it stays loaded until the process ends. dlclose (or
 *   FreeLibrary on Windows) then does not unload it: a connection left open goes on, its
 *   callbacks keep being called, and no thread of the library is ever left running in
 *   unmapped code. Its threads are not stopped at unload (which on Windows could not wait
 *   for them at all): a host that wants them gone calls Disconnect and SimulatorDisable
 *   before it lets go of the library. A library that never started a thread unloads as
 *   any other.
 *
 * Memory
 * ------
 * The arrays and strings returned by listDevices and GetModelNumber come from malloc and
 * belong to the caller, who releases them with free().
 *
 * File names
 * ----------
 * setImage, DecodePictureFile, SimulatorSaveScreen and SetComPortPath take a NUL-terminated
 * name as a host's bytes. On POSIX systems those bytes are the path, unchanged, whatever their
 * encoding. On Windows, whose file names are UTF-16, a name that is valid UTF-8 is read as
 * UTF-8 (so every file can be named); any other name is read byte by byte, each byte the
 * character of the same value (U+0000 to U+00FF, i.e. Latin-1), as hosts written for
 * single-byte names pass them. ASCII names read the same either way. A Latin-1 name whose
 * bytes happen to form valid UTF-8 (such as the two bytes C3 A9) is read as UTF-8.
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
 * that the host reads from its event loop. A full pipe drops the record. On a blocking pipe
 * the record is written only when poll() reports room, so a host that also writes to that
 * pipe from other threads should make it non-blocking (pipe2 with O_NONBLOCK). A pipe whose
 * reader has gone raises no SIGPIPE.
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
 * With more than ten pads attached, the first ten in discovery order are listed.
 */
ZEL_API DeviceEntry* listDevices(ZELWindow window, uint32_t comPort, int32_t modelSelector);
/**
 * Connects to the first pad (comPort 0: HID) or to the pad on serial port comPort (see
 * SetComPortPath). A HID connection sets the capture mode to 1 and records the pad's product
 * ID, which decides the product-dependent functions. A serial connection leaves both as they
 * were. Before any HID connection the capture mode is 1, and a serial pad's model is taken
 * from the pad's own answers: the first call on the connection that depends on the model
 * reads the information report (model string) and, when the name is not a known model's,
 * the capabilities (screen size). A pad that does not answer or matches no model is treated
 * as one without the colour pad's extended settings that takes no converted pictures.
 */
ZEL_API bool Connect(ZELWindow window, uint32_t comPort);
/** Connects to the pad with identifier uid (0: any) among the models of modelSelector. */
ZEL_API bool ConnectByUid(ZELWindow window, uint32_t comPort, int32_t modelSelector, uint32_t uid);
/** True when a pad is connected and answers its information report. */
ZEL_API bool isConnected(void);
/**
 * Releases the pad: 0 when a working connection was ended, 1 when there was none or it
 * failed the connection test (isConnected); a connection that fails the test, say to a pad
 * that was unplugged or does not answer, is ended as well. Afterwards nothing is connected
 * and no sample of the old connection reaches a callback.
 */
ZEL_API int Disconnect(void);
/**
 * The pad's model string (malloc'ed, caller frees), or NULL. At most 7 characters: a longer
 * string in the pad's report is cut.
 */
ZEL_API char* GetModelNumber(void);
/** The pad's 32-bit identifier, or 0 when it cannot be read. */
ZEL_API uint32_t GetUID(void);
/** Writes the identifier; pass its four bytes most significant first. */
ZEL_API int SetUID(const uint8_t* bytes);
ZEL_API Capabilities GetCapabilities(void);

/* ---- Settings (the colour pad, product ID 0xA3; other pads log and report success) ----- */

/** width 1..3 (others are logged and replaced by 1); confirmed by the pad's status. */
ZEL_API bool SetPenProperties(uint32_t width, uint32_t colour);
/** Zeros when unsupported or when the pad cannot be read. */
ZEL_API PenProperties GetPenProperties(void);
/** level 0..3 (larger values are logged and replaced by 3); confirmed by the pad's status. */
ZEL_API bool SetBacklightBrightness(uint32_t level);
/** 0..3, or 0xFFFFFFFF when unsupported or when the pad cannot be read. */
ZEL_API uint32_t GetBacklightBrightness(void);
ZEL_API bool SetClearScreenColour(uint32_t colour);
/** The 16-bit colour, or 0xFFFFFFFF when unsupported or when the pad cannot be read. */
ZEL_API uint32_t GetClearScreenColour(void);
/**
 * Clears the pad's screen; refused (0) while the pad is busy. On pads other than 0xA1 and
 * 0xA2 it first waits until 600 ms have passed since the last clear or image (the image
 * exports do the same): never longer than 600 ms, however long the library has been loaded.
 */
ZEL_API bool ClearScreen(void);
/** Inking mode for every model (low byte of mode). */
ZEL_API bool setInkingMode(uint32_t mode);
/** Area in which ink is drawn; status receives a transport status code (may be NULL). */
ZEL_API bool setHandwritingArea(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom,
                                uint32_t* status);
ZEL_API bool enableTimecount(void* unused);
ZEL_API bool disableTimecount(void* unused);

/* ---- Pictures -------------------------------------------------------------------------
 * The picture is fitted to the screen size the pad reports and converted by product: 1-bit
 * for 0xA1 (zlib-compressed) and 0xA2, 16-bit colour for 0xA3; 0xA4 is refused. On a serial
 * connection the product is decided as Connect describes, and colour pictures go as data
 * reports: a serial line has no bulk pipe.
 */

/**
 * Loads a picture file (BMP, JPEG, GIF, PNG), fits it to the screen and shows it. The path
 * follows the rule under File names above. Files whose own header does not fit the file
 * (cut short, sizes or data past its end) or claims a picture above 32768 pixels a side or
 * 2^28 bytes of pixels are refused before any decoder sees them, on every system; of a GIF
 * the first frame is shown, on the logical screen grown to the frame's extent where the frame
 * reaches past it.
 */
ZEL_API int setImage(const char* path);
/** Sends bytes already in the pad's compressed format. */
ZEL_API int setZImage(uint64_t byteCount, const void* bytes);
/** Loads a picture from memory (BMP, JPEG, GIF), fits it to the screen and shows it. */
ZEL_API int setnoZImage(uint32_t byteCount, const uint8_t* bytes);

/* ---- Pen input ------------------------------------------------------------------------ */

/**
 * Registers the simple callback (NULL clears it). 1; 0 only when out of memory, and then the
 * previous registration stays.
 */
ZEL_API int onCDllCallback(PenCallback callback);
/**
 * Registers the extended callback and its context (NULL clears it); while set, it takes
 * precedence over the simple one. 1; 0 only when out of memory, and then the previous
 * registration stays.
 */
ZEL_API int onCDllCallback_ext(PenCallbackExt callback, void* context);
/**
 * Delivers one record to the registered callback, filtered by capture mode; returns the
 * record's pressure (0 for a NULL record).
 */
ZEL_API int onCDllReceive(PenData* record);
/** mode 1: every sample reaches the callback; any other value: only samples with pressure. */
ZEL_API bool BeginCapture(uint8_t mode, uint32_t unused, void* unused2);
ZEL_API bool EndCapture(void* unused);

/* ---- Extensions -------------------------------------------------------------------------
 * Beyond the functions above, for hosts on systems other than Windows and for hosts that
 * test without a pad. Same linkage and threading rules.
 */

/**
 * Maps serial port number `port` (1 or above, as passed to Connect) to a device path, for USB
 * serial adapters and pseudo-terminals. Unmapped ports open the system's own name: on Linux
 * port N is "/dev/ttyS{N-1}", on Windows "\\.\COMN". The path follows the rule under File
 * names above. A NULL or empty path removes the mapping. Returns false for port 0, a path
 * longer than 4095 bytes or more than 256 mapped ports. Thread-safe.
 */
ZEL_API bool SetComPortPath(uint32_t port, const char* path);

/**
 * The English message of a status code (a pad result code below 0x100, a serial transport
 * code that is a multiple of 0x100, or one of the ZEL_KEY_... codes below), e.g. 3 gives
 * "ERROR_CRC_ZELTABLET (CRC error detected by Tablet)" and unknown codes "error code undefined".
 * Copies at most size - 1 bytes and a terminating NUL into buffer (nothing when buffer is NULL or
 * size is 0) and returns the message's full length, like snprintf, so a too-small buffer can be
 * detected. Thread-safe.
 */
ZEL_API uint32_t GetErrorText(uint32_t code, char* buffer, uint32_t size);

/* The library's own status codes beyond those of the pads and the serial link, returned by
 * AgreePenDataKey (GetErrorText explains them too). */
#define ZEL_KEY_NOT_CONNECTED 0xB00u   /* no pad is connected */
#define ZEL_KEY_NO_ANSWER 0xC00u       /* a transfer failed without a code (HID; pad gone) */
#define ZEL_KEY_PAD_KEY_REFUSED 0xD00u /* the pad's public key failed the host's checks */
#define ZEL_KEY_BAD_PARAMETERS 0xE00u  /* wrong sizes, or no host key can be made in the group */
#define ZEL_KEY_IN_CALLBACK 0xF00u     /* called inside a pen callback */

/**
 * Agrees the key of encrypted pen data with the connected pad (Diffie-Hellman over a 128-bit
 * group): sends the group, the host's public key, reads the pad's and computes the AES key
 * with which pen reports 0x10 are decrypted from then on. The pad encrypts its samples from
 * the moment it has the host's key, two to a report; report 0x10 carries no time count, so
 * encrypted samples arrive with timeCount 0.
 *
 * prime: 16 bytes, big-endian; generator: 2 bytes, big-endian (a one-byte base is written
 * 00 g). NULL with size 0 for both chooses the library's default group.
 *
 * Returns 0 on success, otherwise a status code (GetErrorText gives its message):
 * - the pad's own code when it refused a value: 33 a zero value, 35 a prime that is not prime,
 *   36 a bad base, 37 a bad public key, 38/39 values out of order;
 * - on a serial link the line's codes (0x100 to 0x500) when an exchange failed;
 * - ZEL_KEY_... above for failures on the host's side.
 *
 * Pen decoding pauses while the agreement runs: samples arriving meanwhile are held and
 * delivered afterwards, in order, decrypted with the new key. On failure the previous key
 * stays in use when the pad cannot have changed its own (it refused a value, or the failure
 * came before the host's public key was sent); otherwise the key is cleared and encrypted
 * reports are dropped until an agreement succeeds, so that no wrongly decrypted sample
 * reaches a callback. The key is the library's, kept across disconnections (a pad that still
 * encrypts after a reconnection is decrypted as before).
 *
 * Threading: as the other functions; one agreement runs at a time (a second caller waits).
 * Inside a pen callback it returns ZEL_KEY_IN_CALLBACK at once. On a serial link whose pad
 * does not answer, each exchange fails only after the line's time-outs (about 15 seconds).
 */
ZEL_API int32_t AgreePenDataKey(const uint8_t* prime, uint32_t primeSize, const uint8_t* generator,
                                uint32_t generatorSize);

/** The pad's status report (report 0x03), as GetTabletStatus reads it. */
typedef struct TabletStatusReport {
    uint32_t statusCode;     /* 0: ready (accepts a screen clear or an image); others busy */
    uint32_t lastResultCode; /* 0 when the pad's last command succeeded, else its result code
                                (see GetErrorText) */
    uint32_t statusWord;     /* 16 bits, model-specific, carried as read */
} TabletStatusReport;

/**
 * Reads the connected pad's status report into *status. False (status untouched) when
 * status is NULL, no pad is connected or the pad does not answer.
 */
ZEL_API bool GetTabletStatus(TabletStatusReport* status);

/* ---- Reconnection after an unplug ------------------------------------------------------
 * With reconnection on, a pad whose cable is pulled and plugged in again is taken back by the
 * library: when a pad with the same identifier comes back over USB, the library opens it
 * again and sets again what the host had set, then tells the host. Without it (the default)
 * a connection to a pad that left stays dead until the host ends it.
 *
 * What comes back: the connection (the pad's new device), the capture mode, the pen
 * callbacks and the notification window (they never left), the settings the host's calls
 * made (inking mode; on the colour pad pen, backlight, clear colour, handwriting area and
 * time count), and a pen-data key agreed again in the same group when one was in use (the
 * pad forgets its key when it loses power). Pictures are not sent again: the host decides
 * what the screen shows after an interruption.
 *
 * Samples: the old connection's reader has ended, its last sample delivered, before the
 * pad is opened again, so every sample from before the unplug reaches the callback before
 * any sample from after it; none is delivered twice. What the pad would have sent while
 * unplugged does not exist; the gap is reported as a time. Events and pen callbacks run on
 * different threads: a host that wants to place the event among its samples compares the
 * samples' arrival with the event's (samples after ZEL_RECONNECT_BACK are the new
 * connection's).
 *
 * Events run on the library's device-event thread, one at a time, never on a reader thread;
 * an event callback may call every export except SetReconnect, ZELPad_SetReconnect and
 * ZELPad_Close of the handle concerned. The pad's arrival and removal are learnt from the
 * system's device notifications (the virtual pads raise their own), so they work on every
 * system the library runs on.
 */
#define ZEL_RECONNECT_LEFT 1u   /* the connected pad left; samples have stopped */
#define ZEL_RECONNECT_BACK 2u   /* it came back and capture goes on; see gapMs, restored */
#define ZEL_RECONNECT_FAILED 3u /* it came back but could not be opened again (another owner
                                   took it, or it did not answer); the connection stays dead
                                   and the next arrival of the pad is tried again */

/* What a reconnection set again (ZELReconnectEvent.restored and .failed). */
#define ZEL_RESTORED_CAPTURE 0x01u /* connection, capture mode, callbacks, window */
#define ZEL_RESTORED_INKING 0x02u
#define ZEL_RESTORED_PEN 0x04u
#define ZEL_RESTORED_BACKLIGHT 0x08u
#define ZEL_RESTORED_CLEAR_COLOUR 0x10u
#define ZEL_RESTORED_AREA 0x20u
#define ZEL_RESTORED_TIME_COUNT 0x40u
#define ZEL_RESTORED_KEY 0x80u

typedef struct ZELReconnectEvent {
    uint32_t kind;     /* ZEL_RECONNECT_... */
    uint32_t uid;      /* the pad's identifier */
    uint32_t gapMs;    /* BACK, FAILED: milliseconds since the pad left (no samples meanwhile) */
    uint32_t restored; /* BACK: ZEL_RESTORED_... bits set again */
    uint32_t failed;   /* BACK: bits of settings the host had made that could not be set */
} ZELReconnectEvent;

typedef void (*ZELReconnectCallback)(const ZELReconnectEvent* event, void* context);

/**
 * Turns reconnection of the process-wide pad on or off; callback (may be NULL) receives its
 * events with context. Applies to the connection in place and later ones (HID only: a
 * serial line has no arrivals). Turning it off waits for an event being delivered to
 * finish. False when the library cannot watch for pads on this system. Not inside a pen
 * callback or an event callback.
 */
ZEL_API bool SetReconnect(bool enabled, ZELReconnectCallback callback, void* context);

/** Text the library hands to a host: NUL-terminated, valid only during the call. */
typedef void (*ZELTextCallback)(const char* text, void* context);

/**
 * The file that receives the log's messages, in place of "ZELTablet.log" in the current
 * directory. A relative path is taken from the current directory at the moment of writing,
 * as the default name is. NULL restores the default; "" writes no file at all. The file keeps
 * its form: only the latest message, "\n" stored as CR LF. Paths are passed to the file
 * system as the other path arguments are. Returns false, with nothing changed, for a path
 * longer than 4095 bytes. Thread-safe; applies to the messages written after it returns.
 */
ZEL_API bool SetLogFile(const char* path);

/**
 * Hands every log message to callback as well (whether a file is written or not), with its
 * text as logged ("\n" line ends, no CR added), on the thread whose call logs it, before that
 * call returns. NULL removes the callback. The callback and its context are stored and
 * replaced as one; a call already running finishes with the old pair. The callback may call
 * SetLogFile and SetLogCallback, but no other export. Always returns true. Thread-safe.
 */
ZEL_API bool SetLogCallback(ZELTextCallback callback, void* context);

/* Where the PNG decoder's diagnostic lines go (SetPngDiagnostics). */
#define ZEL_PNG_DIAGNOSTICS_STDOUT 0u   /* standard output, printf-formatted (the default) */
#define ZEL_PNG_DIAGNOSTICS_OFF 1u      /* nowhere */
#define ZEL_PNG_DIAGNOSTICS_CALLBACK 2u /* to the callback, one line per call */

/**
 * Routes the diagnostic lines the PNG decoder writes while it decodes a file (chunk names,
 * header fields, inflate blocks, reasons for a refusal). By default they go to standard
 * output. With ZEL_PNG_DIAGNOSTICS_CALLBACK each line goes to callback instead, with the
 * same text, its "\n" included, on the thread that decodes (the host's, within setImage or
 * DecodePictureFile). The callback and its context are stored and replaced as one; a line
 * already being handed over finishes with the old pair. The callback must not call the
 * picture functions. Returns false, with nothing changed, for an unknown destination or
 * ZEL_PNG_DIAGNOSTICS_CALLBACK without a callback. Thread-safe.
 */
ZEL_API bool SetPngDiagnostics(uint32_t destination, ZELTextCallback callback, void* context);

/*
 * Results of DecodePictureFile: OK; BAD_ARGUMENT (path, width or height is NULL); NO_FILE
 * (no regular file at path, or it cannot be read); NOT_LOADED (not a picture the library
 * loads: unknown format, damaged, unsupported PNG type, or above 2^28 bytes of pixels);
 * BUFFER_TOO_SMALL (capacity below width * height * 4).
 */
#define ZEL_PICTURE_OK 0
#define ZEL_PICTURE_BAD_ARGUMENT 1
#define ZEL_PICTURE_NO_FILE 2
#define ZEL_PICTURE_NOT_LOADED 3
#define ZEL_PICTURE_BUFFER_TOO_SMALL 4

/**
 * Decodes a picture file exactly as setImage loads it (same path rule, same checks), before
 * it is fitted to a screen:
 * PNG through the library's own decoder, other formats (BMP, JPEG, first GIF frame)
 * through the platform's picture loader. On ZEL_PICTURE_OK and ZEL_PICTURE_BUFFER_TOO_SMALL,
 * *width and *height receive the picture's size. With pixels NULL only the size is
 * returned (ZEL_PICTURE_OK); otherwise width * height * 4 bytes are written to pixels:
 * rows top first, no padding, each pixel blue, green, red, alpha. Alpha is the PNG's own
 * (the library's decoder gives 1-bit greyscale pixels alpha 0); pictures of other formats,
 * which carry none, get 255. The pad's screen never shows alpha. Each call decodes the file
 * anew. Thread-safe; the PNG decoder prints its diagnostics to standard output (see
 * SetPngDiagnostics).
 */
ZEL_API int32_t DecodePictureFile(const char* path, uint32_t* width, uint32_t* height,
                                  uint8_t* pixels, uint64_t capacity);

/* ---- Pads arriving and leaving --------------------------------------------------------------
 * The library watches HID pads of its vendor being plugged in and out and tells the host,
 * through a callback and/or a notification to a ZELWindow. Other vendors' devices never give
 * an event. While the simulator is on, the virtual pads give events too (attach, unplug,
 * replug, and a fault script's unplug at the exchange it hits).
 *
 * Events, in the order they happened:
 * - ZEL_DEVICE_ARRIVED: a pad appeared and can be opened (path names it for listDevices and
 *   Connect). Its identifier is read before the event goes out; ZEL_DEVICE_FLAG_UID_READ is
 *   set when that worked. On Linux a new device node is given up to 3 seconds to become
 *   usable (its permissions and sysfs entry follow its creation); one that does not is
 *   reported once, at the end of that time, with ZEL_DEVICE_FLAG_NOT_OPENABLE (typically: no
 *   permission; install the udev rule), and is not reported again when it later becomes
 *   usable.
 * - ZEL_DEVICE_REMOVED: a pad left (one that arrived while watching, or that was there
 *   when watching started). uid is the one its arrival read.
 * - ZEL_DEVICE_CONNECTED_PAD_LEFT: follows ZEL_DEVICE_REMOVED at once when the pad that left
 *   is the one the 28 exports are connected to over HID. The connection stays open (and
 *   failing) until the host ends it, as before.
 * Pads present when watching starts are not announced: call listDevices for those.
 *
 * Threading: all events are delivered on one thread the library owns (started with the first
 * registration, stopped when the last one is removed), one event at a time, to every
 * registration in the order they were made. The pen callbacks' thread is another one, so an
 * event and a pen sample may be in the host's code at the same time. Inside an event callback
 * the host may register and unregister (itself included) and call the exported functions,
 * but should return quickly: later events wait for it. UnregisterDeviceEvents called on another
 * thread waits until a call of that registration that is running has returned; called inside
 * an event callback it returns at once. After it returns the registration is not called
 * again. Registration functions are thread-safe.
 */
#define ZEL_DEVICE_ARRIVED 1u
#define ZEL_DEVICE_REMOVED 2u
#define ZEL_DEVICE_CONNECTED_PAD_LEFT 3u

#define ZEL_DEVICE_FLAG_UID_READ 0x1u     /* uid holds the pad's identifier */
#define ZEL_DEVICE_FLAG_NOT_OPENABLE 0x2u /* arrived, but this process cannot open it */

/** One event; the strings stay valid during the callback only. */
typedef struct ZELDeviceEvent {
    uint32_t kind;      /* ZEL_DEVICE_ARRIVED, _REMOVED or _CONNECTED_PAD_LEFT */
    uint32_t flags;     /* ZEL_DEVICE_FLAG_... */
    uint32_t vendorId;  /* USB vendor ID */
    uint32_t productId; /* USB product ID */
    uint32_t uid;       /* the pad's identifier with ZEL_DEVICE_FLAG_UID_READ, else 0 */
    const char* path;   /* the device path ("/dev/hidraw3", a Windows device interface path,
                           "virtual:hid0" for a virtual pad) */
} ZELDeviceEvent;

typedef void (*ZELDeviceEventCallback)(const ZELDeviceEvent* event, void* context);

/**
 * Registers a callback (with its context) for the events from now on. Returns the
 * registration's number (nonzero), or 0 when callback is NULL, 256 registrations exist or
 * the system cannot be watched (and the simulator cannot be either).
 */
ZEL_API uint32_t RegisterDeviceEventCallback(ZELDeviceEventCallback callback, void* context);

/**
 * Registers a window for the events from now on: each event posts `message` (chosen by the
 * host, so that it does not meet ZEL_PEN_MESSAGE or its own) to window as ZELWindow
 * describes, with wParam = kind | flags << 8 and lParam = productId << 32 | uid (on Windows
 * the 64-bit LPARAM of x64 hosts). The path does not travel: call listDevices. Returns the
 * registration's number, or 0 when window is 0 (NULL) or as above.
 */
ZEL_API uint32_t RegisterDeviceEventWindow(ZELWindow window, uint32_t message);

/** Ends a registration (see the threading rules above). False for an unknown number. */
ZEL_API bool UnregisterDeviceEvents(uint32_t registration);

/* ---- Simulator ----------------------------------------------------------------------------
 * Virtual pads inside this process, for hosts, demos and tests without hardware. While the
 * simulator is on, HID discovery (listDevices, Connect with comPort 0) finds the virtual
 * pads attached with SimulatorAttachPad instead of the system's, in the order they were
 * attached; they answer the whole command set and send the pen strokes the host queues.
 * A virtual pad can also be served on a pseudo-terminal, so that Connect reaches it through
 * a serial port (SimulatorServeSerial with SetComPortPath).
 *
 * Pads are named by the handle SimulatorAttachPad returns (1, 2, ...); handles are never
 * reused. All simulator functions are thread-safe; calls with a handle that names no pad
 * fail (false, 0).
 */

/** One point of a scripted pen stroke. */
typedef struct SimulatorPenPoint {
    uint32_t delayMs;  /* pad time since the previous point (or since queuing, for the first) */
    uint32_t x;        /* 0..65535 */
    uint32_t y;        /* 0..65535 */
    uint32_t pressure; /* 0..4095 */
    uint32_t switches; /* 0..7 */
    uint32_t ready;    /* 0 or 1 */
} SimulatorPenPoint;

/* What a fault does to the exchanges it matches (see SimulatorFault). */
#define ZEL_SIM_FAULT_REFUSE 1        /* the pad answers `code` and does nothing */
#define ZEL_SIM_FAULT_UNPLUG 2        /* the pad disappears, mid-operation */
#define ZEL_SIM_FAULT_CORRUPT_CRC 3   /* serial: the answer's CRC is damaged on the line */
#define ZEL_SIM_FAULT_PAD_CRC_ERROR 4 /* the pad claims the request arrived damaged (code 3) */
#define ZEL_SIM_FAULT_DROP 5          /* the request is lost: no effect, no answer */
#define ZEL_SIM_FAULT_DELAY 6         /* carried out, answered `delayMs` late */

/** A fault script entry. */
typedef struct SimulatorFault {
    uint32_t kind;    /* ZEL_SIM_FAULT_... */
    int32_t reportId; /* the feature report it applies to, or -1 for any */
    uint32_t onSet;   /* nonzero: applies to SET requests */
    uint32_t onGet;   /* nonzero: applies to GET requests */
    uint32_t skip;    /* matching exchanges let through first */
    uint32_t times;   /* matching exchanges it then applies to (0xFFFFFFFF: for ever) */
    uint32_t code;    /* REFUSE: the pad's result code (1..255) */
    uint32_t delayMs; /* DELAY: at most 60000 */
} SimulatorFault;

/**
 * Switches the simulator on (idempotent). Like plugging hardware in, it leaves the host's
 * connection alone: a pad connected before stays connected until the host ends it
 * (Disconnect, Connect, listDevices); from then on discovery finds the virtual pads.
 */
ZEL_API bool SimulatorEnable(void);
/**
 * Switches the simulator off: removes every virtual pad as if it were unplugged (their serial
 * lines hang up) and gives discovery back to the system. Idempotent. Like unplugging
 * hardware, it leaves the host's connection alone: a connection to a virtual pad fails from
 * then on (isConnected is false) and is released by the host's next Connect or listDevices.
 * Safe on any thread, also while another thread connects.
 */
ZEL_API bool SimulatorDisable(void);
/**
 * Attaches a virtual pad of product ID 0xA1..0xA4 with identifier uid. Returns its handle, or
 * 0 when the simulator is off, the product ID is unknown or 64 pads are attached.
 */
ZEL_API int32_t SimulatorAttachPad(uint32_t productId, uint32_t uid);
/**
 * Queues a stroke behind what the pad already has queued; the pad sends the points as pen
 * reports when their time comes (as report 0x30 with the time count while it is enabled).
 * Refused as a whole when a value is out of range, count is 0 or above 65536, or more than
 * 1,048,576 points would be queued.
 */
ZEL_API bool SimulatorQueueStroke(int32_t pad, const SimulatorPenPoint* points, uint32_t count);
/** Points queued on the pad and not yet sent (0 for an unknown handle). */
ZEL_API uint32_t SimulatorQueuedPoints(int32_t pad);
/** Unplugs the pad: it leaves discovery, and an open connection to it fails from now on. */
ZEL_API bool SimulatorUnplugPad(int32_t pad);
/**
 * Plugs an unplugged pad back in (unplugged by SimulatorUnplugPad or by a fault), behind the
 * pads attached now; a pad served on a serial line comes back on that line. Its settings are kept;
 * what was in flight (queued pen points, a picture being received, the agreed key) is lost. Like a
 * real pad it comes back as a new device: a connection opened before the unplug stays dead
 * (isConnected false, no samples), and a new Connect finds the pad again.
 */
ZEL_API bool SimulatorReplugPad(int32_t pad);
/** Keeps the pad busy (status not ready: clears and images refused) until called with false. */
ZEL_API bool SimulatorSetBusy(int32_t pad, bool busy);
/**
 * Whether a colour pad's USB bulk interface can be opened (true when attached). Without it,
 * as on a host that lacks the interface's driver, a HID connection leaves the bulk pipe
 * closed and colour pictures go out as data reports, the route a serial link also takes.
 * Applies from the next connection.
 */
ZEL_API bool SimulatorSetBulkInterface(int32_t pad, bool available);
/** Adds a fault script entry (checked in the order added). */
ZEL_API bool SimulatorAddFault(int32_t pad, const SimulatorFault* fault);
/** Removes every fault script entry of the pad. */
ZEL_API bool SimulatorClearFaults(int32_t pad);
/**
 * Number of feature reports with this ID the pad received: SET requests when set is true
 * (the newest 4096 SET requests are kept), GET requests otherwise.
 */
ZEL_API uint32_t SimulatorReportCount(int32_t pad, uint8_t reportId, bool set);
/**
 * Copies the newest SET request with this ID the pad received (ID byte first) into buffer,
 * at most capacity bytes, and returns its full length; 0 when there is none.
 */
ZEL_API uint32_t SimulatorLastReport(int32_t pad, uint8_t reportId, uint8_t* buffer,
                                     uint32_t capacity);
/**
 * Serves the pad on a new pseudo-terminal as a serial pad and copies the path of the host's
 * end of the line (e.g. "/dev/pts/7") into path (size bytes with the NUL). Map it to a port
 * number with SetComPortPath, then Connect with that port. False when no pseudo-terminal can
 * be had (always on Windows), the pad is already served or the path does not fit (the pad is
 * then unplugged). A pad served on a line leaves HID discovery.
 */
ZEL_API bool SimulatorServeSerial(int32_t pad, char* path, uint32_t size);
/**
 * Writes the virtual pad's screen as it now looks (pictures, clears and ink) to pngPath as an
 * 8-bit RGB PNG file, replacing any file there (through a symbolic link, the file it names);
 * the path follows the rule under File names above.
 * The picture goes to a temporary file beside it, renamed into place once written whole, so a
 * failed write (a full disk) leaves what was there. A path that is not a regular file, such as
 * a device, is written to directly. False for an unknown handle, a NULL or empty path or a
 * picture that could not be written completely.
 */
ZEL_API bool SimulatorSaveScreen(int32_t pad, const char* pngPath);
/**
 * The library's clock in milliseconds since it was loaded, from the system's monotonic clock:
 * the clock that times its pauses and the 600 ms interval between screen operations. The
 * library measures with 64 bits; this is the low 32 bits of that count, which wrap after about
 * 49.7 days, so a host takes differences of two readings in unsigned 32-bit arithmetic.
 */
ZEL_API uint32_t SimulatorClockMs(void);

#ifdef __cplusplus
}
#endif

#endif /* ZELTABLET_ZELTABLETCORE_H */
