// The two lines a started `phonesim serve` prints first: where libusbmuxd
// reaches the simulated phones and where its control channel listens.
#pragma once

#include <QProcess>
#include <QString>

// Reads them from the running simulator; false when they did not come
// within `ms` milliseconds of silence.
inline bool readPhonesimAddresses(QProcess& sim, QString* mux, QString* control, int ms = 30000)
{
    while ((mux->isEmpty() || control->isEmpty()) && sim.waitForReadyRead(ms)) {
        while (sim.canReadLine()) {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("USBMUXD_SOCKET_ADDRESS=")))
                *mux = line.section(QLatin1Char('='), 1);
            else if (line.startsWith(QLatin1String("PHONESIM_CONTROL=")))
                *control = line.section(QLatin1Char('='), 1);
        }
    }
    return !mux->isEmpty() && !control->isEmpty();
}
