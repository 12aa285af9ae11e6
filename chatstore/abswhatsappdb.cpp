#include "chatstore/abswhatsappdb.h"

#include <QDir>

AbsWhatsAppDb::AbsWhatsAppDb(const QString& databasePath, const QString& contactsPath, const QString& mediaFolder,
                             const QString& profileFolder)
    : m_databasePath(databasePath),
      m_contactsPath(contactsPath),
      m_mediaFolder(mediaFolder.isEmpty() ? QString() : QDir::cleanPath(QDir(mediaFolder).absolutePath())),
      m_profileFolder(profileFolder.isEmpty() ? QString() : QDir::cleanPath(QDir(profileFolder).absolutePath()))
{
}

AbsWhatsAppDb::~AbsWhatsAppDb() = default;
