#include "mobilebackup2service.h"

#include "connection.h"
#include "phone.h"

void MobileBackup2Service::run()
{
}
