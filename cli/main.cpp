// pesolink: reads and sets a scale from the command line through the
// driver object itself (no COM registration), with the driver's own
// Driver.ini and Log.txt. See docs/clients.md.
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/ResultText.h"
#include "cli/Session.h"
#include "cli/Usage.h"
#include "driver/platform/Platform.h"

namespace {

int Run(const std::vector<std::string>& args) {
    using namespace pesolink::cli;
    Invocation inv;
    try {
        inv = ParseArguments(args);
    } catch (const UsageError& e) {
        Write(Stream::Err, std::string("pesolink: ") + e.what() + "\nTry \"pesolink --help\".\n");
        return ExitUsage;
    }
    if (!inv.help.empty()) {
        Write(Stream::Out, inv.help);
        return 0;
    }
    return RunSession(inv);
}

}  // namespace

#ifdef _WIN32
// The arguments arrive as UTF-16, whatever the console's code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::u16string wide(reinterpret_cast<const char16_t*>(argv[i]));
        args.push_back(pesolink::platform::ToUtf8(wide));
    }
    return Run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return Run(args);
}
#endif
