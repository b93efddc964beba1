/*
 * ZELSignature — signatures as data a host keeps.
 *
 * A signature is built from the pen samples a host receives from ZELTabletCore (or read back
 * from a file written earlier), with the pad's description for the mapping from pen
 * coordinates to screen pixels and to physical size. From it the host gets:
 *   - pictures: PNG (transparent or on a background colour, cropped to the ink with a
 *     margin, at a scale) and SVG, both drawn from one stroke model (smoothed strokes whose
 *     width follows the pressure), so that they show the same ink;
 *   - sample data: CSV (one row per sample), the JSON of the signature_pad JavaScript
 *     library (what its fromData() takes) and the ISO/IEC 19794-7 full format, binary;
 *   - an evidence package: CMS (EnvelopedData, AES-256) for the certificates of whoever may
 *     open it later, holding a SHA-256 of the signed document, the ISO record, the PNG and
 *     the metadata, optionally signed by a host key (SignedData inside);
 *   - a plausibility check: no ink, a single dot, too short or too brief.
 *
 * This library is separate from ZELTabletCore: a host that only drives the pad does not
 * link it, and this library does not link the driver (it uses only the driver header's
 * PenSample and Capabilities types). The header compiles as C99 and as C++.
 *
 * Threading rules
 * ---------------
 * - Every function may be called from any thread. A ZELSignature carries its own lock:
 *   calls on one handle are serialised (so ZELSig_AddSample may be called from the pen
 *   callback on the driver's reader thread while another thread reads the signature's
 *   info); calls on different handles run in parallel.
 * - ZELSig_Destroy must not race with another call on the same handle.
 * - ZELSig_LastError is per thread: it describes the last failed call of the calling thread.
 *
 * Results and memory
 * ------------------
 * Functions return ZELSIG_OK (0) or a ZELSIG_ERROR_... code; nothing is thrown across this
 * interface. After a failure ZELSig_LastError() gives a one-line English explanation (for
 * example where a damaged file goes wrong). Buffers returned in a ZELSigBuffer belong to the
 * caller, who releases them with ZELSig_FreeBuffer. File names are a host's bytes, as in
 * ZELTabletCore (UTF-8 on Windows, else Latin-1).
 */
#ifndef ZELTABLET_ZELSIGNATURE_H
#define ZELTABLET_ZELSIGNATURE_H

#include <stddef.h>
#include <stdint.h>

#include "zeltablet/ZELTabletCore.h"

#if defined(_WIN32)
#if defined(ZELSIGNATURE_BUILDING)
#define ZELSIG_API __declspec(dllexport)
#else
#define ZELSIG_API __declspec(dllimport)
#endif
#else
#define ZELSIG_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Results ------------------------------------------------------------------------------ */

enum ZELSigResult {
    ZELSIG_OK = 0,
    ZELSIG_ERROR_ARGUMENT = 1,      /* a null handle or pointer, a value out of range */
    ZELSIG_ERROR_MEMORY = 2,        /* memory ran out */
    ZELSIG_ERROR_FILE = 3,          /* a file could not be read or written */
    ZELSIG_ERROR_FORMAT = 4,        /* input refused: not that format, damaged, over a limit */
    ZELSIG_ERROR_NOT_PLAUSIBLE = 5, /* refused to save: see ZELSig_CheckPlausibility */
    ZELSIG_ERROR_LIMIT = 6,         /* more samples than a signature may hold */
    ZELSIG_ERROR_CERTIFICATE = 7,   /* a certificate or key that cannot be read or used */
    ZELSIG_ERROR_NO_RECIPIENT = 8,  /* an evidence package needs at least one recipient */
    ZELSIG_ERROR_PACKAGE = 9,       /* a package that does not open: damaged, not a package,
                                       or not for this key */
    ZELSIG_ERROR_CRYPTO = 10        /* the crypto library failed for another reason */
};

/** A fixed English name for a result code ("ok", "bad argument", ...); never NULL. */
ZELSIG_API const char* ZELSig_ResultText(int result);

/** What the calling thread's last failed call went wrong on; "" when nothing failed yet. */
ZELSIG_API const char* ZELSig_LastError(void);

/* ---- The pad and the signature ------------------------------------------------------------ */

/**
 * The pad a signature was signed on. capabilities is what GetCapabilities returned:
 * capability1 and capability2 are the largest pen x and y, capability3 the number of pressure
 * levels, screenWidth and screenHeight the screen in pixels. Pen coordinate x (0..maxX) lands
 * on screen pixel x * screenWidth / (maxX + 1), as the pad maps ink onto its screen. With valid
 * 0, or values a pad does not report sensibly, the full 16-bit pen range, 4096 pressure levels
 * and a 640 x 480 screen are taken.
 *
 * activeWidthUm, activeHeightUm: the physical size of the pen's active area in micrometres,
 * when the host knows it (pads do not report it); 0 when unknown. Physical lengths then use
 * the screen at 96 pixels per inch, and the ISO record says so by leaving the X and Y scaling
 * out.
 */
