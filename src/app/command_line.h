#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tambrel {

// The window's command line: `tambrel [-h | --help | --version] [FILE]`. main() reads
// it twice: first as given, so that help and version are answered before Qt starts
// (they need no display; the manual page is made from --help at build time), then once
// QApplication has taken out Qt's own options (-platform, -style ...).
class CommandLine {
  public:
    enum class Request { Run, Help, Version, Usage };

    // `args` without the program's name. --help or --version anywhere before "--"
    // answers, whatever else is there.
    static CommandLine parse(std::span<const std::string_view> args);

    Request request() const { return request_; }
    // The clip to open at start (Run), if one was named.
    const std::optional<std::string>& file() const { return file_; }
    // What is wrong, one line without the program's name (Usage).
    const std::string& error() const { return error_; }

    static std::string_view help_text();
    static std::string version_text(std::string_view version);

  private:
    Request request_ = Request::Run;
    std::optional<std::string> file_;
    std::string error_;
};

}  // namespace tambrel
