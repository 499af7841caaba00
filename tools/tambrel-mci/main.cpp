// tambrel-mci: a console for the media service. Each command (one per line of standard
// input, or each argument) is run and answered with one line: the return code, a tab,
// and the reply, or the error text after a failure. Blank lines are skipped.
// The exit status is 0 when every command succeeded, 1 otherwise.
//
// A path in an open command is one word: typed as it is (Japanese and all), with
// blanks, '%' and control bytes written as %XX ("%20" for a blank). No video window is
// made (there is no parent window here).

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>

#include "core/handles.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"

namespace {

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
