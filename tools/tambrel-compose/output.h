#pragma once
// Where and how the composite is written: the format by the output's extension, a check
// before the run that the output may be replaced, and an all-or-nothing write.
//
// Only a regular file (or a link to one) or a new name is ever replaced: a folder, a
// named pipe, a socket or a device named as the output stays what it was (run as root
// with "-o /dev/null", a rename over it would replace the system's /dev/null).

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

// Empty when `path` can be written as far as can be told before the run: a writable
// regular file, or a new name in a folder that exists and takes new files. Otherwise a
// one-line reason.
std::string output_problem(const std::string& path);

// True when `output` names the file `clip` names (through links or another spelling).
bool same_file(const std::string& output, const std::string& clip);

// Encodes `image` in memory, writes it to a new file in the folder of the file `path`
// names and renames that over it, so the file is either the whole new picture or
// untouched. A replaced file keeps its permission bits (and, when run as root, its
// owner and group); a new one gets the usual bits for new files. Empty on success,
// else a one-line reason with the system's own error text.
std::string write_image(const QImage& image, const std::string& path, const QByteArray& format);

// The same all-or-nothing write for bytes already made (the positions' CSV text).
std::string write_file(const QByteArray& bytes, const std::string& path);

}  // namespace tambrel::compose_cli
