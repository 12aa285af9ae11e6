// File-name and text utilities shared by every writer of files: the two
// encoders that turn chat-supplied names into safe file names, the Unicode
// decomposition applied before one of them, unique output paths, removing a
// folder tree, and the MD5 text of a string.
#pragma once

#include <QString>

// Percent-encodes the UTF-8 bytes of `name` for a media file copied to disk.
// Letters, digits and " `~!@#$^&()-=_+[]{};',." stay; every other byte
// (the percent sign and non-ASCII included) becomes %XX, upper-case hex.
// A reserved device name (CON, PRN, AUX, CLOCK$, NUL, COM1-9, LPT1; any
// case) is encoded whole.
QString percentEncodedFileName(const QString& name);

// Escapes the characters file systems refuse (% \ / : * ? " < > | and line
// feed, carriage return, tab) as %xx, lower-case hex; everything else, non-
// ASCII letters included, stays. A reserved device name is encoded whole.
QString escapedFileName(const QString& name);

// Replaces each precomposed character of U+00C0..U+FB4E (Hangul syllables
// excepted) by its full canonical decomposition, without reordering; every
// other UTF-16 unit is copied.
QString decomposedText(const QString& text);

// `path` when nothing exists there (not even a dangling link); otherwise the
// first free "<name up to its first dot>(n).<text after its last dot>" in
// the same folder, n = 1, 2, ...
QString uniqueFilePath(const QString& path);

// Removes a folder with everything in it that is not hidden (names starting
// with "."), ignoring every failure. Symbolic links are removed as links and
// never followed, the folder itself included.
void removeFolderTree(const QString& path);

// Throws AppError when `path` itself is a symbolic link (a dangling one
// too). Every writer that puts a file into a folder the program did not
// create calls it first: QSaveFile and QFile::copy would otherwise write to
// wherever a link placed under that name points.
void refuseSymbolicLink(const QString& path);

// The 32 lower-case hex digits of the MD5 of the text's UTF-8 bytes.
QString md5HexLower(const QString& text);
