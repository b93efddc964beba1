// Where the PNG decoder's diagnostic lines go. They go to standard output unless a host
// routes them to its own callback or turns them off; the text of each line is the same
// whichever way it goes.
#pragma once

namespace zel::png {

enum class DiagnosticOutput { standardOutput, none, callback };

using DiagnosticCallback = void (*)(const char* line, void* context);

// Takes effect for the next line written, on every thread. The callback and its context are
// stored and replaced as one; a line already being handed over finishes with the old pair.
// The callback is ignored unless `output` is `callback`, where it must not be null.
void setDiagnosticOutput(DiagnosticOutput output, DiagnosticCallback callback, void* context);

// One diagnostic, printf-formatted.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void diagnostic(const char* format, ...);

// One diagnostic, given as finished text.
void diagnosticText(const char* text);

}  // namespace zel::png
