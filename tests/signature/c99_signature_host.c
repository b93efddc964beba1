/* A host written in C99 against the signature header: builds a signature from pen samples,
   reads what it holds, checks its plausibility, writes its samples as CSV and as an ISO record
   and reads them back, and draws a PNG.
   Exit status 0 on success; each failure prints its reason. */
#include <stdio.h>
#include <string.h>

#include "zeltablet/ZELSignature.h"

static int failed(const char* condition, int line) {
    fprintf(stderr, "c99_signature_host: failed: %s (line %d): %s\n", condition, line,
            ZELSig_LastError());
    return 1;
}
#define CHECK(condition) \
    if (!(condition)) return failed(#condition, __LINE__)

int main(void) {
    ZELSigPad pad;
    ZELSignature* signature = NULL;
    ZELSignature* copy = NULL;
    ZELSigInfo info;
    ZELSigBuffer csv = {NULL, 0}, iso = {NULL, 0}, png = {NULL, 0};
    ZELSigRenderOptions options;
    ZELSigSample last;
    int verdict = -1;
    unsigned i;

    memset(&pad, 0, sizeof pad);
    strcpy(pad.model, "C99");
    pad.capabilities.valid = 1;
    pad.capabilities.capability1 = 6399;
    pad.capabilities.capability2 = 4799;
    pad.capabilities.capability3 = 1024;
    pad.capabilities.screenWidth = 640;
    pad.capabilities.screenHeight = 480;
    pad.activeWidthUm = 160000;
    pad.activeHeightUm = 120000;

    CHECK(ZELSig_Create(&pad, &signature) == ZELSIG_OK);
    CHECK(ZELSig_CheckPlausibility(signature, &verdict) == ZELSIG_OK && verdict == ZELSIG_NO_INK);
    for (i = 0; i < 50; ++i) {
        PenSample pen;
        pen.x = 1000 + 40 * i;
        pen.y = 2000 + (i % 10) * 30;
        pen.pressure = i == 49 ? 0 : 300 + i;
        pen.switches = pen.pressure > 0;
        pen.timeCount = i;
        CHECK(ZELSig_AddSample(signature, &pen, 7.5 * i) == ZELSIG_OK);
    }
    CHECK(ZELSig_GetInfo(signature, &info) == ZELSIG_OK);
    CHECK(info.sampleCount == 50 && info.inkedSampleCount == 49 && info.strokeCount == 1);
    CHECK(strcmp(info.pad.model, "C99") == 0 && info.inkWidthMm > 47.9 && info.inkWidthMm < 48.1);
    CHECK(ZELSig_CheckPlausibility(signature, &verdict) == ZELSIG_OK &&
          verdict == ZELSIG_PLAUSIBLE);

    CHECK(ZELSig_Export(signature, ZELSIG_FORMAT_CSV, NULL, &csv) == ZELSIG_OK && csv.size > 0);
    CHECK(ZELSig_Import(csv.data, csv.size, ZELSIG_FORMAT_CSV, &pad, &copy) == ZELSIG_OK);
    ZELSig_FreeBuffer(&csv);
    CHECK(csv.data == NULL);
    CHECK(ZELSig_GetSamples(copy, 49, 1, &last) == ZELSIG_OK);
    CHECK(last.pen.x == 1000 + 40 * 49 && last.pen.timeCount == 49 && last.timeMs == 367.5);
    CHECK(ZELSig_GetSamples(copy, 50, 1, &last) == ZELSIG_ERROR_ARGUMENT);
    ZELSig_Destroy(copy);
    copy = NULL;

    /* The ISO record carries the pad's ranges: it reads back without a pad description. */
    CHECK(ZELSig_Export(signature, ZELSIG_FORMAT_ISO, NULL, &iso) == ZELSIG_OK && iso.size > 0);
    CHECK(ZELSig_Import(iso.data, iso.size, 0, NULL, &copy) == ZELSIG_OK);
    ZELSig_FreeBuffer(&iso);
    CHECK(ZELSig_GetSamples(copy, 48, 1, &last) == ZELSIG_OK);
    CHECK(last.pen.x == 1000 + 40 * 48 && last.pen.pressure == 300 + 48);
    ZELSig_DefaultRenderOptions(&options);
    options.scale = 0.5;
    CHECK(ZELSig_Export(copy, ZELSIG_FORMAT_PNG, &options, &png) == ZELSIG_OK);
    CHECK(png.size > 8 && memcmp(png.data, "\x89PNG", 4) == 0);
    ZELSig_FreeBuffer(&png);
    CHECK(strlen(ZELSig_LastError()) > 0);
    CHECK(strcmp(ZELSig_ResultText(ZELSIG_ERROR_FORMAT), "bad format") == 0);

    ZELSig_Destroy(copy);
    ZELSig_Destroy(signature);
    return 0;
}
