#pragma once
// tambrel-compose run as a separate process (TAMBREL_COMPOSE_PATH names the binary).

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <string>

namespace tambrel::compose_cli::testing {

struct ToolRun {
    int exit_code = -1;  // -1: did not finish normally
    std::string out, err;
};

inline ToolRun run_tool(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(TAMBREL_COMPOSE_PATH), args);
    ToolRun result;
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exit_code = process.exitCode();
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

// Files in `dir` (to see that a failed run left nothing, not even a temporary file).
inline QStringList files_in(const QDir& dir) {
    return dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace tambrel::compose_cli::testing
