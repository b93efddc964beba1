// A host built against the installed package: connects to a virtual pad and reads its model
// string. Exit status 0 when the string is the virtual pad's; each failure prints its reason.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zeltablet/ZELTabletCore.h>

int main(void) {
    if (!SimulatorEnable() || SimulatorAttachPad(0xA1, 0x1257A11u) == 0) {
        fputs("model_host: no virtual pad\n", stderr);
        return 1;
    }
    if (!ConnectByUid(0, 0, 1, 0x1257A11u)) {
        fputs("model_host: Connect failed\n", stderr);
        return 1;
    }
    char* model = GetModelNumber();
    int ok = model != NULL && strcmp(model, "ZS-100") == 0;
    printf("model_host: model %s\n", model ? model : "(none)");
    free(model);
    ok = ok && Disconnect() == 0 && SimulatorDisable();
    return ok ? 0 : 1;
}
