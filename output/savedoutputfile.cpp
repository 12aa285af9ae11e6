#include "output/savedoutputfile.h"

#include "base/apperror.h"

namespace {
constexpr qsizetype kFlushBytes = 256 * 1024;
}

SavedOutputFile::SavedOutputFile(const QString& path) : m_file(path)
{
    // Never write into the target itself, not even where renaming fails.
    m_file.setDirectWriteFallback(false);
}

SavedOutputFile::~SavedOutputFile()
{
    discard();
}

void SavedOutputFile::open()
{
    if (!m_file.open(QIODevice::WriteOnly))
        throw AppError(m_file.errorString());
    m_open = true;
}

void SavedOutputFile::putBytes(const QByteArray& bytes)
{
    m_buffer += bytes;
    if (m_buffer.size() >= kFlushBytes)
        flush();
}

void SavedOutputFile::flush()
{
    if (m_buffer.isEmpty())
        return;
    const qint64 written = m_file.write(m_buffer);
    m_buffer.clear();
    if (written < 0)
        throw AppError(m_file.errorString());
}

void SavedOutputFile::commit()
{
    flush();
    m_open = false;
    if (!m_file.commit())
        throw AppError(m_file.errorString());
}

void SavedOutputFile::discard()
{
    if (m_open) {
        m_open = false;
        m_file.cancelWriting();
        m_file.commit();  // only removes the temporary file after a cancelled write
    }
    m_buffer.clear();
}
