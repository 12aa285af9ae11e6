#include "output/savedfileexport.h"

SavedFileExport::SavedFileExport(const QString& path) : m_file(path) {}

void SavedFileExport::begin()
{
    m_file.open();
    putBytes(header());
}

void SavedFileExport::finish()
{
    putBytes(footer());
    m_file.commit();
}

void SavedFileExport::discard()
{
    m_file.discard();
}