typedef struct ZELSigPad {
    uint32_t productId;    /* USB product ID, 0 when unknown */
    uint32_t uid;          /* the pad's identifier, 0 when unknown */
    char model[32];        /* the pad's model string, NUL-terminated; "" when unknown */
    Capabilities capabilities;
    uint32_t activeWidthUm;
    uint32_t activeHeightUm;
} ZELSigPad;

/** One sample as the signature keeps it: the pen sample and when the host received it. */
typedef struct ZELSigSample {
    PenSample pen;
    double timeMs; /* milliseconds since the capture started, on the host's monotonic clock */
} ZELSigSample;

typedef struct ZELSignature ZELSignature;

/**
 * A new, empty signature of `pad` (NULL: an unknown pad). Its capture start is now (UTC);
 * ZELSig_SetCaptureStart changes it.
 */
ZELSIG_API int ZELSig_Create(const ZELSigPad* pad, ZELSignature** signature);
ZELSIG_API void ZELSig_Destroy(ZELSignature* signature);

/** Capture start, milliseconds since 1970-01-01 UTC. */
ZELSIG_API int ZELSig_SetCaptureStart(ZELSignature* signature, int64_t unixMs);
/** Whether the pen data came encrypted from the pad (recorded in the metadata). */
ZELSIG_API int ZELSig_SetEncrypted(ZELSignature* signature, int encrypted);

/**
 * Appends one sample with the time it was received (milliseconds since the capture started;
 * times that go backwards are taken as the previous sample's time). A sample with pressure
 * is pen contact; a sample without pressure lifts the pen and ends a stroke. At most
 * ZELSIG_MAX_SAMPLES samples: beyond, ZELSIG_ERROR_LIMIT.
 */
#define ZELSIG_MAX_SAMPLES 1048576u
ZELSIG_API int ZELSig_AddSample(ZELSignature* signature, const PenSample* sample, double timeMs);
/**
 * As ZELSig_AddSample, timed by this library's monotonic clock from the signature's first
 * sample: what a pen callback calls.
 */
ZELSIG_API int ZELSig_AddSampleNow(ZELSignature* signature, const PenSample* sample);

/** What a signature holds. */
typedef struct ZELSigInfo {
    ZELSigPad pad;
    int64_t captureStartUnixMs;
    uint32_t encrypted;
    uint32_t sampleCount;
    uint32_t inkedSampleCount;  /* samples with pressure */
    uint32_t strokeCount;       /* runs of samples with pressure */
    double durationMs;          /* first to last sample */
    double inkDurationMs;       /* first to last sample with pressure */
    double inkLengthMm;         /* length of all strokes (see ZELSigPad for the size) */
    double inkWidthMm;          /* the ink's bounding box */
    double inkHeightMm;
} ZELSigInfo;

ZELSIG_API int ZELSig_GetInfo(const ZELSignature* signature, ZELSigInfo* info);

/** Copies samples first .. first + count - 1; ZELSIG_ERROR_ARGUMENT past the end. */
ZELSIG_API int ZELSig_GetSamples(const ZELSignature* signature, uint32_t first, uint32_t count,
                                 ZELSigSample* samples);

/* ---- Plausibility ------------------------------------------------------------------------- */

enum ZELSigVerdict {
    ZELSIG_PLAUSIBLE = 0,
    ZELSIG_NO_INK = 1,     /* no sample with pressure */
    ZELSIG_SINGLE_DOT = 2, /* all ink within 1 mm of its first point */
    ZELSIG_TOO_SHORT = 3,  /* ink shorter than the minimum length */
    ZELSIG_TOO_BRIEF = 4   /* ink for less than the minimum duration */
};

/**
 * The minimums a signature must reach (default 0 and 0: only no ink and a single dot are
 * implausible).
 */
ZELSIG_API int ZELSig_SetMinimums(ZELSignature* signature, double minInkLengthMm,
                                  double minInkDurationMs);
/** The verdict (a ZELSIG_PLAUSIBLE or another ZELSigVerdict value) in *verdict. */
ZELSIG_API int ZELSig_CheckPlausibility(const ZELSignature* signature, int* verdict);

/* ---- Formats ------------------------------------------------------------------------------ */

enum ZELSigFormat {
    ZELSIG_FORMAT_PNG = 1,
    ZELSIG_FORMAT_SVG = 2,
    ZELSIG_FORMAT_CSV = 3,  /* header x,y,pressure,switches,time_count,time_ms; a row a sample */
    ZELSIG_FORMAT_JSON = 4, /* signature_pad's toData() shape */
    ZELSIG_FORMAT_ISO = 5   /* ISO/IEC 19794-7:2007 full format, binary */
};

/**
 * How pictures (and the JSON's pen options) are drawn. Coordinates are the pad's screen
 * pixels times `scale`.
 */
