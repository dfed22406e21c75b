// What the command-line tool needs from its console: writing UTF-8 text to
// standard output and standard error (through the console's own wide-text
// calls on Windows), whether a stream is a terminal, and the Ctrl+C that
// ends a live reading.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pesolink::cli {

enum class Stream { Out, Err };

void Write(Stream stream, std::string_view utf8);
bool IsTerminal(Stream stream);

// Ctrl+C (SIGINT and SIGTERM natively, the console control handler on
// Windows) no longer ends the process but is kept for WaitForStop. Called
// before the driver starts any thread, so that every thread of the process
// leaves the signal to the one that waits for it.
void CatchStop();
// Sleeps up to the given milliseconds; true as soon as Ctrl+C came (also
// when it came while the caller was busy).
bool WaitForStop(uint32_t milliseconds);

}  // namespace pesolink::cli
