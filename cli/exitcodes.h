// Exit codes of quillometry-cli; the README lists them.
#pragma once

namespace exitcode {
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;     // the job or command failed; the error text is on stderr
inline constexpr int kUsage = 2;       // wrong arguments
inline constexpr int kCancelled = 3;   // the user cancelled (Ctrl-C or answered no)
inline constexpr int kPassword = 4;    // an encrypted backup without a password, or a wrong one
inline constexpr int kObsolete = 5;    // update-check: the vendor's server says this version is obsolete
inline constexpr int kInterrupted = 130;  // a second Ctrl-C ended the process at once
}  // namespace exitcode