typedef struct ZELSigRenderOptions {
    double scale;              /* output pixels per screen pixel, 0.1 .. 16; default 1 */
    double margin;             /* output pixels of space around the ink; default 8 */
    double minWidth;           /* stroke width at the lightest pressure, in screen pixels; 0.5 */
    double maxWidth;           /* stroke width at full pressure, in screen pixels; 2.5 */
    uint32_t inkColour;        /* 0xRRGGBB; default 0x1A237E */
    uint32_t backgroundColour; /* 0xRRGGBB, used when transparent is 0 */
    uint32_t transparent;      /* 1 (default): a transparent PNG background, no SVG rectangle */
    uint32_t allowImplausible; /* 1: write a signature that fails the plausibility check */
} ZELSigRenderOptions;

/** Fills `options` with the defaults above. */
ZELSIG_API void ZELSig_DefaultRenderOptions(ZELSigRenderOptions* options);

/** Bytes this library allocated; release with ZELSig_FreeBuffer. */
typedef struct ZELSigBuffer {
    uint8_t* data;
    size_t size;
} ZELSigBuffer;
ZELSIG_API void ZELSig_FreeBuffer(ZELSigBuffer* buffer);

/**
 * The signature in `format` (options NULL: the defaults). PNG, SVG, JSON and ISO refuse an
 * implausible signature with ZELSIG_ERROR_NOT_PLAUSIBLE unless allowImplausible is set; CSV,
 * the raw capture, is always written.
 */
ZELSIG_API int ZELSig_Export(const ZELSignature* signature, int format,
                             const ZELSigRenderOptions* options, ZELSigBuffer* out);
/** As ZELSig_Export, into a file (written beside it and renamed, so never half written). */
ZELSIG_API int ZELSig_ExportFile(const ZELSignature* signature, int format,
                                 const ZELSigRenderOptions* options, const char* path);

/**
 * A signature read from CSV, JSON or ISO bytes (format 0: told by the content). `pad`
 * describes the pad for formats that do not carry it (CSV, JSON; NULL: an unknown pad); what
 * an ISO record carries (device range, scaling) takes precedence. Damaged input is refused
 * with ZELSIG_ERROR_FORMAT and ZELSig_LastError says where.
 */
ZELSIG_API int ZELSig_Import(const void* bytes, size_t size, int format, const ZELSigPad* pad,
                             ZELSignature** signature);
ZELSIG_API int ZELSig_ImportFile(const char* path, int format, const ZELSigPad* pad,
                                 ZELSignature** signature);

/* ---- Evidence package --------------------------------------------------------------------- */

/** One PEM or DER blob (a certificate or a private key). */
typedef struct ZELSigBlob {
    const void* data;
    size_t size;
} ZELSigBlob;

typedef struct ZELSigEvidenceOptions {
    const void* document; /* the bytes of the signed document (may be empty) */
    size_t documentSize;
    const char* documentName;       /* recorded in the metadata; may be NULL */
    const ZELSigBlob* recipients;   /* certificates of those who may open the package */
    size_t recipientCount;          /* at least 1 */
    ZELSigBlob signerCertificate;   /* optional (data NULL): sign the contents with this */
    ZELSigBlob signerKey;           /* the signer's private key, PEM or DER */
} ZELSigEvidenceOptions;

/**
 * An evidence package for `signature` (render: how its PNG is drawn, NULL: defaults).
 * Refused: no recipient, an unusable certificate or key, an implausible signature (unless
 * render->allowImplausible).
 */
ZELSIG_API int ZELSig_CreateEvidence(const ZELSignature* signature,
                                     const ZELSigEvidenceOptions* options,
                                     const ZELSigRenderOptions* render, ZELSigBuffer* package);

/** What opening a package found. */
typedef struct ZELSigEvidenceReport {
    uint32_t signed_;         /* 1: the contents carry a host signature */
    uint32_t signerValid;     /* 1: that signature verifies over the contents */
    uint32_t documentMatches; /* 1: the given document's SHA-256 is the recorded one */
    char documentSha256[65];  /* the recorded hash, lowercase hex */
    char documentName[256];   /* the recorded name, "" when none */
    char signerSubject[256];  /* the signer certificate's subject, "" when unsigned */
} ZELSigEvidenceReport;

/**
 * Opens a package with the recipient's private key (and, optionally, its certificate to pick
 * the recipient), checks the host signature when there is one, and compares the recorded
 * document hash with `document`. The host signature is checked over the contents with the
 * certificate the package carries; that certificate's chain is not checked: whether its
 * subject (signerSubject) is trusted is the caller's decision. Keys and certificates are PEM
 * or DER; an encrypted private key is refused (ZELSIG_ERROR_CERTIFICATE). Returns ZELSIG_OK when the package opened (the report then
 * says what matched), ZELSIG_ERROR_PACKAGE when it did not. On success, `signature` (may be
 * NULL) receives the signature read back from the ISO record with the metadata, and `png`
 * (may be NULL) the package's picture.
 */
ZELSIG_API int ZELSig_OpenEvidence(const void* package, size_t packageSize, ZELSigBlob key,
                                   ZELSigBlob certificate, const void* document,
                                   size_t documentSize, ZELSigEvidenceReport* report,
                                   ZELSignature** signature, ZELSigBuffer* png);

#ifdef __cplusplus
}
#endif

#endif /* ZELTABLET_ZELSIGNATURE_H */
