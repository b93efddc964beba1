// The log file on Windows: opened in text mode, so the C runtime stores each "\n" as CR LF,
// and with _SH_DENYNO, so other programs may read or replace it at any time.
#include "platform/LogFile.h"

#include <share.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/windows/WideText.h"

namespace zel::platform {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void replaceLogFile(const char* name, const char* message) {
    const std::wstring wideName = windows::widen(name);
    if (wideName.empty()) return;
    std::unique_ptr<std::FILE, FileCloser> file(_wfsopen(wideName.c_str(), L"wt", _SH_DENYNO));
    if (!file) return;
    std::fwrite(message, 1, std::strlen(message), file.get());
}

}  // namespace zel::platform
