// One output file written through a buffer under a temporary name beside its
// target: the target appears (or is replaced) only by commit(), after every
// write succeeded. Dropping it, or discard(), leaves the target untouched.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

class SavedOutputFile {
public:
    explicit SavedOutputFile(const QString& path);
    ~SavedOutputFile();
    SavedOutputFile(const SavedOutputFile&) = delete;
    SavedOutputFile& operator=(const SavedOutputFile&) = delete;

    // Opens the temporary file; throws AppError with its error text.
    void open();
    bool isOpen() const { return m_open; }
    void put(const QString& text) { putBytes(text.toUtf8()); }
    // Throws AppError when a flush of the buffer fails.
    void putBytes(const QByteArray& bytes);
    // Writes what is buffered and renames the file onto its target; throws
    // AppError when anything written failed.
    void commit();
    // Removes the temporary file.
    void discard();

private:
    void flush();

    QSaveFile m_file;
    QByteArray m_buffer;
    bool m_open = false;
};
