// tambrel-mci: a console for the media service. Each command (one per line of standard
// input, or each argument) is run and answered with one line: the return code, a tab,
// and the reply, or the error text after a failure. Blank lines are skipped.
// The exit status is 0 when every command succeeded, 1 otherwise.
//
// Paths in open commands use the blank-free form: blanks and bytes outside printable
// ASCII written as %XX. No video window is made (there is no parent window here).

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "core/handles.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"

namespace {

constexpr std::string_view kHelp = R"(Usage: tambrel-mci [COMMAND]...
A console for Tambrel's media service: the plain-text commands the window sends to
open a clip and step, seek and draw its frames, run without the window.

Each COMMAND argument, or else each line of standard input, is one command (blank
lines are skipped), run in order against the same service, so a clip opened by one
command stays open for the next. Each is answered with one line on standard output:
the return code, a tab, and the reply, or the error text when the code is not 0.
No video window is made.

Commands: open PATH alias A; close A; put A destination [at X Y W H]; where A source;
status A length|position|frame rate|capture rate|time; play A [window]; pause A;
stop A; step A [reverse]; seek A to N; update A hdc HDC. A path is one word: a blank
in it is written %20, a '%' as %25.

Options (only as the sole argument; commands never start with '-'):
  -h, --help     show this help and exit
      --version  show the version and exit

Exit status: 0 when every command succeeded, 1 otherwise.

Example, the sample clip's length in frames (run in /usr/share/tambrel/samples):
  tambrel-mci 'open pendulum.avi alias p' 'status p length'
)";

bool run(tambrel::media::CommandService& service, const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
    std::string command = line;
    if (!command.empty() && command.back() == '\r') command.pop_back();
    // Let playback timers of earlier commands run before this one is answered.
    QCoreApplication::processEvents();
    std::string reply;
    const int32_t rc = service.execute(command, reply);
    if (rc != 0) reply = std::string(tambrel::media::error_text(rc));
    std::printf("%d\t%s\n", rc, reply.c_str());
    std::fflush(stdout);
    return rc == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (argv[1] == std::string_view("--help") || argv[1] == std::string_view("-h"))) {
        std::fputs(kHelp.data(), stdout);
        return 0;
    }
    if (argc == 2 && argv[1] == std::string_view("--version")) {
        std::printf("tambrel-mci %s\n", TAMBREL_VERSION);
        return 0;
    }
    QCoreApplication app(argc, argv);
    tambrel::HandleTable handles;
    tambrel::media::CommandService service(handles);
    bool all_ok = true;
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) all_ok = run(service, argv[i]) && all_ok;
    } else {
        std::string line;
        while (std::getline(std::cin, line)) all_ok = run(service, line) && all_ok;
    }
    return all_ok ? 0 : 1;
}
