#pragma once
// The window's log: what the media service and the decoding library have to say about a
// clip (a damaged frame, a refused file), kept in a file beside the user's other
// application data instead of on a terminal nobody reads. Bounded: a session writes at
// most a few thousand lines, and a log grown past a megabyte starts afresh.

#include <QString>

namespace tambrel::app_log {

// Sends libav's messages and the program's own warnings to the log file (by default
// <user data>/Tambrel/tambrel.log; TAMBREL_LOG names another file). Call once, after the
// application object exists.
void install();

// The log file in use; empty before install().
QString path();

}  // namespace tambrel::app_log
