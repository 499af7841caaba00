#pragma once
// Where and how the composite is written: the format by the output's extension, a check
// before the run that the folder takes a file, and an all-or-nothing write.

#include <QByteArray>
#include <QImage>
#include <string>
#include <variant>

namespace tambrel::compose_cli {

// The image writer's format for `path`: its extension when a writer knows it, PNG
// when there is none; otherwise a one-line reason.
struct FormatError {
    std::string message;
};
std::variant<QByteArray, FormatError> output_format(const std::string& path);

// Empty when `path` can be written as far as can be told before the run (its folder
// exists and is writable, it is not a folder); otherwise a one-line reason.
std::string output_problem(const std::string& path);

// True when `output` names the file `clip` names (through links or another spelling).
bool same_file(const std::string& output, const std::string& clip);

// Writes `image` to a temporary file in `path`'s folder and renames it over `path`, so
// `path` is either the whole new picture or untouched. Empty on success, else a reason.
std::string write_image(const QImage& image, const std::string& path, const QByteArray& format);

}  // namespace tambrel::compose_cli
