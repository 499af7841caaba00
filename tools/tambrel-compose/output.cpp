#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>

namespace tambrel::compose_cli {

namespace {

namespace fs = std::filesystem;

QString qpath(const std::string& path) { return QFile::decodeName(path.c_str()); }
std::string text(const QString& s) { return s.toStdString(); }

// The system's own text for an error number, with what it means for a picture written.
std::string system_error(int error) {
    const std::string own = std::error_code(error, std::generic_category()).message();
    if (error == ENOSPC) return "the disk is full (" + own + ")";
    if (error == EDQUOT) return "the disk quota is used up (" + own + ")";
    return own;
}

std::string kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

// The file the picture goes to: `path` itself, or the file a link leads to, and what
// is there now. `problem` is set when nothing may be written there.
struct Destination {
    std::string path;
    std::optional<struct stat> existing;
    std::string problem;
};

Destination destination_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT) return {path, std::nullopt, system_error(error)};
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0)
            return {path, std::nullopt, "it is a link to a file that does not exist"};
        return {path, std::nullopt, {}};  // a new name
    }
    if (!S_ISREG(st.st_mode))
        return {path, st,
                "it is " + kind_of(st.st_mode) + "; only a regular file or a new name is replaced"};
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) return {path, st, ec.message()};
    return {real.string(), st, {}};
}

// A new file in `folder` with a name of its own, opened for writing; -1 and errno set
// when none can be made.
int create_temporary(const std::string& folder, const std::string& name, std::string& made) {
    std::random_device seed;
    std::mt19937 rng(seed());
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(8, ' ');
        for (char& c : suffix) c = kLetters[rng() % (sizeof kLetters - 1)];
        made = folder + "/." + name + "." + suffix + ".part";
        // 0666 less the umask, as any new file; a replaced file's bits are set below.
        const int fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool write_all(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

}  // namespace

std::variant<QByteArray, FormatError> output_format(const std::string& path) {
    const QString suffix = QFileInfo(qpath(path)).suffix().toLower();
    if (suffix.isEmpty()) return QByteArray("png");
    QList<QByteArray> known = QImageWriter::supportedImageFormats();
    const QByteArray wanted = suffix.toUtf8();
    if (known.contains(wanted)) return wanted;
    std::sort(known.begin(), known.end());
    return FormatError{"no image writer for '." + text(suffix) +
                       "' files (known: " + text(QString::fromUtf8(known.join(", "))) + ")"};
}

std::string output_problem(const std::string& path) {
    const std::string cannot = "cannot write '" + path + "': ";
    const Destination d = destination_of(path);
    if (!d.problem.empty()) return cannot + d.problem;
    // Root may replace a read-only file (and its bits are kept); anyone else may not.
    if (d.existing && ::access(d.path.c_str(), W_OK) != 0) return cannot + system_error(errno);
    const QString folder = QFileInfo(qpath(d.path)).absolutePath();
    const QFileInfo folder_info(folder);
    if (!folder_info.exists() || !folder_info.isDir())
        return cannot + "there is no folder '" + text(folder) + "'";
    // The picture goes to a new file in the folder first, renamed over the output.
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return cannot + "the folder '" + text(folder) + "' is not writable";
    return {};
}

bool same_file(const std::string& output, const std::string& clip) {
    std::error_code ec;
    return std::filesystem::equivalent(output, clip, ec) && !ec;
}

std::string write_image(const QImage& image, const std::string& path, const QByteArray& format) {
    // Encoded in memory first, so a write that fails is told with the system's own
    // error rather than whatever text an image library makes of it.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (!writer.write(image))
            return "cannot write '" + path + "': " + text(writer.errorString());
    }
    return write_file(bytes, path);
}

std::string write_file(const QByteArray& bytes, const std::string& path) {
    const std::string cannot = "cannot write '" + path + "': ";
    const Destination d = destination_of(path);
    if (!d.problem.empty()) return cannot + d.problem;
    const fs::path target(d.path);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";

    std::string temporary;
    const int fd = create_temporary(folder, target.filename().string(), temporary);
    if (fd < 0) return cannot + system_error(errno);
    const auto give_up = [&](int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return cannot + system_error(error);
    };
    if (d.existing) {
        // The owner first: a change of owner clears set-id bits, which the mode then
        // restores. Only root may give a file away; filesystems without Unix owners or
        // permissions (FAT) refuse both, and the picture matters more than its bits.
        if (::geteuid() == 0 && ::fchown(fd, d.existing->st_uid, d.existing->st_gid) != 0) {
        }
        if (::fchmod(fd, d.existing->st_mode & 07777) != 0) {
        }
    }
    if (!write_all(fd, bytes) || ::fsync(fd) != 0) return give_up(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return cannot + system_error(error);
    }
    // What was a regular file may have become something else during the run.
    if (const Destination now = destination_of(path); !now.problem.empty()) {
        ::unlink(temporary.c_str());
        return cannot + now.problem;
    }
    if (::rename(temporary.c_str(), d.path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return cannot + system_error(error);
    }
    // The new name on disk too; the picture is in place whatever this answers.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return {};
}

}  // namespace tambrel::compose_cli
