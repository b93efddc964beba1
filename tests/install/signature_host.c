// A host built against the installed signature library: builds a short signature and reads
// back its CSV. Exit status 0 when the CSV holds the samples; each failure prints its reason.
#include <stdio.h>
#include <string.h>

#include <zeltablet/ZELSignature.h>

int main(void) {
    ZELSignature* signature = NULL;
    ZELSigBuffer csv = {NULL, 0};
    const PenSample pen = {100, 200, 300, 1, 0};
    if (ZELSig_Create(NULL, &signature) != ZELSIG_OK ||
        ZELSig_AddSample(signature, &pen, 2.5) != ZELSIG_OK ||
        ZELSig_Export(signature, ZELSIG_FORMAT_CSV, NULL, &csv) != ZELSIG_OK) {
        fprintf(stderr, "signature_host: %s\n", ZELSig_LastError());
        return 1;
    }
    const char* expected = "x,y,pressure,switches,time_count,time_ms\n100,200,300,1,0,2.500\n";
    int ok = csv.size == strlen(expected) && memcmp(csv.data, expected, csv.size) == 0;
    printf("signature_host: %.*s", (int)csv.size, (const char*)csv.data);
    ZELSig_FreeBuffer(&csv);
    ZELSig_Destroy(signature);
    return ok ? 0 : 1;
}
